// The blacklist menu and the --blist listing.
#pragma once

void bl_menu(void);

// What a line typed at the blacklist menu asks for. For BLC_LIFT, *index is
// the position (from 0) among the `shown` entries, or -1 when the number
// names none of them.
enum bl_command { BLC_NONE, BLC_LEAVE, BLC_CLEAR, BLC_LIFT, BLC_TASK, BLC_UNTASK };
bl_command bl_command_of(const char* line, int shown, int* index);
// --blist: the exit code.
int blist_mode(void);
