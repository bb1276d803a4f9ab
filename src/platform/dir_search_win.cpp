// The directory search on Windows: FindFirstFileW, FindNextFileW and FindClose, with
// GetLastError telling the normal end (ERROR_NO_MORE_FILES) from a failure. Names come
// back in UTF-16 and are kept as UTF-8, whatever the system's code page.
#include "platform/dir_search.h"

#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/wildcard.h"
#include "platform/win_error.h"
#include "platform/win_path.h"

namespace {

// The search pattern of the system: the directory as written, then the file part.
std::string find_pattern(const std::string &directory, const std::string &file_part)
{
    if (directory == ".")
        return file_part;
    char last = directory.back();
    bool ends_in_place = last == '\\' || last == '/' || last == ':';
    return directory + (ends_in_place ? "" : "\\") + file_part;
}

// The system also matches a name by its short 8.3 alias ("*.ts" finds "A~1.TS" for
// "a.tsx"), and '*' takes a leading '.': only names that the pattern itself matches, by
// the rules every host shares, are kept.
bool keeps(const std::string &file_part, const std::string &name)
{
    if (name == "." || name == "..")
        return false;
    if (name[0] == '.' && file_part[0] != '.')
        return false;
    return platform_wildcard_match(file_part.c_str(), name.c_str());
}

} // namespace

bool dir_search_collect(DirSearch *search, const std::string &directory_path,
                        const std::string &file_part)
{
    if (file_part.empty())
        return true; // "dir\": a pattern that matches no name
    WIN32_FIND_DATAW item;
    HANDLE found = FindFirstFileW(win_path(find_pattern(directory_path, file_part).c_str()).c_str(), &item);
    if (found == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES)
            return true; // the directory was read and nothing matched
        errno = win_errno(error);
        return false;
    }
    do {
        std::string name = win_utf8(item.cFileName);
        if (keeps(file_part, name))
            search->names.push_back(std::move(name));
    } while (FindNextFileW(found, &item));
    DWORD error = GetLastError();
    FindClose(found);
    if (error != ERROR_NO_MORE_FILES) {
        errno = win_errno(error);
        return false;
    }
    return true;
}
