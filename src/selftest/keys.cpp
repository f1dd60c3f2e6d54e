// Reading, restoring and comparing the registry trees of a run.
#include "selftest/keys.h"

#include <initializer_list>

#include "base/text.h"
#include "block/registry.h"
#include "selftest/report.h"
#include "task/owner.h"

const char16_t* const TREE_ROOTS[2] = {RESTRICTIONS_KEY, PRODUCT_KEY};

namespace {

// The trees as they were before the run's first change: this file's own.
Tree g_saved;

Tree g_now;

int add_key(Tree* t, const char* key) {
    if (t->nkeys == TREE_KEYS || strlen(key) + 1 > sizeof t->keys[0]) return 0;
    scopy(t->keys[t->nkeys++], sizeof t->keys[0], key);
    return 1;
}

int add_value(Tree* t, const char* key, const char* name, sys_reg_type type, const char* data) {
    if (t->n == TREE_VALUES) return 0;
    TreeValue& v = t->v[t->n];
    if (strlen(key) + 1 > sizeof v.key || strlen(name) + 1 > sizeof v.name || strlen(data) + 1 > sizeof v.data)
        return 0;
    scopy(v.key, sizeof v.key, key);
    scopy(v.name, sizeof v.name, name);
    v.type = type;
    scopy(v.data, sizeof v.data, data);
    t->n++;
    return 1;
}

const TreeValue* find(const Tree& t, const char* key, const char* name) {
    for (int i = 0; i < t.n; i++)
        if (ieq_ascii(t.v[i].key, key) && ieq_ascii(t.v[i].name, name)) return &t.v[i];
    return nullptr;
}

int has_key(const Tree& t, const char* key) {
    for (int i = 0; i < t.nkeys; i++)
        if (ieq_ascii(t.keys[i], key)) return 1;
    return 0;
}

// One key's values into t.
tree_read read_values(const char16_t* key, const char* key8, Tree* t) {
    static char16_t name[256], text[1600];
    static char name8[256], data[3200];
    RegWalk w;
    reg_walk_open(&w, key, name, countof(name), text, countof(text));
    while (reg_walk_next(&w)) {
        // A name or text cut short would be restored as another one.
        if (utf8(name, name8, sizeof name8) + 4 >= sizeof name8) return TREE_TOO_BIG;
        uint32_t dw = 0;
        if (w.type == SYS_REG_SZ || w.type == SYS_REG_EXPAND_SZ) {
            // An empty text may be one that did not fit: asked for alone.
            if (!text[0] && sys_reg_text(key, name, text, countof(text)) != SYS_REG_OK) return TREE_FAILED;
            if (utf8(text, data, sizeof data) + 4 >= sizeof data) return TREE_TOO_BIG;
        } else if (w.type == SYS_REG_DWORD) {
            if (sys_reg_dword(key, name, &dw) != SYS_REG_OK) return TREE_FAILED;
            fmt(data, sizeof data, "%u", (unsigned)dw);
        } else {
            return TREE_ODD_VALUE;
        }
        if (!add_value(t, key8, name8, w.type, data)) return TREE_TOO_BIG;
    }
    return w.failed ? TREE_FAILED : TREE_OK;
}

// A tree, its keys depth first, into t (added to what it holds).
tree_read read_tree(const char16_t* root, Tree* t) {
    static char16_t stack[TREE_KEYS][256], sub[256];
    static char key8[256];
    uint64_t when;
    sys_reg r = sys_reg_key_time(root, &when);
    if (r == SYS_REG_MISSING) return TREE_OK;
    if (r != SYS_REG_OK) return TREE_FAILED;
    int top = 0;
    wcopy(stack[top++], countof(stack[0]), root);
    while (top > 0) {
        static char16_t key[256];
        wcopy(key, countof(key), stack[--top]);
        utf8(key, key8, sizeof key8);
        if (!add_key(t, key8)) return TREE_TOO_BIG;
        tree_read got = read_values(key, key8, t);
        if (got != TREE_OK) return got;
        for (uint32_t i = 0;; i++) {
            r = sys_reg_subkey_at(key, i, sub, countof(sub));
            if (r == SYS_REG_MISSING) break;
            if (r != SYS_REG_OK) return TREE_FAILED;
            if (top == TREE_KEYS || wlen(key) + wlen(sub) + 2 > countof(stack[0])) return TREE_TOO_BIG;
            wcopy(stack[top], countof(stack[0]), key);
            wcat8(stack[top], countof(stack[0]), "\\");
            wcat(stack[top], countof(stack[0]), sub);
            top++;
        }
    }
    return TREE_OK;
}

tree_read read_both(Tree* t) {
    t->n = t->nkeys = 0;
    for (const char16_t* root : TREE_ROOTS) {
        tree_read r = read_tree(root, t);
        if (r != TREE_OK) return r;
    }
    return TREE_OK;
}

}  // namespace

tree_read trees_save(void) { return read_both(&g_saved); }

const Tree& trees_saved(void) { return g_saved; }

void trees_forget(void) { g_saved.n = g_saved.nkeys = 0; }

int saved_value(const char* key, const char* name, sys_reg_type type, const char* data) {
    return add_value(&g_saved, key, name, type, data);
}

int saved_key(const char* key) { return add_key(&g_saved, key); }

const TreeValue* saved_find(const char* key, const char* name) { return find(g_saved, key, name); }

int trees_restore(void) {
    if (read_both(&g_now) != TREE_OK) return 0;
    static char16_t key[256], name[256], data[1600];
    int ok = 1;
    for (int i = 0; i < g_now.n; i++) {
        const TreeValue& v = g_now.v[i];
        if (find(g_saved, v.key, v.name)) continue;
        utf16(v.key, key, countof(key));
        utf16(v.name, name, countof(name));
        ok &= sys_reg_delete_value(key, name);
    }
    for (int i = 0; i < g_saved.n; i++) {
        const TreeValue& v = g_saved.v[i];
        const TreeValue* now = find(g_now, v.key, v.name);
        if (now && now->type == v.type && strcmp(now->data, v.data) == 0) continue;
        utf16(v.key, key, countof(key));
        utf16(v.name, name, countof(name));
        if (v.type == SYS_REG_DWORD) {
            ok &= sys_reg_set_dword(key, name, (uint32_t)parse_int(v.data, 0, 0xFFFFFFFF));
        } else {
            utf16(v.data, data, countof(data));
            ok &= sys_reg_set_text(key, name, data, v.type);
        }
    }
    // Children before their parents: a key with subkeys is not deleted.
    for (int i = g_now.nkeys - 1; i >= 0; i--) {
        if (has_key(g_saved, g_now.keys[i])) continue;
        utf16(g_now.keys[i], key, countof(key));
        ok &= sys_reg_delete_key(key);
    }
    return ok;
}

int trees_differ(void) {
    if (read_both(&g_now) != TREE_OK) return -1;
    int n = 0;
    for (int i = 0; i < g_now.n; i++) {
        const TreeValue& v = g_now.v[i];
        const TreeValue* was = find(g_saved, v.key, v.name);
        if (was && was->type == v.type && strcmp(was->data, v.data) == 0) continue;
        if (++n <= 5) say("%s\\%s is \"%s\", %s", v.key, v.name, v.data, was ? "not as it was" : "which was not there");
    }
    for (int i = 0; i < g_saved.n; i++) {
        const TreeValue& v = g_saved.v[i];
        if (find(g_now, v.key, v.name)) continue;
        if (++n <= 5) say("%s\\%s is gone", v.key, v.name);
    }
    for (int i = 0; i < g_now.nkeys; i++) {
        if (has_key(g_saved, g_now.keys[i])) continue;
        if (++n <= 5) say("the key %s was not there", g_now.keys[i]);
    }
    return n;
}

uint64_t tree_print(const char16_t* root) {
    g_now.n = g_now.nkeys = 0;
    if (read_tree(root, &g_now) != TREE_OK) return 0;
    uint64_t h = FNV_START;
    for (int i = 0; i < g_now.n; i++)
        for (const char* s : {g_now.v[i].key, g_now.v[i].name, g_now.v[i].data})
            for (const char* p = s;; p++) {
                h = fnv_step(h, (unsigned char)*p);
                if (!*p) break;
            }
    return h | 1;  // never 0, which says "cannot be read"
}
