// The permission list of the files we create, as the bytes of a
// self-relative security descriptor: the system and the administrators have
// full control, nobody else has any access, and nothing is inherited from
// the folder. Built here rather than in the seam so that it can be tested
// on any platform.
#pragma once

#include <cstddef>

#include "sys/sys.h"

// Writes the descriptor into out; returns its length, 0 when it does not fit.
size_t file_security(unsigned char* out, size_t size);

// Whom a security identifier (its bytes, at most `size`) names: the system,
// the administrators, the installer service, or anyone else.
sys_who sid_who(const unsigned char* sid, size_t size);
