// Whether a run may change anything on this PC: the install restrictions
// hold nothing but what Quillfen wrote and no Group Policy, MDM or fleet
// policy of Quillfen manages them, and the tested copy is one only an
// administrator can change. Read only; g_saved must hold the trees.
#pragma once

#include "selftest/quillfen.h"

// 1 when the run may go on; 0 when it is refused, each reason said.
int preflight(const Tested& t);

// Whether the scheduled task runs the tested copy already: 1 it does, 0
// there is none (the run installs it), -1 it runs another copy or cannot
// be told (said). Asks schtasks, and reads TaskCommand from g_saved.
int task_before(const Tested& t);
