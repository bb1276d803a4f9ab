#include "disk/disk_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

// A plain load/byte-swap/store loop, which the compiler turns into byte shuffles of
// whole vectors when the processor has them (SSSE3, AVX2); the right copy is chosen
// at load time. Recordings pass through here byte for byte, so this must run at
// memory speed.
#if defined(__x86_64__) && !defined(__clang__)
__attribute__((target_clones("avx2", "ssse3", "default"), optimize("O3")))
#endif
void swap_words(void *words, size_t count)
{
    auto *bytes = static_cast<unsigned char *>(words);
    for (size_t i = 0; i < count; ++i) {
        uint32_t word;
        memcpy(&word, bytes + 4 * i, 4);
        word = __builtin_bswap32(word);
        memcpy(bytes + 4 * i, &word, 4);
    }
}

bool disk_stream_open(DiskStream *stream, const char *path, const char *mode)
{
    bool writable = strchr(mode, '+') != nullptr || strchr(mode, 'w') != nullptr;
    int fd = open(path, (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0)
        return false;
    stream->fd = fd;
    stream->writable = writable;
    return true;
}

void disk_stream_close(DiskStream *stream)
{
    if (stream->fd >= 0)
        close(stream->fd);
    stream->fd = -1;
}

bool disk_read_at(DiskStream *stream, uint64_t position, void *data, size_t length)
{
    auto *bytes = static_cast<unsigned char *>(data);
    size_t done = 0;
    while (done < length) {
        ssize_t got = pread(stream->fd, bytes + done, length - done,
                            static_cast<off_t>(position + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0) {
            // Past the end of an image: the missing bytes read as zero.
            memset(bytes + done, 0, length - done);
            break;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

bool disk_write_at(DiskStream *stream, uint64_t position, const void *data, size_t length)
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    size_t done = 0;
    while (done < length) {
        ssize_t put = pwrite(stream->fd, bytes + done, length - done,
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

uint64_t disk_stream_size(const DiskStream *stream)
{
    struct stat status;
    if (fstat(stream->fd, &status) != 0)
        return UINT64_MAX;
    if (S_ISREG(status.st_mode))
        return static_cast<uint64_t>(status.st_size);
    uint64_t bytes = 0;
    if (S_ISBLK(status.st_mode) && ioctl(stream->fd, BLKGETSIZE64, &bytes) == 0)
        return bytes;
    return UINT64_MAX;
}

bool disk_sync(DiskStream *stream)
{
    return fdatasync(stream->fd) == 0 || errno == EINVAL || errno == EROFS;
}
