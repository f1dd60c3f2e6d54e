// The two registry trees a run changes and puts back, the install
// restrictions and Quillfen's own key: read whole, written back, compared.
#pragma once

#include <cstdint>

#include "sys/sys.h"

// Each tree's root, under HKEY_LOCAL_MACHINE.
extern const char16_t* const TREE_ROOTS[2];

// One tree's values and keys, UTF-8. Room for Quillfen's records of a full
// policy's blocks, beside the values Windows reads.
constexpr int TREE_VALUES = 600, TREE_KEYS = 64;
struct TreeValue {
    char key[256];
    char name[256];
    sys_reg_type type;  // SZ, EXPAND_SZ or DWORD
    char data[3200];    // a DWORD in decimal
};
struct Tree {
    TreeValue v[TREE_VALUES];
    int n;
    char keys[TREE_KEYS][256];  // every key that stood, parents before children
    int nkeys;
};
// The trees as they were before the run's first change (g_saved below).
const Tree& trees_saved(void);
// Empties them, for a journal to fill value by value.
void trees_forget(void);

enum tree_read { TREE_OK, TREE_FAILED, TREE_TOO_BIG, TREE_ODD_VALUE };
// Both trees into g_saved, emptied first.
tree_read trees_save(void);
// One value or key of g_saved, as the journal gives it back. 0 when it
// does not fit.
int saved_value(const char* key, const char* name, sys_reg_type type, const char* data);
int saved_key(const char* key);
// The value of g_saved, nullptr when none (A-Z taken as a-z).
const TreeValue* saved_find(const char* key, const char* name);

// Both trees back as g_saved holds them: other values and keys go, its
// values are written. 1 when every change went through.
int trees_restore(void);
// How many ways both trees differ from g_saved, each said (the first few);
// -1 when they cannot be read. A key g_saved had empty and that is gone
// counts as none: Windows reads the two alike.
int trees_differ(void);
// A fingerprint of one tree as it stands; 0 when it cannot be read.
uint64_t tree_print(const char16_t* root);
