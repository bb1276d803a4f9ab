// The disk stream of an image file or a physical drive on Windows.
//
// Image files: positioned ReadFile/WriteFile (64-bit offsets in OVERLAPPED), bytes past
// the end read as zero; their paths go through the wide calls (win_path), long ones in
// extended form. Physical drives (\\.\PhysicalDriveN, also written \\?\PhysicalDriveN):
// the system's cache is bypassed (FILE_FLAG_NO_BUFFERING, and write-through when writing),
// so every transfer must be whole sectors at an aligned position and buffer: the stream's
// alignment is the drive's sector size and the aligned wrapper (disk/disk_io.h) meets it
// for every caller. This backend refuses what is not aligned (EINVAL) before the system
// sees it, as a drive would, so that the same rule holds for images opened for direct I/O.
// A drive's length is known, so a short read from it is an error, never its end.
//
// One writer per disk: a lock taken with LockFileEx without waiting, shared for reading
// and exclusive for writing, released by the system when the process ends. An image is
// locked on a byte far beyond any data it will hold; a drive, whose device does not take
// byte-range locks, on a lock file of its own in the machine's program data. Windows
// mounts nothing on a recorder disk: a drive that holds any volume is refused before it is
// even opened (nothing is locked or dismounted), and a drive or file that another program
// holds is refused (EBUSY).
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

#include "platform/disk_failure.h"
#include "platform/disk_stream.h"
#include "platform/raw_drive.h"
#include "platform/win_error.h"
#include "platform/win_path.h"

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

// One ReadFile at `position` (a RawTransfer); *got receives the bytes read (0 at the end
// of a file).
bool read_piece(void *context, uint64_t position, uint8_t *data, uint32_t length, uint32_t *got)
{
    OVERLAPPED where = at_position(position);
    DWORD count = 0;
    *got = 0;
    if (ReadFile(static_cast<WinDisk *>(context)->handle, data, length, &count, &where)) {
        *got = count;
        return true;
    }
    if (GetLastError() == ERROR_HANDLE_EOF)
        return true;
    return fail_with_last_error();
}

// A drive ends where the system says (its size is a whole number of sectors, so reads
// stay aligned); raw_read tells a short read from the end.
bool win_read_at(DiskStream *stream, uint64_t position, void *data, size_t length)
{
    if (!aligned(stream, position, data, length)) {
        errno = EINVAL;
        return false;
    }
    WinDisk *disk = disk_of(stream);
    RawReadTarget target;
    target.drive = disk->drive;
    target.size = disk->drive_size;
    target.piece = PIECE_BYTES;
    return raw_read(target, read_piece, disk, position, data, length);
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

void win_close(DiskStream *stream)
{
    WinDisk *disk = disk_of(stream);
    if (disk == nullptr)
        return;
    if (disk->handle != INVALID_HANDLE_VALUE)
        CloseHandle(disk->handle);
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

// The value of an environment variable, "" when unset.
std::wstring environment_value(const wchar_t *name)
{
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0)
        return L"";
    std::vector<wchar_t> value(needed);
    const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
    return length > 0 && length < needed ? std::wstring(value.data(), length) : L"";
}

// The directory of the drives' lock files, shared by every user of the machine
// (%ProgramData%\diskwarden), else the user's temporary directory.
std::wstring lock_directory()
{
    const std::wstring shared = environment_value(L"ProgramData");
    if (!shared.empty()) {
        std::wstring directory = shared + L"\\diskwarden";
        if (CreateDirectoryW(directory.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
            return directory;
    }
    wchar_t temporary[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
    if (length == 0 || length > MAX_PATH)
        return L".";
    return std::wstring(temporary, length);
}

// Opens drive N's lock file (made when missing, never removed: removing it would let two
// processes lock two different files). When it cannot be made, its path is noted for the
// message.
HANDLE open_drive_lock_file(unsigned number)
{
    std::wstring path = lock_directory();
    if (path.back() != L'\\')
        path += L'\\';
    path += L"PhysicalDrive" + std::to_wstring(number) + L".lock";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        platform_note_lock_file(win_utf8(path));
        SetLastError(error);
    }
    return file;
}

bool win_lock(DiskStream *stream, DiskLock mode)
{
    platform_note_lock_file("");
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

// The numbers of the drives the volume `name` ("\\?\Volume{...}\") lies on; empty when
// that cannot be told (a drive without a medium, a volume that is no disk's). Asking needs
// no access to the volume, and changes nothing on it.
std::vector<unsigned> volume_drives(const std::wstring &name)
{
    std::wstring device = name;
    if (!device.empty() && device.back() == L'\\')
        device.pop_back(); // the volume itself, not its root directory
    HANDLE volume = CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    std::vector<unsigned> drives;
    if (volume == INVALID_HANDLE_VALUE)
        return drives;
    std::vector<uint8_t> answer(sizeof(VOLUME_DISK_EXTENTS) + 15 * sizeof(DISK_EXTENT));
    DWORD returned = 0;
    bool known = DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, answer.data(),
                                 static_cast<DWORD>(answer.size()), &returned, nullptr);
    if (!known && GetLastError() == ERROR_MORE_DATA) {
        // A volume spanning many drives: the first answer says how many extents it has.
        const auto *first = reinterpret_cast<const VOLUME_DISK_EXTENTS *>(answer.data());
        answer.resize(sizeof(VOLUME_DISK_EXTENTS) + first->NumberOfDiskExtents * sizeof(DISK_EXTENT));
        known = DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, answer.data(),
                                static_cast<DWORD>(answer.size()), &returned, nullptr);
    }
    CloseHandle(volume);
    if (!known)
        return drives;
    const auto *extents = reinterpret_cast<const VOLUME_DISK_EXTENTS *>(answer.data());
    const size_t room = (answer.size() - offsetof(VOLUME_DISK_EXTENTS, Extents)) / sizeof(DISK_EXTENT);
    for (DWORD i = 0; i < extents->NumberOfDiskExtents && i < room; ++i)
        drives.push_back(extents->Extents[i].DiskNumber);
    return drives;
}

// Where the volume is mounted (drive letters, folders) and its label.
void describe_volume(const std::wstring &name, HostVolume *volume)
{
    DWORD needed = 0;
    GetVolumePathNamesForVolumeNameW(name.c_str(), nullptr, 0, &needed);
    std::vector<wchar_t> paths(needed + 1);
    if (needed > 0 && GetVolumePathNamesForVolumeNameW(name.c_str(), paths.data(), needed, &needed)) {
        for (const wchar_t *path = paths.data(); *path != L'\0'; path += wcslen(path) + 1)
            volume->paths.push_back(win_utf8(path));
    }
    wchar_t label[MAX_PATH + 1] = {};
    if (GetVolumeInformationW(name.c_str(), label, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0))
        volume->label = win_utf8(label);
}

// The volumes of this computer that lie on drive `number`, described.
std::vector<HostVolume> volumes_on_drive(unsigned number)
{
    std::vector<HostVolume> all;
    wchar_t name[MAX_PATH + 1];
    HANDLE search = FindFirstVolumeW(name, MAX_PATH + 1);
    if (search == INVALID_HANDLE_VALUE)
        return all; // no volume at all
    do {
        HostVolume volume;
        volume.name = win_utf8(name);
        volume.drives = volume_drives(name);
        all.push_back(volume);
    } while (FindNextVolumeW(search, name, MAX_PATH + 1));
    FindVolumeClose(search);
    std::vector<HostVolume> on_drive = raw_drive_volumes_on(number, all);
    for (HostVolume &volume : on_drive)
        describe_volume(win_wide(volume.name), &volume);
    return on_drive;
}

HANDLE open_handle(const std::wstring &path, bool writable, DWORD flags)
{
    DWORD access = GENERIC_READ | (writable ? GENERIC_WRITE : 0);
    // Others may keep the file or drive open: who may use it at the same time is the
    // lock's decision (win_lock), as with flock on POSIX systems.
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
                       nullptr);
}

// The volumes are looked at first: a drive that holds any is refused (EBUSY, with the
// message naming them) before it is opened, locked or asked about.
bool open_drive(WinDisk *disk, DiskStream *stream, const char *path, bool writable)
{
    const std::string refusal = raw_drive_volume_refusal(path, volumes_on_drive(disk->drive_number));
    if (!refusal.empty()) {
        platform_note_refusal(refusal);
        errno = EBUSY;
        return false;
    }
    DWORD flags = FILE_FLAG_NO_BUFFERING | (writable ? FILE_FLAG_WRITE_THROUGH : 0);
    disk->handle = open_handle(win_wide(raw_drive_windows_path(disk->drive_number)), writable, flags);
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
    disk->handle = open_handle(win_path(path), flags.writable, attributes);
    if (disk->handle == INVALID_HANDLE_VALUE)
        return fail_with_last_error();
    stream->alignment = flags.direct ? DIRECT_FILE_ALIGNMENT : 1;
    return true;
}

} // namespace

bool platform_disk_open(DiskStream *stream, const char *path, DiskOpenFlags flags)
{
    platform_note_refusal("");
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
    HANDLE handle = CreateFileW(win_path(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return fail_with_last_error();
    bool known = file_identity(handle, identity);
    CloseHandle(handle);
    return known;
}
#endif
