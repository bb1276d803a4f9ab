#include "platform/wildcard.h"

#include <windows.h>

#include <cstring>

#include "platform/win_path.h"

bool platform_directory_names(const std::string &prefix, std::vector<std::string> *names)
{
    // Wide: a name outside the code page comes back as itself, never as '?' marks that
    // would match other names or fail to open.
    WIN32_FIND_DATAW item;
    HANDLE search = FindFirstFileW(win_path((prefix + "*").c_str()).c_str(), &item);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND; // an empty drive root
    do {
        if (wcscmp(item.cFileName, L".") != 0 && wcscmp(item.cFileName, L"..") != 0)
            names->push_back(win_utf8(item.cFileName));
    } while (FindNextFileW(search, &item));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    return complete;
}
