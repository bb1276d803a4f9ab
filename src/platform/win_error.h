#pragma once
// Windows reports failures as its own error codes (GetLastError); the programs report
// them with the C library's texts, as on every host. The mapping is a plain function,
// tested on every host.
#include <cstdint>

// Windows error codes the programs meet (values as the system defines them).
enum WinErrorCode : uint32_t {
    WIN_INVALID_FUNCTION = 1,
    WIN_FILE_NOT_FOUND = 2,
    WIN_PATH_NOT_FOUND = 3,
    WIN_ACCESS_DENIED = 5,
    WIN_NOT_ENOUGH_MEMORY = 8,
    WIN_OUTOFMEMORY = 14,
    WIN_INVALID_DRIVE = 15,
    WIN_NO_MORE_FILES = 18,
    WIN_WRITE_PROTECT = 19,
    WIN_NOT_READY = 21,
    WIN_CRC = 23,
    WIN_SECTOR_NOT_FOUND = 27,
    WIN_WRITE_FAULT = 29,
    WIN_READ_FAULT = 30,
    WIN_SHARING_VIOLATION = 32,
    WIN_LOCK_VIOLATION = 33,
    WIN_HANDLE_EOF = 38,
    WIN_HANDLE_DISK_FULL = 39,
    WIN_NOT_SUPPORTED = 50,
    WIN_BAD_NETPATH = 53,
    WIN_DEV_NOT_EXIST = 55,
    WIN_FILE_EXISTS = 80,
    WIN_INVALID_PARAMETER = 87,
    WIN_DRIVE_LOCKED = 108,
    WIN_DISK_FULL = 112,
    WIN_INVALID_NAME = 123,
    WIN_BAD_PATHNAME = 161,
    WIN_BUSY = 170,
    WIN_ALREADY_EXISTS = 183,
    WIN_FILENAME_EXCED_RANGE = 206,
    WIN_FILE_TOO_LARGE = 223,
    WIN_DIRECTORY = 267,
    WIN_IO_DEVICE = 1117,
    WIN_PRIVILEGE_NOT_HELD = 1314,
};

// The errno value that says what `error` says: ENOENT for a missing file, path or drive,
// EACCES for denied access, EBUSY for a file or drive that another program holds (a
// sharing violation, a locked drive), EWOULDBLOCK for a lock that another process holds,
// EINVAL for a transfer the device refuses as misaligned, ENOSPC, EFBIG, EROFS, and EIO
// for the rest.
int win_errno(uint32_t error);
