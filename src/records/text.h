#pragma once
// Small text routines for what the user sees.

// Skips a title's character-table prefix: 0x10 and two further bytes, or one byte below
// 0x10. A first byte from 0x11 to 0x1F is an unsupported table: the fixed text
// "Unsupported character encoding" is returned instead.
const char *text_skip_charset(const char *text);

// Copies `source` up to its NUL into `destination` (room for strlen(source) + 1 bytes),
// replacing bytes 0x01-0x1F by '.'.
void text_printable(const char *source, char *destination);

// Prints `text` on standard output word-wrapped to 79 columns; the last line gets no
// newline. A word longer than a line is printed whole on a line of its own.
void print_wrapped(const char *text);

// Prints 80 '=' and a newline on standard output.
void print_rule();
