// The command menu: number lists, all, keyword change, the blacklist menu.
#pragma once

#include "app/args.h"

// One command of the main menu; 0 when the program is to end (q, the end of
// input).
int menu_step(const Args& a);
// Turns a number list into zero-based positions (at most cap). Returns the count.
int parse_selection(const char* line, int n_dev, int* sel, int cap);
