#include "platform/host_space.h"

#include <windows.h>

#include <cerrno>
#include <vector>

#include "platform/win_error.h"

bool host_free_space(const char *path, uint64_t *bytes)
{
    // Paths arrive in the ANSI code page, as every path of the programs does.
    int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (length <= 0) {
        errno = EINVAL;
        return false;
    }
    std::vector<wchar_t> wide(static_cast<size_t>(length));
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), length);
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(wide.data(), &available, nullptr, nullptr)) {
        errno = win_errno(GetLastError());
        return false;
    }
    *bytes = available.QuadPart;
    return true;
}
