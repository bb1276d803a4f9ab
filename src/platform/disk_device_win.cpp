// The disk stream of an image file or a physical drive on Windows.
//
// Image files: positioned ReadFile/WriteFile (64-bit offsets in OVERLAPPED), bytes past
// the end read as zero. Physical drives (\\.\PhysicalDriveN): the system's cache is
// bypassed (FILE_FLAG_NO_BUFFERING, and write-through when writing), so every transfer
// must be whole sectors at an aligned position and buffer: the stream's alignment is the
// drive's sector size and the aligned wrapper (disk/disk_io.h) meets it for every caller.
// This backend refuses what is not aligned (EINVAL) before the system sees it, as a
// drive would, so that the same rule holds for images opened for direct I/O.
//
// One writer per disk: a lock taken with LockFileEx without waiting, shared for reading
// and exclusive for writing, released by the system when the process ends. An image is
// locked on a byte far beyond any data it will hold; a drive, whose device does not take
// byte-range locks, on a lock file of its own in the machine's program data. Windows
// mounts nothing on a recorder disk, but a volume it did mount on the drive is locked and
// dismounted before the drive is opened for writing, and a drive or file that another
// program holds is refused (EBUSY).
#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/disk_stream.h"
#include "platform/raw_drive.h"
#include "platform/win_error.h"

namespace {

static_assert(WIN_SHARING_VIOLATION == ERROR_SHARING_VIOLATION &&
                  WIN_LOCK_VIOLATION == ERROR_LOCK_VIOLATION && WIN_HANDLE_EOF == ERROR_HANDLE_EOF &&
                  WIN_ACCESS_DENIED == ERROR_ACCESS_DENIED && WIN_INVALID_PARAMETER == ERROR_INVALID_PARAMETER,
              "the error codes of win_error.h are the system's");

// Direct I/O on an image file: whole pages, a multiple of every volume's sector size.
constexpr uint32_t DIRECT_FILE_ALIGNMENT = 4096;
// The byte an image is locked on: far beyond the end of any disk, so that the lock,
// which Windows enforces on reads and writes of its range, never covers data.
constexpr uint64_t LOCK_OFFSET = uint64_t{1} << 62;
// ReadFile and WriteFile take 32-bit lengths: larger transfers go in pieces of this many
// bytes (a multiple of every sector size).
constexpr DWORD PIECE_BYTES = DWORD{16} << 20;

struct WinDisk {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool drive = false;
    unsigned drive_number = 0;
    uint64_t drive_size = UINT64_MAX;
    HANDLE lock_file = INVALID_HANDLE_VALUE; // a drive's lock file
    std::vector<HANDLE> volumes;             // locked and dismounted volumes of the drive
};

WinDisk *disk_of(const DiskStream *stream)
{
    return static_cast<WinDisk *>(stream->state);
}

bool fail_with_last_error()
{
    errno = win_errno(GetLastError());
    return false;
}

OVERLAPPED at_position(uint64_t position)
{
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(position);
    where.OffsetHigh = static_cast<DWORD>(position >> 32);
    return where;
}

bool aligned(const DiskStream *stream, uint64_t position, const void *data, size_t length)
{
    uint32_t unit = stream->alignment;
    return unit <= 1 || (position % unit == 0 && length % unit == 0 &&
                         reinterpret_cast<uintptr_t>(data) % unit == 0);
}

// One ReadFile at `position`; *got receives the bytes read (0 at the end of a file).
bool read_piece(HANDLE handle, uint64_t position, uint8_t *data, DWORD length, DWORD *got)
{
    OVERLAPPED where = at_position(position);
    *got = 0;
    if (ReadFile(handle, data, length, got, &where))
        return true;
    if (GetLastError() == ERROR_HANDLE_EOF) {
        *got = 0;
        return true;
    }
    return fail_with_last_error();
}

bool win_read_at(DiskStream *stream, uint64_t position, void *data, size_t length)
{
    if (!aligned(stream, position, data, length)) {
        errno = EINVAL;
        return false;
    }
    WinDisk *disk = disk_of(stream);
    auto *bytes = static_cast<uint8_t *>(data);
    // A drive ends where the system says: what lies beyond reads as zero, as past the end
    // of an image (the drive's size is a whole number of sectors, so this stays aligned).
    size_t wanted = length;
    if (disk->drive && disk->drive_size != UINT64_MAX)
        wanted = position >= disk->drive_size ? 0
                                              : static_cast<size_t>(std::min<uint64_t>(
                                                    length, disk->drive_size - position));
    size_t done = 0;
    while (done < wanted) {
        DWORD piece = static_cast<DWORD>(std::min<size_t>(wanted - done, PIECE_BYTES));
        DWORD got = 0;
        if (!read_piece(disk->handle, position + done, bytes + done, piece, &got))
            return false;
        done += got;
        if (got < piece)
            break; // the end of the image
    }
    memset(bytes + done, 0, length - done);
    return true;
}

bool win_write_at(DiskStream *stream, uint64_t position, const void *data, size_t length)
{
    if (!aligned(stream, position, data, length)) {
        errno = EINVAL;
        return false;
    }
    HANDLE handle = disk_of(stream)->handle;
    const auto *bytes = static_cast<const uint8_t *>(data);
    size_t done = 0;
    while (done < length) {
        DWORD piece = static_cast<DWORD>(std::min<size_t>(length - done, PIECE_BYTES));
        OVERLAPPED where = at_position(position + done);
        DWORD put = 0;
        if (!WriteFile(handle, bytes + done, piece, &put, &where))
            return fail_with_last_error();
        if (put == 0) {
            errno = EIO;
            return false;
        }
        done += put;
    }
    return true;
}

uint64_t win_size(const DiskStream *stream)
{
    const WinDisk *disk = disk_of(stream);
    if (disk->drive)
        return disk->drive_size;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(disk->handle, &size) || size.QuadPart < 0)
        return UINT64_MAX;
    return static_cast<uint64_t>(size.QuadPart);
}

bool win_sync(DiskStream *stream)
{
    if (!stream->writable)
        return true;
    return FlushFileBuffers(disk_of(stream)->handle) || fail_with_last_error();
}

void release_volumes(WinDisk *disk)
{
    DWORD ignored = 0;
    for (HANDLE volume : disk->volumes) {
        DeviceIoControl(volume, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &ignored, nullptr);
        CloseHandle(volume);
    }
    disk->volumes.clear();
}

void win_close(DiskStream *stream)
{
    WinDisk *disk = disk_of(stream);
    if (disk == nullptr)
        return;
    if (disk->handle != INVALID_HANDLE_VALUE)
        CloseHandle(disk->handle);
    release_volumes(disk);
    if (disk->lock_file != INVALID_HANDLE_VALUE)
        CloseHandle(disk->lock_file);
    delete disk;
    stream->state = nullptr;
}

// LockFileEx on one byte without waiting: false (errno EWOULDBLOCK) when another
// process holds a conflicting lock.
bool lock_byte(HANDLE handle, uint64_t offset, DiskLock mode)
{
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (mode == DiskLock::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    OVERLAPPED where = at_position(offset);
    if (LockFileEx(handle, flags, 0, 1, 0, &where))
        return true;
    return fail_with_last_error();
}

// The directory of the drives' lock files, shared by every user of the machine
// (%ProgramData%\diskwarden), else the user's temporary directory.
std::string lock_directory()
{
    const char *shared = getenv("ProgramData");
    if (shared != nullptr && *shared != '\0') {
        std::string directory = std::string(shared) + "\\diskwarden";
        if (CreateDirectoryA(directory.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
            return directory;
    }
    char temporary[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof temporary, temporary);
    if (length == 0 || length > MAX_PATH)
        return ".";
    return std::string(temporary, length);
}

// Opens drive N's lock file (made when missing, never removed: removing it would let two
// processes lock two different files).
HANDLE open_drive_lock_file(unsigned number)
{
    std::string path = lock_directory();
    if (path.back() != '\\')
        path += '\\';
    path += "PhysicalDrive" + std::to_string(number) + ".lock";
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool win_lock(DiskStream *stream, DiskLock mode)
{
    WinDisk *disk = disk_of(stream);
    if (!disk->drive)
        return lock_byte(disk->handle, LOCK_OFFSET, mode);
    if (disk->lock_file == INVALID_HANDLE_VALUE) {
        disk->lock_file = open_drive_lock_file(disk->drive_number);
        if (disk->lock_file == INVALID_HANDLE_VALUE)
            return fail_with_last_error();
    }
    return lock_byte(disk->lock_file, 0, mode);
}

bool file_identity(HANDLE handle, DiskIdentity *identity)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information))
        return fail_with_last_error();
    identity->block_device = false;
    identity->device = information.dwVolumeSerialNumber;
    identity->inode = uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow;
    return true;
}

void drive_identity(unsigned number, DiskIdentity *identity)
{
    identity->block_device = true;
    identity->device = number;
    identity->inode = 0;
}

bool win_identity(const DiskStream *stream, DiskIdentity *identity)
{
    const WinDisk *disk = disk_of(stream);
    if (disk->drive) {
        drive_identity(disk->drive_number, identity);
        return true;
    }
    return file_identity(disk->handle, identity);
}

const DiskStreamOps WIN_OPS = {
    win_read_at, win_write_at, win_size, win_sync, win_close, win_lock, win_identity,
};

// What the system tells about the drive behind `handle`.
DriveReport ask_drive(HANDLE handle)
{
    DriveReport report;
    DWORD returned = 0;
    GET_LENGTH_INFORMATION length{};
    if (DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length,
                        &returned, nullptr)) {
        report.length_known = true;
        report.length = length.Length.QuadPart;
    }
    DISK_GEOMETRY_EX geometry{};
    if (DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry,
                        sizeof geometry, &returned, nullptr)) {
        report.geometry_known = true;
        report.bytes_per_sector = geometry.Geometry.BytesPerSector;
        report.geometry_size = geometry.DiskSize.QuadPart;
    }
    return report;
}

// Whether the volume behind `volume` lies (partly) on drive `number`.
bool volume_on_drive(HANDLE volume, unsigned number)
{
    std::vector<uint8_t> answer(sizeof(VOLUME_DISK_EXTENTS) + 15 * sizeof(DISK_EXTENT));
    DWORD returned = 0;
    if (!DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, answer.data(),
                         static_cast<DWORD>(answer.size()), &returned, nullptr))
        return false; // not a disk volume (a CD drive without a disc, a network share)
    const auto *extents = reinterpret_cast<const VOLUME_DISK_EXTENTS *>(answer.data());
    for (DWORD i = 0; i < extents->NumberOfDiskExtents && i < 16; ++i) {
        if (extents->Extents[i].DiskNumber == number)
            return true;
    }
    return false;
}

// Locks and dismounts every volume the system mounted on drive `number`, keeping the
// volumes' handles (the locks last while they are open). False (errno EBUSY) when one is
// in use and cannot be locked.
bool take_drive_volumes(WinDisk *disk, unsigned number)
{
    char name[MAX_PATH];
    HANDLE search = FindFirstVolumeA(name, sizeof name);
    if (search == INVALID_HANDLE_VALUE)
        return true; // no volume at all
    bool taken = true;
    do {
        std::string path = name;
        if (!path.empty() && path.back() == '\\')
            path.pop_back(); // the volume itself, not its root directory
        HANDLE volume = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (volume == INVALID_HANDLE_VALUE)
            continue;
        if (!volume_on_drive(volume, number)) {
            CloseHandle(volume);
            continue;
        }
        DWORD ignored = 0;
        if (!DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &ignored, nullptr)) {
            CloseHandle(volume);
            taken = false;
            break;
        }
        DeviceIoControl(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &ignored, nullptr);
        disk->volumes.push_back(volume);
    } while (FindNextVolumeA(search, name, sizeof name));
    FindVolumeClose(search);
    if (!taken)
        errno = EBUSY;
    return taken;
}

HANDLE open_handle(const char *path, bool writable, DWORD flags)
{
    DWORD access = GENERIC_READ | (writable ? GENERIC_WRITE : 0);
    // Others may keep the file or drive open: who may use it at the same time is the
    // lock's decision (win_lock), as with flock on POSIX systems.
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       flags, nullptr);
}

bool open_drive(WinDisk *disk, DiskStream *stream, const char *path, bool writable)
{
    if (writable && !take_drive_volumes(disk, disk->drive_number))
        return false;
    DWORD flags = FILE_FLAG_NO_BUFFERING | (writable ? FILE_FLAG_WRITE_THROUGH : 0);
    disk->handle = open_handle(path, writable, flags);
    if (disk->handle == INVALID_HANDLE_VALUE)
        return fail_with_last_error();
    DriveReport report = ask_drive(disk->handle);
    disk->drive_size = raw_drive_size(report);
    stream->alignment = raw_drive_alignment(report);
    return true;
}

bool open_image(WinDisk *disk, DiskStream *stream, const char *path, DiskOpenFlags flags)
{
    DWORD attributes = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS;
    if (flags.direct)
        attributes = FILE_FLAG_NO_BUFFERING | (flags.writable ? FILE_FLAG_WRITE_THROUGH : 0);
    disk->handle = open_handle(path, flags.writable, attributes);
    if (disk->handle == INVALID_HANDLE_VALUE)
        return fail_with_last_error();
    stream->alignment = flags.direct ? DIRECT_FILE_ALIGNMENT : 1;
    return true;
}

} // namespace

bool platform_disk_open(DiskStream *stream, const char *path, DiskOpenFlags flags)
{
    auto *disk = new (std::nothrow) WinDisk;
    if (disk == nullptr) {
        errno = ENOMEM;
        return false;
    }
    disk->drive = raw_drive_windows_number(path, &disk->drive_number);
    DiskStream opened;
    opened.ops = &WIN_OPS;
    opened.state = disk;
    opened.writable = flags.writable;
    bool ok = disk->drive ? open_drive(disk, &opened, path, flags.writable)
                          : open_image(disk, &opened, path, flags);
    if (!ok) {
        int error = errno;
        win_close(&opened);
        errno = error;
        return false;
    }
    *stream = opened;
    return true;
}

bool platform_path_identity(const char *path, DiskIdentity *identity)
{
    unsigned number = 0;
    if (raw_drive_windows_number(path, &number)) {
        drive_identity(number, identity);
        return true;
    }
    // No access asked: the identity of a file that is in use can still be read.
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return fail_with_last_error();
    bool known = file_identity(handle, identity);
    CloseHandle(handle);
    return known;
}
#endif
