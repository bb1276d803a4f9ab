#include "platform/process.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/wildcard.h"

void platform_start(int *argc, char ***argv, ArgumentWildcards wildcards)
{
    setvbuf(stderr, nullptr, _IONBF, 0);
    if (wildcards == ArgumentWildcards::Keep)
        return;
    static std::vector<std::string> texts;
    static std::vector<char *> pointers;
    texts = platform_expand_arguments(*argc, *argv);
    pointers.clear();
    for (std::string &text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    *argc = static_cast<int>(texts.size());
    *argv = pointers.data();
}

bool platform_stderr_is_terminal()
{
    DWORD mode = 0;
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}
