#include "platform/win_path.h"

#include <windows.h>

#include <vector>

#include "platform/unicode.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 units");

std::wstring win_wide(std::string_view utf8)
{
    const std::u16string units = unicode_utf16(utf8);
    return std::wstring(reinterpret_cast<const wchar_t *>(units.data()), units.size());
}

std::string win_utf8(std::wstring_view wide)
{
    return unicode_utf8(std::u16string_view(reinterpret_cast<const char16_t *>(wide.data()), wide.size()));
}

std::wstring win_path(const char *path)
{
    std::wstring wide = win_wide(path);
    if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0 || wide.empty())
        return wide;
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return wide; // the call that takes the path reports what is wrong with it
    std::vector<wchar_t> full(needed);
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed || length < WIN_PATH_LONG)
        return wide;
    const std::u16string extended =
        win_path_extended(std::u16string_view(reinterpret_cast<const char16_t *>(full.data()), length));
    return std::wstring(reinterpret_cast<const wchar_t *>(extended.data()), extended.size());
}
