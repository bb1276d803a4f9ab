#include "common/shown_text.h"

namespace {
constexpr char TEXT_PLACEHOLDER = '.';
}

char text_shown_byte(char c)
{
    auto byte = static_cast<unsigned char>(c);
    bool acted_on = byte < 0x20 || (byte >= 0x7F && byte <= 0x9F);
    return acted_on ? TEXT_PLACEHOLDER : c;
}

std::string text_shown(const char *text)
{
    std::string shown(text);
    for (char &c : shown)
        c = text_shown_byte(c);
    return shown;
}
