// The interactive mode: the main screen and the command menu in turn, so
// that the numbers typed always refer to the table just printed.
#include "app/interactive.h"

#include "app/exitcode.h"

#include "app/menu.h"
#include "app/screen.h"
#include "app/show.h"
#include "store/store.h"

int interactive(const Args& a) {
    int dropped;
    if (bl_prune(&dropped) == BL_FAILED) save_failed();
    banner(a);
    if (elevation_check()) return EXIT_OK;
    for (;;) {
        loop_head(a);
        if (a.scan_only) {
            closing_lines();
            return EXIT_OK;
        }
        if (!menu_step(a)) {
            closing_lines();
            return EXIT_OK;
        }
    }
}
