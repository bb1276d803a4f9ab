#include "platform/dir_search.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/host_file.h"

namespace {

#ifdef _WIN32
constexpr PathStyle HOST_STYLE = PathStyle::Windows;
#else
constexpr PathStyle HOST_STYLE = PathStyle::Posix;
#endif

bool is_separator(char c, PathStyle style)
{
    return c == '/' || (style == PathStyle::Windows && c == '\\');
}

} // namespace

void dir_search_split(const char *pattern, PathStyle style, std::string *directory,
                      std::string *file_part)
{
    size_t cut = std::string::npos; // the last separator
    for (size_t i = 0; pattern[i] != '\0'; ++i) {
        if (is_separator(pattern[i], style))
            cut = i;
    }
    if (cut == std::string::npos) {
        bool drive = style == PathStyle::Windows && pattern[0] != '\0' && pattern[1] == ':';
        *directory = drive ? std::string(pattern, 2) : std::string(".");
        *file_part = pattern + (drive ? 2 : 0);
        return;
    }
    // "/x" and "C:\x" search the root itself, whose path keeps its separator.
    bool root = cut == 0 || (style == PathStyle::Windows && cut == 2 && pattern[1] == ':');
    *directory = std::string(pattern, root ? cut + 1 : cut);
    *file_part = pattern + cut + 1;
}

SearchStart dir_search_first(DirSearch *search, const char *pattern, const char **name)
{
    dir_search_close(search);
    std::string directory, file_part;
    dir_search_split(pattern, HOST_STYLE, &directory, &file_part);
    search->directory = host_directory_open(directory.c_str());
    if (search->directory < 0 || !dir_search_collect(search, directory, file_part)) {
        search->error = errno != 0 ? errno : EIO;
        return SearchStart::Failed;
    }
    std::sort(search->names.begin(), search->names.end());
    return dir_search_next(search, name) ? SearchStart::Found : SearchStart::NoMatch;
}

bool dir_search_next(DirSearch *search, const char **name)
{
    if (search->position >= search->names.size())
        return false;
    *name = search->names[search->position++].c_str();
    return true;
}

int dir_search_directory(const DirSearch *search)
{
    return search->directory;
}

void dir_search_close(DirSearch *search)
{
    host_directory_close(search->directory);
    search->directory = -1;
    search->names.clear();
    search->position = 0;
    search->error = 0;
}
