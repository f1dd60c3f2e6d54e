// What a drawing shows of the install block, read once per drawing.
#include "block/view.h"

#include "base/text.h"
#include "block/registry.h"

namespace {

// What a drawing shows of each list: this copy's values in force, and the
// values it left standing. Static: some 1 MB.
constexpr int VIEW_MAX = BLOCK_MAX_IDS;
struct View {
    char16_t held[VIEW_MAX][INST_UNITS];
    int nheld;
    int count;
    int kept;
};
View g_view[BLOCK_LISTS];
// What a drawing reads of the registry: its own, apart from the steps'.
BlockRead g_read;
int g_viewed;  // g_view stands: nothing changed since it was read

void ensure_view(void) {
    if (!g_viewed) block_look();
}

}  // namespace

void block_look(void) {
    // A drawing that cannot have the lock reads without it: it changes nothing.
    MachineLock lock(BLOCK_AT_CONSOLE);
    for (int l = 0; l < BLOCK_LISTS; l++) {
        const RestrictList& L = LISTS[l];
        View& v = g_view[l];
        v.nheld = v.count = 0;
        read_records(g_read, L);
        read_list(g_read, L);
        read_kept(g_read, L, 0);
        v.kept = g_read.kept;
        // A value counts only while Windows honours the list.
        if (read_switch(L) != SW_ON) continue;
        for (int i = 0; i < g_read.nrec; i++) {
            const ListRecord& r = g_read.rec[i];
            if (!r.ours || held_by(g_read, L, r.name, r.id) != HOLDS) continue;
            v.count++;
            if (v.nheld < VIEW_MAX) wcopy_zero(v.held[v.nheld++], r.id, INST_UNITS);
        }
    }
    g_viewed = 1;
}

void block_view_stale(void) { g_viewed = 0; }

int block_holds(block_list list, const char16_t* id) {
    ensure_view();
    for (int i = 0; i < g_view[list].nheld; i++)
        if (wicmp(g_view[list].held[i], id) == 0) return 1;
    return 0;
}

int block_count(block_list list) {
    ensure_view();
    return g_view[list].count;
}

int block_kept(void) {
    ensure_view();
    return g_view[0].kept + g_view[1].kept;
}
