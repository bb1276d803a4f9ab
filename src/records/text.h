#pragma once
// Small text routines for what the user sees.
#include <cstdio>
#include <string>

// Skips a title's character-table prefix: 0x10 and two further bytes, or one byte below
// 0x10. A first byte from 0x11 to 0x1F is an unsupported table: the fixed text
// "Unsupported character encoding" is returned instead.
const char *text_skip_charset(const char *text);

// What a byte read from the disk is shown as: a byte a terminal would act on (0x01-0x1F,
// DEL 0x7F, and 0x80-0x9F, which some terminals take as control codes) becomes the
// visible placeholder '.'; every other byte (0xA0-0xFF of Latin-1 titles included) stays.
char text_shown_byte(char c);

// Copies `source` up to its NUL into `destination` (room for strlen(source) + 1 bytes),
// each byte as text_shown_byte shows it.
void text_printable(const char *source, char *destination);

// The same for text of any length: every piece of disk text (titles, channel names,
// programme information, file names inside messages) goes through one of these two on
// its way to the terminal.
std::string text_shown(const char *text);

// Writes `text` to `out` word-wrapped to 79 columns; the last line gets no newline. A
// word longer than a line is written whole on a line of its own. The text is written as
// given: callers pass it through text_shown first.
void print_wrapped(FILE *out, const char *text);

// Writes 80 '=' and a newline to `out`.
void print_rule(FILE *out);
