#include "platform/process.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/wildcard.h"
#include "platform/win_console.h"
#include "platform/win_path.h"

namespace {

int stderr_console = -1; // what platform_start found; -1 before it ran

// The arguments as the system keeps them, in UTF-16, as UTF-8: the C runtime's own
// vector has them in the ANSI code page, where a name outside it has become '?' marks
// (wildcards that match other names) or a look-alike ("＊" as '*', "∕" as '/').
std::vector<std::string> wide_arguments(int argc, char **argv)
{
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(win_utf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

} // namespace

void platform_start(int *argc, char ***argv, ArgumentWildcards wildcards)
{
    setvbuf(stderr, nullptr, _IONBF, 0);
    stderr_console = win_console_start() ? 1 : 0;
    static std::vector<std::string> texts;
    static std::vector<char *> pointers;
    texts = wide_arguments(*argc, *argv);
    if (wildcards == ArgumentWildcards::Expand) {
        std::vector<char *> given;
        for (std::string &text : texts)
            given.push_back(text.data());
        texts = platform_expand_arguments(static_cast<int>(given.size()), given.data());
    }
    pointers.clear();
    for (std::string &text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    *argc = static_cast<int>(texts.size());
    *argv = pointers.data();
}

bool platform_stderr_is_terminal()
{
    if (stderr_console >= 0)
        return stderr_console == 1;
    DWORD mode = 0;
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}
