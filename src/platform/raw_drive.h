#pragma once
// Whole drives of the host, named by number: "0:", "1:", ... on the command line. The
// naming and the arithmetic on what the system reports about a drive are plain functions,
// the same on every host (and tested on every host); the calls to the system are in
// disk_device_*.cpp.
#include <cstddef>
#include <cstdint>
#include <string>

// A disk argument of one digit and a colon, nothing after it ("0:", "1:", ...), names a
// whole drive: stores its number and returns true. "0", "10:" and "0:x" are image paths.
bool raw_drive_number(const char *argument, unsigned *number);

// Drive N on Linux: /dev/sda, /dev/sdb, ... (N from 0 to 9).
std::string raw_drive_linux_path(unsigned number);

// Drive N on Windows: \\.\PhysicalDriveN.
std::string raw_drive_windows_path(unsigned number);

// Whether `path` names a Windows physical drive (\\.\PhysicalDriveN, the word in any
// case, '/' allowed for '\', N decimal without leading zeros, below 1000); stores N.
bool raw_drive_windows_number(const char *path, unsigned *number);

// The path of drive "N:" on this host (one of the two above). Returns true and stores the
// path when `argument` has that form and the path fits `size`; false otherwise.
bool platform_raw_drive_path(const char *argument, char *path, size_t size);

// What the system answered about a drive (Windows: IOCTL_DISK_GET_LENGTH_INFO and
// IOCTL_DISK_GET_DRIVE_GEOMETRY_EX); a field is used only when its question succeeded.
struct DriveReport {
    bool length_known = false;
    int64_t length = 0;           // bytes
    bool geometry_known = false;
    uint32_t bytes_per_sector = 0;
    int64_t geometry_size = 0;    // bytes, as the geometry gives them
};

// The drive's length in bytes: the length, else the geometry's size, else UINT64_MAX
// (unknown: nothing is then taken for the end of the disk). Negative values count as
// unknown.
uint64_t raw_drive_size(const DriveReport &report);

// The unit every transfer to the drive must be aligned to (position, length, buffer):
// the sector size when the geometry gives a power of two from 512 to 64 KiB, else 512.
uint32_t raw_drive_alignment(const DriveReport &report);
