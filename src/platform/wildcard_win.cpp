#include "platform/wildcard.h"

#include <windows.h>

#include <cstring>

bool platform_directory_names(const std::string &prefix, std::vector<std::string> *names)
{
    WIN32_FIND_DATAA item;
    HANDLE search = FindFirstFileA((prefix + "*").c_str(), &item);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND; // an empty drive root
    do {
        if (strcmp(item.cFileName, ".") != 0 && strcmp(item.cFileName, "..") != 0)
            names->emplace_back(item.cFileName);
    } while (FindNextFileA(search, &item));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    return complete;
}
