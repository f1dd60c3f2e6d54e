// The blacklist menu and the --blist listing.
#pragma once

#include "app/args.h"
#include "rules/judge.h"
#include "rules/rules.h"
#include "store/store.h"

void bl_menu(const Args& a);

// What a line typed at the blacklist menu asks for. For BLC_LIFT, *index is
// the position (from 0) among the `shown` entries, or -1 when the number
// names none of them.
enum bl_command { BLC_NONE, BLC_LEAVE, BLC_CLEAR, BLC_LIFT, BLC_TASK, BLC_UNTASK };
bl_command bl_command_of(const char* line, int shown, int* index);
// --blist: the exit code.
int blist_mode(void);

// After `lifted` was taken off the list: the rule in force, of any source,
// that still keeps its device off (blocked 0 when none does), said on the
// screen unless quiet, and logged, so that nobody takes the device for free
// while the pass would still remove it.
Judged lift_still_reached(const RuleBook& b, const BlacklistEntry& lifted, int quiet);
// That rule as --blist --json writes it, with "how" it reaches the device;
// null when none does.
void still_reached_json(const RuleBook& b, const Judged& by);
// The line for lifts whose install block stays until the next pass.
void block_left_line(void);
