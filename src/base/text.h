// Text helpers shared by every part of the program. They are our own code so
// that the Windows and the Linux build convert, compare and format alike.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// Lets the compiler check the arguments of our printf-like functions.
#if defined(__GNUC__)
#define QF_PRINTF(fmt_at, args_at) __attribute__((format(printf, fmt_at, args_at)))
#else
#define QF_PRINTF(fmt_at, args_at)
#endif

// The number of elements of an array, from the array itself.
template <class T, size_t N>
constexpr size_t countof(const T (&)[N]) {
    return N;
}

// Room for the longest path we accept, in UTF-16 units with the terminator.
constexpr size_t PATH_UNITS = 1024;

// UTF-16 -> UTF-8 into out (size bytes). Always terminated; when the text does
// not fit, the longest prefix of whole characters is kept. An unpaired
// surrogate becomes U+FFFD. Returns the number of bytes written (no NUL).
size_t utf8(const char16_t* w, char* out, size_t size);
// UTF-8 -> UTF-16 into out (units). Always terminated; keeps the longest
// prefix of whole characters (never half a surrogate pair). Invalid bytes
// become U+FFFD. Returns the number of units written (no NUL).
size_t utf16(const char* s, char16_t* out, size_t units);
// Same, for a byte run of known length (no terminator needed).
size_t utf16n(const char* s, size_t n, char16_t* out, size_t units);
// Decodes one UTF-8 character from s (at most n bytes, n > 0); *used gets
// its length. Bytes that are not one character give U+FFFD and *used = 1.
uint32_t utf8_decode(const char* s, size_t n, int* used);
// Length of a complete UTF-8 prefix of s[0..n): drops a torn last character.
size_t utf8_whole(const char* s, size_t n);
// How many characters a UTF-8 text has (continuation bytes aside).
int utf8_chars(const char* s);

// Lower-cases A-Z in place, unit by unit (what towlower does with no locale).
void lowerw(char16_t* w);
// Lower-cases the bytes 'A'-'Z' in place; every other byte stays.
void lower_ascii(char* s);
// Replaces with one blank each character that could break a line, drive a
// terminal or reorder what follows it: C0 controls and DEL, C1 controls
// (U+0080-U+009F, and stray bytes 0x80-0x9F), the line and paragraph
// separators U+2028/U+2029, and the directional marks, embeddings,
// overrides and isolates (U+200E, U+200F, U+202A-U+202E, U+2066-U+2069).
// Works in place; the text can only get shorter.
void blank_controls(char* s);

size_t wlen(const char16_t* w);
// Substring search over UTF-16 units; an empty needle is always found.
int wcontains(const char16_t* hay, const char16_t* needle);
int wstarts(const char16_t* s, const char16_t* prefix);
// The same with A-Z taken as a-z.
int wistarts(const char16_t* s, const char16_t* prefix);
// Copies at most max units of src into dst, zero-fills dst[len..max).
// dst[max] is not written.
void wcopy_zero(char16_t* dst, const char16_t* src, size_t max);
// Copies src into dst (size units), cut at size-1 and terminated; returns
// the length copied.
size_t wcopy(char16_t* dst, size_t size, const char16_t* src);
// Compares two UTF-16 texts with A-Z taken as a-z; 0 when equal.
int wicmp(const char16_t* a, const char16_t* b);
// Bounded append to a UTF-16 buffer of cap units (always terminated).
void wcat(char16_t* dst, size_t cap, const char16_t* src);
void wcat8(char16_t* dst, size_t cap, const char* ascii);

// One step of 64-bit FNV-1a, from FNV_START: for fingerprints and quick
// compares, never for secrets.
constexpr uint64_t FNV_START = 14695981039346656037ULL;
inline uint64_t fnv_step(uint64_t h, uint32_t c) { return (h ^ c) * 1099511628211ULL; }
// The same over a text's bytes, or n bytes, from h.
uint64_t fnv_text(uint64_t h, const char* s);
uint64_t fnv_bytes(uint64_t h, const void* p, size_t n);
// Over a text with A-Z taken as a-z, as ieq_ascii and wicmp compare.
uint64_t fnv_folded(uint64_t h, const char* s);
uint64_t fnv_folded16(uint64_t h, const char16_t* s);

// Byte comparison with A-Z taken as a-z; 1 when equal.
int ieq_ascii(const char* a, const char* b);
// Bounded byte copy (cut at size-1 bytes, always terminated).
void scopy(char* dst, size_t size, const char* src);

// Reads a decimal number the way atoi/strtoll do (leading white space, an
// optional sign, digits up to the first other byte; no digits give 0), but
// clamps to [lo, hi] instead of overflowing, however many digits follow.
int64_t parse_int(const char* s, int64_t lo, int64_t hi);
// a + b, held at the ends of the 64-bit range instead of overflowing.
int64_t add_sat(int64_t a, int64_t b);

// A small printf of our own, bounded by size (always terminated, never cut
// inside a UTF-8 character). Conversions: %d %u %ld %lu %lld %llu %s %c %%,
// with the flags '-' and '0' and a field width. Widths count bytes. Output
// stops at any other conversion, and no argument is taken for it.
size_t fmt(char* out, size_t size, const char* f, ...) QF_PRINTF(3, 4);
size_t vfmt(char* out, size_t size, const char* f, va_list ap) QF_PRINTF(3, 0);
// Where one converted argument landed in the output (padding left out).
struct fmt_span {
    size_t at;
    size_t len;
};
// vfmt that also notes, in order, where each argument landed; *nspans is
// their number (at most max).
size_t vfmt_spans(char* out, size_t size, const char* f, va_list ap, fmt_span* spans, int max, int* nspans)
    QF_PRINTF(3, 0);

// Unbounded string calls are compile errors from here on.
#include "base/banned.h"
