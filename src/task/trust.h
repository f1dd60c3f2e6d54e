// Whether the scheduled task may be created: the task runs the executable
// as SYSTEM, so nobody but the system and the administrators may be able
// to replace it, or the blacklist it acts on.
#pragma once

#include <cstddef>

#include "sys/sys.h"

enum trust_role {
    TRUST_FILE,        // the executable or the blacklist
    TRUST_OWN_FOLDER,  // the executable's folder
    TRUST_ABOVE,       // a folder above it: creating entries there is fine
};

// 1 when only the system, the administrators and the installer service can
// change the object, going by its owner and its allow entries. For the
// executable's own folder that includes the entries that files created in
// it inherit, as a copied quillfen.exe or a new blacklist.tsv would; CREATOR
// OWNER there stands for the administrator who creates them.
int trust_safe(principal owner, const sys_ace* aces, int n, trust_role role);

// 1 when only the system, the administrators and the installer service can
// change the folder `dir`, what is created in it, the file `file` if there
// is one, or any folder above: a file there is then no easier to forge
// than a policy key, which only they can write either.
int trust_folder(const char16_t* dir, const char16_t* file);

enum trust_verdict {
    TRUST_OK,
    TRUST_UNSAFE,     // `where` names the first object others can change
    TRUST_PERCENT,    // the path holds '%', which the task would expand
    TRUST_TOO_LONG,   // `where` names the path: longer than the task can hold
    TRUST_NOT_LOCAL,  // `where` names the folder, or the path as loaded when
                      // there is no final local path: not on a fixed disk here
};

// The longest program path the task's definition can hold: its schema's
// pathType must be less than 260 characters.
constexpr size_t TASK_PATH_MAX = 259;

// Checks that the executable's path is no longer than TASK_PATH_MAX, that
// its final path is known and on a fixed disk of this machine, then the
// executable, its folder, every folder above it up to the root, then
// blacklist.tsv if it exists, in this order.
trust_verdict trust_check(char16_t* where, size_t units);
