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

std::string text_iso_time(uint32_t seconds)
{
    // The civil date of a day count (days from 1970-01-01), by whole eras of 400 years
    // (146097 days) counted from 0000-03-01, so that the leap day ends each year.
    int64_t days = seconds / 86400 + 719468;
    unsigned of_day = seconds % 86400;
    int64_t era = days / 146097;
    auto day_of_era = static_cast<unsigned>(days - era * 146097);
    unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    unsigned month_index = (5 * day_of_year + 2) / 153; // 0 is March
    unsigned day = day_of_year - (153 * month_index + 2) / 5 + 1;
    unsigned month = month_index < 10 ? month_index + 3 : month_index - 9;
    int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    char text[32];
    snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(year), month, day,
             of_day / 3600, of_day / 60 % 60, of_day % 60);
    return text;
}
