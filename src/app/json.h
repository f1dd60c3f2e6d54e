// JSON documents (RFC 8259) on standard output, for scripts: written as they
// are built, through a fixed buffer.
#pragma once

#include <cstddef>
#include <cstdint>

// A document on standard output: its object opened with "version": 1, the
// computer's name, the time (UTC) and the program's version, and closed
// with a line end after it.
void json_begin_document(void);
void json_end_document(void);
// Writing into a caller's buffer instead (size bytes, always terminated),
// which is how the tests read the writer.
void json_to_buffer(char* buf, size_t size);

// Objects and arrays nest; the writer puts the commas.
void json_open(void);            // {
void json_close(void);           // }
void json_open_array(void);      // [
void json_close_array(void);     // ]
void json_key(const char* key);  // "key": (ASCII)
// Values. A text goes out in pure ASCII: every character outside U+0020 to
// U+007E as \uXXXX (a surrogate pair above U+FFFF); bytes that are not
// valid UTF-8 become U+FFFD. A null text is null.
void json_text(const char* s);
void json_text16(const char16_t* s);
void json_int(int64_t v);
void json_bool(int v);
void json_null(void);

// "YYYY-MM-DDTHH:MM:SSZ" for seconds since 1970 UTC, into out (32 bytes);
// held at 0000-01-01T00:00:00Z and 9999-12-31T23:59:59Z.
void json_utc(int64_t t, char* out);
