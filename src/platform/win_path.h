#pragma once
// Host paths on their way to Windows' wide calls. The programs hold paths as UTF-8; the
// system takes UTF-16, and a path of MAX_PATH characters or more only in its extended
// form ("\\?\C:\...", "\\?\UNC\server\share\..."), which the system takes as it is: no
// '/' for '\', no "." or "..", no relative form. The rule for that form is a plain
// function, the same on every host.
#include <string>
#include <string_view>

// The form of `full`, an absolute path as GetFullPathNameW gives it, that the wide calls
// take whatever its length: its extended form once it is WIN_PATH_LONG units or longer
// (what CreateDirectoryW still takes is shorter than what the other calls take), else
// `full` itself. A path already extended or naming a device ("\\?\", "\\.\") stays.
constexpr size_t WIN_PATH_LONG = 248;
std::u16string win_path_extended(std::u16string_view full);

#ifdef _WIN32
// The UTF-16 of a UTF-8 text, and back (platform/unicode.h: nothing is lost either way).
std::wstring win_wide(std::string_view utf8);
std::string win_utf8(std::wstring_view wide);

// The path the wide calls take for the UTF-8 `path` (relative or absolute, '/' or '\'):
// converted, and extended when its full path is long; a short one stays as written.
std::wstring win_path(const char *path);
#endif
