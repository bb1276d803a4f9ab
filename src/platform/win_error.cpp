#include "platform/win_error.h"

#include <cerrno>

int win_errno(uint32_t error)
{
    switch (error) {
    case WIN_FILE_NOT_FOUND:
    case WIN_PATH_NOT_FOUND:
    case WIN_INVALID_DRIVE:
    case WIN_BAD_NETPATH:
    case WIN_BAD_PATHNAME:
    case WIN_INVALID_NAME: return ENOENT;
    case WIN_DEV_NOT_EXIST:
    case WIN_NOT_READY: return ENXIO;
    case WIN_ACCESS_DENIED: return EACCES;
    case WIN_PRIVILEGE_NOT_HELD: return EPERM;
    case WIN_SHARING_VIOLATION:
    case WIN_DRIVE_LOCKED:
    case WIN_BUSY: return EBUSY;
    case WIN_LOCK_VIOLATION: return EWOULDBLOCK;
    case WIN_FILE_EXISTS:
    case WIN_ALREADY_EXISTS: return EEXIST;
    case WIN_NOT_ENOUGH_MEMORY:
    case WIN_OUTOFMEMORY: return ENOMEM;
    case WIN_INVALID_FUNCTION:
    case WIN_INVALID_PARAMETER: return EINVAL;
    case WIN_NOT_SUPPORTED: return ENOTSUP;
    case WIN_WRITE_PROTECT: return EROFS;
    case WIN_DISK_FULL:
    case WIN_HANDLE_DISK_FULL: return ENOSPC;
    case WIN_FILE_TOO_LARGE: return EFBIG;
    case WIN_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case WIN_DIRECTORY: return ENOTDIR;
    default: return EIO;
    }
}
