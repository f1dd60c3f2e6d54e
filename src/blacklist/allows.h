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

// How many allowed instance ids are read.
constexpr int ALLOWS_MAX = 128;

// The allowed instance ids, as written; read afresh by allows_load.
extern char g_allows[ALLOWS_MAX][601];
extern int g_nallows;

// Reads them: none unless AllowDenyLayered and AllowInstanceIDs, under
// Windows' own restrictions key, both hold DWORD 1.
void allows_load(void);
// 1 when an allow names this instance id (letter case aside).
int allows_hold(const char* inst);
// When the allows are not those said last (a fingerprint in our own key),
// logs each once under `ev`; 1 when it did.
int allows_say(log_event ev);
// Forgets what was said, with the task's other state.
int allows_forget(void);
