// The disk stream of an image file or a block device on Linux: pread/pwrite at 64-bit
// positions, flock(2) for one writer per disk (released by the kernel when the process
// ends, and honoured by other tools that take part), O_EXCL for writable block devices.
// A loop device is the file behind it: it has that file's identity and takes that file's
// lock as well as its own, so that runs on the image and on the device meet.
#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <new>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/disk_stream.h"
#include "platform/loop_device.h"

namespace {

// Direct I/O on an image file must be aligned to the file system's block, which is at
// most a page on the file systems we meet; a block device tells its logical sector size.
constexpr uint32_t DIRECT_FILE_ALIGNMENT = 4096;

struct PosixDisk {
    int fd = -1;
    int backing_fd = -1; // what is behind a loop device, opened to be locked
};

int fd_of(const DiskStream *stream)
{
    return static_cast<const PosixDisk *>(stream->state)->fd;
}

bool past_end(const DiskStream *stream, uint64_t position)
{
    struct stat status;
    return fstat(fd_of(stream), &status) == 0 && S_ISREG(status.st_mode) &&
           position >= static_cast<uint64_t>(status.st_size);
}

bool posix_read_at(DiskStream *stream, uint64_t position, void *data, size_t length)
{
    auto *bytes = static_cast<unsigned char *>(data);
    size_t done = 0;
    while (done < length) {
        ssize_t got = pread(fd_of(stream), bytes + done, length - done,
                            static_cast<off_t>(position + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0 || (static_cast<size_t>(got) < length - done &&
                         past_end(stream, position + done + static_cast<size_t>(got)))) {
            // Past the end of an image: the missing bytes read as zero. (With direct I/O a
            // read that reaches the end stops short, and may not be repeated from there.)
            done += static_cast<size_t>(got);
            memset(bytes + done, 0, length - done);
            break;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

bool posix_write_at(DiskStream *stream, uint64_t position, const void *data, size_t length)
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    size_t done = 0;
    while (done < length) {
        ssize_t put = pwrite(fd_of(stream), bytes + done, length - done,
                             static_cast<off_t>(position + done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (put == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

uint64_t posix_size(const DiskStream *stream)
{
    struct stat status;
    if (fstat(fd_of(stream), &status) != 0)
        return UINT64_MAX;
    if (S_ISREG(status.st_mode))
        return static_cast<uint64_t>(status.st_size);
    uint64_t bytes = 0;
    if (S_ISBLK(status.st_mode) && ioctl(fd_of(stream), BLKGETSIZE64, &bytes) == 0)
        return bytes;
    return UINT64_MAX;
}

bool posix_sync(DiskStream *stream)
{
    return fdatasync(fd_of(stream)) == 0 || errno == EINVAL || errno == EROFS;
}

void posix_close(DiskStream *stream)
{
    auto *disk = static_cast<PosixDisk *>(stream->state);
    if (disk != nullptr && disk->fd >= 0)
        close(disk->fd);
    if (disk != nullptr && disk->backing_fd >= 0)
        close(disk->backing_fd);
    delete disk;
    stream->state = nullptr;
}

bool flock_now(int fd, int operation)
{
    while (flock(fd, operation) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// The lock of what is behind a loop device; true for every other disk. A backing file
// that cannot be reached (deleted, renamed, in another mount namespace) cannot be
// locked: false (errno ESTALE or the system's), so that no run goes on unguarded.
bool lock_backing(PosixDisk *disk, int operation)
{
    LoopBacking backing;
    if (!loop_device_backing(disk->fd, &backing))
        return true;
    if (disk->backing_fd < 0)
        disk->backing_fd = loop_device_open_backing(backing);
    return disk->backing_fd >= 0 && flock_now(disk->backing_fd, operation);
}

bool posix_lock(DiskStream *stream, DiskLock mode)
{
    auto *disk = static_cast<PosixDisk *>(stream->state);
    int operation = (mode == DiskLock::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    if (!flock_now(disk->fd, operation))
        return false;
    if (lock_backing(disk, operation))
        return true;
    int error = errno;
    flock(disk->fd, LOCK_UN);
    errno = error;
    return false;
}

void identity_of(const struct stat &status, DiskIdentity *identity)
{
    identity->block_device = S_ISBLK(status.st_mode);
    identity->device = identity->block_device ? status.st_rdev : status.st_dev;
    identity->inode = identity->block_device ? 0 : status.st_ino;
}

// The identity of the disk open at `fd`: a loop device's is its backing file's.
bool identity_of_open(int fd, DiskIdentity *identity)
{
    struct stat status;
    if (fstat(fd, &status) != 0)
        return false;
    LoopBacking backing;
    if (S_ISBLK(status.st_mode) && loop_device_backing(fd, &backing))
        *identity = backing.identity;
    else
        identity_of(status, identity);
    return true;
}

bool posix_identity(const DiskStream *stream, DiskIdentity *identity)
{
    return identity_of_open(fd_of(stream), identity);
}

const DiskStreamOps POSIX_OPS = {
    posix_read_at, posix_write_at, posix_size, posix_sync, posix_close, posix_lock, posix_identity,
};

uint32_t direct_alignment(int fd, const struct stat &status)
{
    int sector = 0;
    if (S_ISBLK(status.st_mode) && ioctl(fd, BLKSSZGET, &sector) == 0 && sector > 0)
        return static_cast<uint32_t>(sector);
    return DIRECT_FILE_ALIGNMENT;
}

} // namespace

bool platform_disk_open(DiskStream *stream, const char *path, DiskOpenFlags flags)
{
    struct stat status;
    bool block = stat(path, &status) == 0 && S_ISBLK(status.st_mode);
    // A drive is read past the page cache: through it, one unreadable sector fails a whole
    // read-ahead window, and a failing drive loses far more than its bad sectors.
    if (block && !flags.writable)
        flags.direct = true;
    int mode = (flags.writable ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    if (block && flags.writable)
        mode |= O_EXCL;
    if (flags.direct)
        mode |= O_DIRECT;
    int fd = open(path, mode);
    if (fd < 0)
        return false;
    auto *disk = new (std::nothrow) PosixDisk{fd};
    if (disk == nullptr) {
        close(fd);
        errno = ENOMEM;
        return false;
    }
    stream->ops = &POSIX_OPS;
    stream->state = disk;
    stream->writable = flags.writable;
    stream->alignment = 1;
    if (flags.direct && fstat(fd, &status) == 0)
        stream->alignment = direct_alignment(fd, status);
    int sector = 0;
    if (block && ioctl(fd, BLKSSZGET, &sector) == 0 && sector > 0)
        stream->sector = static_cast<uint32_t>(sector);
    return true;
}

bool platform_path_identity(const char *path, DiskIdentity *identity)
{
    struct stat status;
    if (stat(path, &status) != 0)
        return false;
    identity_of(status, identity);
    if (!S_ISBLK(status.st_mode))
        return true;
    // A device may be a loop device: asking it needs it open (which changes nothing).
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return true;
    identity_of_open(fd, identity);
    close(fd);
    return true;
}
#endif
