#pragma once
// Whole drives of the host, named by number: "0:", "1:", ... on the command line. The
// naming and the arithmetic on what the system reports about a drive are plain functions,
// the same on every host (and tested on every host); the calls to the system are in
// disk_device_*.cpp.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A disk argument of one digit and a colon, nothing after it ("0:", "1:", ...), names a
// whole drive: stores its number and returns true. "0", "10:" and "0:x" are image paths.
bool raw_drive_number(const char *argument, unsigned *number);

// Drive N on Linux: /dev/sda, /dev/sdb, ... (N from 0 to 9).
std::string raw_drive_linux_path(unsigned number);

// Drive N on Windows: \\.\PhysicalDriveN.
std::string raw_drive_windows_path(unsigned number);

// Whether `path` names a Windows physical drive (\\.\PhysicalDriveN or
// \\?\PhysicalDriveN, the word in any case, '/' allowed for '\', N decimal without
// leading zeros, below 1000); stores N.
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

// One transfer of the system: reads up to `length` bytes at `position` into `data` and
// stores how many came in *got (0 at the end of a file). False (errno set) on an error.
using RawTransfer = bool (*)(void *context, uint64_t position, uint8_t *data, uint32_t length,
                             uint32_t *got);

// What a read must know of the disk it reads.
struct RawReadTarget {
    bool drive = false;           // a drive, whose length is known (else an image file)
    uint64_t size = UINT64_MAX;   // a drive's length; UINT64_MAX when unknown
    uint32_t piece = 16u << 20;   // the largest transfer (a multiple of every sector size)
};

// Reads `length` bytes at `position` through `transfer`, in pieces. An image may end
// early: what lies past its end reads as zero. A drive is asked only for what lies before
// its end (the rest reads as zero, as past the end of an image), so a transfer short of
// what was asked is a read that failed (EIO), never the end of the disk: a failing drive
// must not turn into zeros in a copy that looks complete. False (errno set) on failure.
bool raw_read(const RawReadTarget &target, RawTransfer transfer, void *context, uint64_t position,
              void *data, size_t length);

// A volume of the host, as Windows' volume search tells it.
struct HostVolume {
    std::string name;               // the system's name for it ("\\?\Volume{...}\")
    std::vector<unsigned> drives;   // the numbers of the drives it lies on, all or in part
    std::vector<std::string> paths; // where it is mounted ("E:\", "C:\Backup\"); may be none
    std::string label;              // "" when it has none
};

// The volumes of `volumes` that lie, all or in part, on drive `number`.
std::vector<HostVolume> raw_drive_volumes_on(unsigned number, const std::vector<HostVolume> &volumes);

// The message that refuses the drive at `path` because of `volumes` (those on it), naming
// each by where it is mounted (else by its name) and its label; "" when there are none. A
// recorder's disk holds no volume Windows recognises: a drive that holds one is another
// disk (a mistyped number), and nothing on it may be locked, dismounted or asked about.
std::string raw_drive_volume_refusal(const char *path, const std::vector<HostVolume> &volumes);
