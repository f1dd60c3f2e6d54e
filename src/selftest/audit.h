// "Audit PNP Activity": the Plug and Play Events subcategory of the audit
// policy, under which Windows logs event 6423 for each device install its
// policy refuses. Read through auditpol's backup, set through auditpol /set.
#pragma once

#include "selftest/quillfen.h"

// Its setting: 0 none, 1 success, 2 failure, 3 both; -1 when it cannot be
// read. The backup goes to a file beside the tested copy, deleted after.
int audit_pnp_read(const Tested& t);
// 1 when auditpol set it.
int audit_pnp_set(int setting);
