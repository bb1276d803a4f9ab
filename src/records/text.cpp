#include "records/text.h"

#include <cstdio>
#include <cstring>

namespace {
constexpr size_t WRAP_WIDTH = 79;
} // namespace

// The prefix is part of the fixed-length field, so the text is taken from behind it
// whatever the prefix bytes hold (a NUL among them included): callers pass whole fields
// (title buffers with their terminator), in which those bytes are always readable.
const char *text_skip_charset(const char *text)
{
    auto first = static_cast<unsigned char>(text[0]);
    if (first == 0x10)
        return text + 3;
    if (first >= 0x11 && first <= 0x1F)
        return "Unsupported character encoding";
    if (first < 0x10)
        return text + 1;
    return text;
}

void text_printable(const char *source, char *destination)
{
    for (; *source; ++source, ++destination)
        *destination = text_shown_byte(*source);
    *destination = '\0';
}

void print_wrapped(FILE *out, const char *text)
{
    while (strlen(text) >= WRAP_WIDTH) {
        // The last space among the first 80 characters ends the line.
        const char *space = nullptr;
        for (size_t i = 0; i <= WRAP_WIDTH; ++i) {
            if (text[i] == ' ')
                space = text + i;
        }
        if (space == nullptr) {
            // A word longer than a line: print it whole on a line of its own.
            space = strchr(text + WRAP_WIDTH, ' ');
            if (space == nullptr)
                break;
        }
        const char *line_end = space;
        while (line_end > text && line_end[-1] == ' ')
            --line_end;
        fwrite(text, 1, static_cast<size_t>(line_end - text), out);
        fputc('\n', out);
        text = space;
        while (*text == ' ')
            ++text;
    }
    fputs(text, out);
}

void print_rule(FILE *out)
{
    for (int i = 0; i < 80; ++i)
        fputc('=', out);
    fputc('\n', out);
}
