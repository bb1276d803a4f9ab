#include "platform/wildcard.h"

#include <algorithm>
#include <cstring>

#include "platform/unicode.h"

namespace {

// A character in the one case that Windows names compare in, for the alphabets of the
// names recordings get: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic.
char32_t fold(char32_t c)
{
    const bool latin = (c >= U'a' && c <= U'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7);
    const bool greek = c >= 0x3B1 && c <= 0x3CB && c != 0x3C2;
    if (latin || greek || (c >= 0x430 && c <= 0x44F))
        return c - 0x20;
    if (c == 0x3C2)
        return 0x3A3; // final sigma
    if (c == 0x3AC || c == 0x3CC)
        return c == 0x3AC ? 0x386 : 0x38C; // Greek vowels with an accent
    if ((c >= 0x3AD && c <= 0x3AF) || c == 0x3CD || c == 0x3CE)
        return c - (c <= 0x3AF ? 0x25 : 0x3F);
    if (c >= 0x450 && c <= 0x45F)
        return c - 0x50;
    // Pairs with the capital first (Cyrillic's as well), then Latin's odd ones out.
    const bool even_pairs = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177) ||
                            (c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF);
    const bool odd_pairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((even_pairs && c % 2 == 1) || (odd_pairs && c % 2 == 0))
        return c - 1;
    return c;
}

// The next character of `text`, folded, and where the one after it starts.
char32_t next_folded(const char *text, const char **after)
{
    size_t length = 0;
    const char32_t c = unicode_first(std::string_view(text, strnlen(text, 4)), &length);
    *after = text + length;
    return fold(c);
}

// Length of the directory part of `argument`, its last separator included.
size_t directory_part_length(const char *argument)
{
    size_t length = 0;
    for (size_t i = 0; argument[i] != '\0'; ++i) {
        if (argument[i] == '/' || argument[i] == '\\')
            length = i + 1;
    }
    if (length == 0 && argument[0] != '\0' && argument[1] == ':')
        length = 2; // "C:name", relative to drive C's current directory
    return length;
}

} // namespace

bool platform_has_wildcard(const char *argument)
{
    return strpbrk(argument, "*?") != nullptr;
}

bool platform_wildcard_match(const char *pattern, const char *name)
{
    // Greedy matching with one backtracking point: the last '*' seen takes one more
    // character each time the rest fails, so the cost stays at length x length. A
    // character is a whole UTF-8 sequence: '?' takes "Ф" as it takes "F".
    const char *star = nullptr;
    const char *star_name = nullptr;
    while (*name != '\0') {
        const char *name_after = nullptr, *pattern_after = nullptr;
        const char32_t n = next_folded(name, &name_after);
        if (*pattern == '*') {
            star = pattern++;
            star_name = name;
        } else if (*pattern != '\0' && (*pattern == '?' || next_folded(pattern, &pattern_after) == n)) {
            pattern = *pattern == '?' ? pattern + 1 : pattern_after;
            name = name_after;
        } else if (star != nullptr) {
            pattern = star + 1;
            next_folded(star_name, &star_name);
            name = star_name;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

std::vector<std::string> platform_expand_wildcard(const char *argument)
{
    std::vector<std::string> found;
    const size_t prefix_length = directory_part_length(argument);
    const char *pattern = argument + prefix_length;
    if (!platform_has_wildcard(pattern))
        return found;
    const std::string prefix(argument, prefix_length);
    std::vector<std::string> names;
    if (!platform_directory_names(prefix, &names))
        return found;
    for (const std::string &name : names) {
        if (name[0] == '.' && pattern[0] != '.')
            continue;
        if (platform_wildcard_match(pattern, name.c_str()))
            found.push_back(prefix + name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<std::string> platform_expand_arguments(int argc, char **argv)
{
    std::vector<std::string> expanded;
    for (int i = 0; i < argc; ++i) {
        std::vector<std::string> names;
        if (i > 0)
            names = platform_expand_wildcard(argv[i]);
        if (names.empty())
            expanded.emplace_back(argv[i]);
        else
            expanded.insert(expanded.end(), names.begin(), names.end());
    }
    return expanded;
}
