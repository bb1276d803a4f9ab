#pragma once
// Text fields of the recorder's disk (recording titles and channel names, programme
// titles and synopses) hold broadcast text as the recorder received it: an optional
// character-table prefix, then the text in the table it names. dvb_text_utf8 turns such
// a field into UTF-8, for output that promises UTF-8 (--json) and for names on the host.
// The listing and the information display keep showing the stored bytes instead
// (text_skip_charset, text_shown).
//
// The prefix, by the field's first byte:
//   0x20-0xFF    none: the default table, ISO/IEC 6937 (with the euro sign at 0xA4), in
//                which a diacritic 0xC1-0xCF modifies the letter after it ("\xC2" "e" is
//                U+00E9; a pair with no character of its own gives the letter and the
//                combining mark);
//   0x01-0x0B    one byte: ISO 8859-5 to -15 (0x01 part 5, ..., 0x0B part 15);
//   0x10 0x00 N  three bytes: ISO 8859-N, N from 1 to 15 but 12;
//   0x11         UCS-2, big-endian, two bytes a character;
//   0x15         UTF-8;
//   0x12-0x14, 0x16-0x1F: multi-byte tables this decoder does not know (Korean, Chinese,
//                and tables named by further bytes): not decoded;
//   anything else (0x00, 0x08, 0x0C-0x0F, 0x10 with a table not listed above, as reelhead's
//                0x10 0x69 0x37): a table we do not know, whose prefix the listing skips
//                too (one byte, or three after 0x10); the rest is read in the default
//                table.
// Broadcast controls: 0x86 and 0x87 (emphasis on and off; U+E086, U+E087 in UCS-2 and
// UTF-8) are dropped, 0x8A (U+E08A) is a line break and becomes "\n". Every other
// control byte (0x01-0x1F after the prefix, 0x80-0x9F) stays the control character of
// its value, for the caller to escape or replace. A byte the table leaves unassigned, a
// byte that is no valid UTF-8 in a UTF-8 field, and a lone or cut UCS-2 code unit each
// become U+FFFD. The text ends at its first zero byte (in UCS-2, its first zero code
// unit) or at the end of the field.
#include <cstddef>
#include <cstdint>
#include <string>

// Decodes the text field of `size` bytes at `field` into *utf8 (valid UTF-8, replacing
// what was there). Returns false, with *utf8 empty, when the field names a table that is
// not decoded.
bool dvb_text_utf8(const uint8_t *field, size_t size, std::string *utf8);
