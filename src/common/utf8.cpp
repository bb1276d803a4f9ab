#include "common/utf8.h"

size_t utf8_sequence_length(std::string_view text)
{
    auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    auto continues = [&](size_t i) { return (byte(i) & 0xC0) == 0x80; };
    if (text.empty())
        return 0;
    unsigned first = byte(0);
    if (first < 0x80)
        return 1;
    if (first >= 0xC2 && first <= 0xDF)
        return continues(1) ? 2 : 0;
    if (first >= 0xE0 && first <= 0xEF) {
        unsigned low = first == 0xE0 ? 0xA0 : 0x80;
        unsigned high = first == 0xED ? 0x9F : 0xBF;
        return byte(1) >= low && byte(1) <= high && continues(2) ? 3 : 0;
    }
    if (first >= 0xF0 && first <= 0xF4) {
        unsigned low = first == 0xF0 ? 0x90 : 0x80;
        unsigned high = first == 0xF4 ? 0x8F : 0xBF;
        return byte(1) >= low && byte(1) <= high && continues(2) && continues(3) ? 4 : 0;
    }
    return 0;
}

void utf8_append(std::string *out, char32_t code)
{
    if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        code = UTF8_REPLACEMENT;
    auto put = [&](unsigned value) { out->push_back(static_cast<char>(value)); };
    if (code < 0x80) {
        put(code);
    } else if (code < 0x800) {
        put(0xC0 | code >> 6);
        put(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        put(0xE0 | code >> 12);
        put(0x80 | (code >> 6 & 0x3F));
        put(0x80 | (code & 0x3F));
    } else {
        put(0xF0 | code >> 18);
        put(0x80 | (code >> 12 & 0x3F));
        put(0x80 | (code >> 6 & 0x3F));
        put(0x80 | (code & 0x3F));
    }
}
