#pragma once
// The programs keep every host path and message as UTF-8; Windows names files and writes
// to its console in UTF-16. These conversions sit at that edge, and are plain functions,
// the same (and tested) on every host.
//
// UTF-16 to UTF-8 loses nothing: a lone surrogate, which a Windows file name may hold,
// becomes the three bytes UTF-8 would give its value, and comes back as that surrogate.
// UTF-8 to UTF-16 never fails: a byte that starts no valid sequence stands for the Latin-1
// character of its value (text read from a recorder disk, whose titles are mostly Latin-1,
// is shown as it was meant), and a sequence cut off at the end of the text likewise.
#include <cstddef>
#include <string>
#include <string_view>

std::u16string unicode_utf16(std::string_view utf8);
std::string unicode_utf8(std::u16string_view utf16);

// The character that starts `text` (not empty) by the same rules, and the bytes it takes.
char32_t unicode_first(std::string_view text, size_t *length);

// Decoding of a byte stream that arrives in pieces (the console's output): a sequence
// split between two pieces is decoded whole.
struct UnicodeDecoder {
    unsigned char pending[4] = {};
    size_t count = 0; // bytes of an unfinished sequence held back from the last piece
};

// Appends to *out the UTF-16 of `bytes`, holding back an unfinished sequence at the end.
void unicode_decode_piece(UnicodeDecoder *decoder, std::string_view bytes, std::u16string *out);

// Appends what is held back (the bytes of a sequence the stream never finished).
void unicode_decode_end(UnicodeDecoder *decoder, std::u16string *out);
