// The administrator's own allows: with Windows' layered evaluation switched
// on ("Apply layered order of evaluation for Allow and Prevent device
// installation policies", AllowDenyLayered), an "Allow installation of
// devices that match any of these device instance IDs" value outranks a
// block by hardware id, and Windows installs that unit whatever model
// block Quillfen writes; a block by instance id, in the same layer, still
// wins. Quillfen judges such a unit the same way, so that the pass does not
// remove what the administrator's policy lets in. Read only; never written.
#pragma once

#include <cstdint>

#include "log/log.h"
#include "rules/book.h"

// The allowed instance ids, as written: the reader's own table, valid
// until its next read.
struct AdminAllows {
    const AdminAllow* t;
    int n;
};
// Reads them: none unless AllowDenyLayered and AllowInstanceIDs, under
// Windows' own restrictions key, both hold DWORD 1.
AdminAllows allows_load(void);
// When the book's allows are not those said last (a fingerprint in our
// own key), logs each once under `ev`; 1 when it did.
int allows_say(const RuleBook& b, log_event ev);
// Forgets what was said, with the task's other state.
int allows_forget(void);
