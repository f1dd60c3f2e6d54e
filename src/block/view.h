// What the screens and the documents show of the install block: this
// copy's values in force, and the values it left standing.
#pragma once

#include "block/ids.h"

// Reads the values, the records and the switch, once per drawing. The
// queries below read it themselves when nothing was read since the last
// change.
void block_look(void);
// A step of the block may have changed it: the next query reads it again.
void block_view_stale(void);
// 1 when this copy's record holds the id, the list still does, and the
// switch is on (DWORD 1): only then does Windows refuse the device.
int block_holds(block_list list, const char16_t* id);
// How many of this copy's recorded values the list still holds, while the
// switch is on.
int block_count(block_list list);
// How many values this copy left standing at their entries' end because
// they may be an administrator's (a policy refresh wrote the list since),
// in both lists.
int block_kept(void);
