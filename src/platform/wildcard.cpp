#include "platform/wildcard.h"

#include <algorithm>
#include <cstring>

namespace {

char fold(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
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
    // character each time the rest fails, so the cost stays at length x length.
    const char *star = nullptr;
    const char *star_name = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            star_name = name;
        } else if (*pattern != '\0' && (*pattern == '?' || fold(*pattern) == fold(*name))) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++star_name;
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
