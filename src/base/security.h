// The permission list of the files we create, as the bytes of a
// self-relative security descriptor: the administrators own them, the
// system and the administrators have full control, nobody else has any
// access, and nothing is inherited from the folder. Built here rather than
// in the seam so that it can be tested on any platform.
#pragma once

#include <cstddef>

// Whom an entry of a permission list, or an owner, names. CREATOR OWNER
// stands in an inheritable entry for whoever creates an object inside.
enum principal { PRINCIPAL_SYSTEM, PRINCIPAL_ADMINS, PRINCIPAL_INSTALLER, PRINCIPAL_OTHER, PRINCIPAL_CREATOR_OWNER };

// Writes the descriptor into out; returns its length, 0 when it does not fit.
// Without the owner (owner == 0) the creator's default owner applies: only
// a token that may name the administrators as owner can use the other one.
size_t file_security(unsigned char* out, size_t size, int owner);

// Whom a security identifier (its bytes, at most `size`) names: the system,
// the administrators, the installer service, CREATOR OWNER, or anyone else.
principal sid_principal(const unsigned char* sid, size_t size);
