#pragma once
// UTF-8 as the programs write it: validating what arrives, encoding what they make.
#include <cstddef>
#include <string>
#include <string_view>

// The length of the valid UTF-8 sequence that starts `text`, or 0 when the first byte
// starts none (also for an empty text). Overlong forms, surrogates (U+D800-U+DFFF) and
// values above U+10FFFF are not valid.
size_t utf8_sequence_length(std::string_view text);

// Appends the UTF-8 of `code`; a surrogate or a value above U+10FFFF appends U+FFFD.
void utf8_append(std::string *out, char32_t code);

// U+FFFD, the character that stands in for what cannot be decoded.
constexpr char32_t UTF8_REPLACEMENT = 0xFFFD;
