// The blacklist menu and the --blist listing.
#pragma once

void bl_menu(void);
// --blist: the exit code.
int blist_mode(void);
