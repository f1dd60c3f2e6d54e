// Which ids the rules in force want Windows to refuse, and which approved
// units it is to let in over their model's block: the install block's
// lists.
#pragma once

#include <cstddef>
#include <cstdint>

#include "block/ids.h"
#include "rules/book.h"

// Why a block that a rule wants is not written.
enum given_up_reason {
    GIVEN_UP_APPROVED,              // an approval of the same id outranks the block
    GIVEN_UP_FUNCTION_SPARED,       // a composite device of which another function is spared
    GIVEN_UP_LAYERING_NEVER,        // an approved unit of the model, and policy forbids the allow list
    GIVEN_UP_LAYERING_UNSUPPORTED,  // ... and this build or edition has no layered evaluation
    GIVEN_UP_ADMIN_PREVENTIONS,     // ... and an allow would outrank the administrator's prevention
    GIVEN_UP_ADMIN_ALLOWS,          // ... and layering would change the administrator's allows
    GIVEN_UP_LAYERING_OFF,          // ... and the administrator turned layering off
    GIVEN_UP_UNTOLD,                // ... and whether layering may be used cannot be read
};
struct GivenUp {
    char16_t id[INST_UNITS];
    block_list list;
    given_up_reason why;
};
constexpr int GIVEN_UP_MAX = BLOCK_MAX_IDS;
struct GivenUpList {
    GivenUp t[GIVEN_UP_MAX];
    int n;
};
// The reason a given up block of this id gives, or -1 when it is not given up.
int given_up_why(const GivenUpList& g, block_list list, const char* id);
// The reason as the screens and the log word it.
const char* given_up_text(given_up_reason why);

// Everything the rules of the book in force at `now` want of the lists,
// those coming included: the entries' instance ids (never a built-in
// device's) and by-name entries' models, the rules file's models whose
// check passed, and policy's instance ids and models; a USB function's
// model brings its composite device's id. An approval of the same id that
// outranks the block in the layered order (rules.h) keeps it out: policy
// above the PC, and within one source the higher layer; within one layer
// a block holds. An approved unit protects every hardware id it has and,
// never seen here, the device id its instance id starts with: where only
// such a unit spares a model and Windows' layered evaluation may be used,
// the model stays blocked and the unit goes into the allow list instead;
// elsewhere the model's block is given up. A composite device's id is
// given up while another of its functions is spared, by any approval (the
// administrator's allows among them). Each id once. Audit mode wants
// nothing. What is given up, and why, goes to *given_up when given.
void bl_wanted_all(const RuleBook& b, int64_t now, BlockWant* out, GivenUpList* given_up = nullptr);
// Whether an entry's or a policy block's instance id may be written: a
// built-in device's never is, nobody may lose the use of it.
int bl_may_block(const char* inst, const char* cls);
// 1 when this copy's block holds a model's id (with its composite device's,
// for a USB function's model).
int bl_id_model_blocked(const char* model);
// 1 when this copy's list l holds the id now, alone.
int bl_id_blocked_in(block_list l, const char* id);
// A USB function's model's composite device id, blocked with it, into out;
// null when the model is no function's.
const char* bl_model_parent(const char* model, char* out, size_t size);
