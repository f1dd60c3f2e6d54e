// How blacklist and device texts, and the blacklist's troubles, show on the
// screen.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rules/standing.h"
#include "store/store.h"

// Device text for the screen: UTF-8, with every character that could break
// a line or reshape the screen blanked.
void shown_text(const char16_t* w, char* out, size_t size);
// The same for UTF-8 text (an entry read from a file anyone with rights may
// have edited); returns buf.
const char* shown_text8(const char* s, char* buf, size_t size);

// The line every failed blacklist change prints.
void save_failed(void);
// The lines for a blacklist that cannot be read, holds more than 64 entries,
// or holds lines that are no entry (as the book read it).
void unreadable_line(void);
void overfull_line(void);
void bad_lines_line(const RuleBook& b);
// After a listing's count: the over-full and bad-lines lines the book's
// read calls for, if any, the models file's among them.
void read_trouble_lines(const RuleBook& b);
// What policy says of itself: a key read in part, bad values, the
// administrator's allows, the audit mode.
void policy_trouble_lines(const RuleBook& b);
// The line for a change that the store refused (FAILED, UNREADABLE,
// OVERFULL, BAD_LINES as the book read it).
void refused_line(const RuleBook& b, bl_status st);
// The line for a rules file that cannot be changed, and why.
void rules_trouble_line(const RuleBook& b);

// Why a hardware id cannot be a model rule, as the documents key it.
const char* model_refusal_key(model_refusal why);

// Whether a rule's install block stands, as a listing words it
// ("已禁止安装", or "未禁止安装：" and why), and as the documents key why it
// does not (null while it stands).
const char* standing_text(const Standing& s);
const char* standing_key(const Standing& s);


// Room for a remaining-time text.
constexpr size_t LEFT_BYTES = 64;
// Remaining time until `until` as text, into out (LEFT_BYTES).
void fmt_left(int64_t until, char* out);
// The same for a number of seconds left.
void fmt_left_secs(int64_t secs, char* out);
