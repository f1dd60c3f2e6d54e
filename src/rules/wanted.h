// Which ids the rules in force want Windows to refuse: the install block's
// two lists, instance ids and models.
#pragma once

#include <cstddef>
#include <cstdint>

#include "block/ids.h"
#include "rules/book.h"

// Everything the rules of the book in force at `now` want of both lists,
// those coming included: the entries' instance ids (never a built-in
// device's) and by-name entries' models, the rules file's models whose
// check passed, and policy's instance ids and models; a USB function's
// model brings its composite device's id. An id an approval protects is
// left out where the approval outranks the block in the layered order
// (rules.h): policy above the PC, and within one source the higher layer;
// within one layer a block holds. An approved unit protects every hardware
// id it has, its composite device's id and, never seen here, the device
// id its instance id starts with: Windows would refuse it too. Each id
// once. Audit mode wants nothing.
void bl_wanted_all(const RuleBook& b, int64_t now, BlockWant* out);
// 1 when this copy's block holds an instance id now.
int bl_id_blocked(const char* inst);
// 1 when this copy's block holds a model's id (with its composite device's,
// for a USB function's model).
int bl_id_model_blocked(const char* model);
// A USB function's model's composite device id, blocked with it, into out;
// null when the model is no function's.
const char* bl_model_parent(const char* model, char* out, size_t size);
