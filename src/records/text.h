#pragma once
// Small text routines for what the user sees.
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/shown_text.h"

// Skips a title's character-table prefix: 0x10 and two further bytes, or one byte below
// 0x10. A first byte from 0x11 to 0x1F is an unsupported table: the fixed text
// "Unsupported character encoding" is returned instead.
const char *text_skip_charset(const char *text);

// Copies `source` up to its NUL into `destination` (room for strlen(source) + 1 bytes),
// each byte as text_shown_byte shows it.
void text_printable(const char *source, char *destination);

// Writes `text` to `out` word-wrapped to 79 columns; the last line gets no newline. A
// word longer than a line is written whole on a line of its own. The text is written as
// given: callers pass it through text_shown first.
void print_wrapped(FILE *out, const char *text);

// Writes 80 '=' and a newline to `out`.
void print_rule(FILE *out);

// A time of the disk (seconds since 1970, unsigned, so that times from 2038 on work too)
// in ISO 8601 form, UTC: "2013-05-26T21:00:00Z".
std::string text_iso_time(uint32_t seconds);
