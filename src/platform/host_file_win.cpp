// Host files on Windows: the reading half (existence, status, binary reading with 64-bit
// positions). The writing half (temporary file, flush, rename) comes with diskwarden.exe.
#include "platform/host_file.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <algorithm>
#include <string>

namespace {

// Windows has no directory handles to open names relative to: a searched directory is
// named by its path, so until the directory search gives one, only the current
// directory (and names that carry their own path) can be used.
bool relative_to_cwd(int directory)
{
    if (directory == HOST_CWD)
        return true;
    errno = EINVAL;
    return false;
}

} // namespace

// The attributes of a link (reparse point) are its own, so a dangling one counts too.
bool host_exists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool host_status_at(int directory, const char *name, HostStatus *status)
{
    struct _stat64 s;
    if (!relative_to_cwd(directory) || _stat64(name, &s) != 0)
        return false;
    status->regular = (s.st_mode & _S_IFMT) == _S_IFREG;
    status->directory = (s.st_mode & _S_IFMT) == _S_IFDIR;
    status->size = static_cast<uint64_t>(s.st_size);
    status->modified = static_cast<int64_t>(s.st_mtime);
    return true;
}

// Binary mode: text mode would turn CR LF into LF and end the file at the first 0x1A.
int host_open_read_at(int directory, const char *name)
{
    if (!relative_to_cwd(directory))
        return -1;
    return _open(name, _O_RDONLY | _O_BINARY | _O_NOINHERIT | _O_SEQUENTIAL);
}

bool host_is_regular(int fd)
{
    struct _stat64 s;
    return _fstat64(fd, &s) == 0 && (s.st_mode & _S_IFMT) == _S_IFREG;
}

bool host_read_fully(int fd, void *data, size_t length, size_t *got)
{
    auto *bytes = static_cast<char *>(data);
    size_t done = 0;
    while (done < length) {
        // _read takes at most INT_MAX bytes at a time.
        const size_t want = std::min<size_t>(length - done, 1u << 30);
        const int n = _read(fd, bytes + done, static_cast<unsigned>(want));
        if (n < 0) {
            *got = done;
            return false;
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    *got = done;
    return true;
}

void host_close(int fd)
{
    if (fd >= 0)
        _close(fd);
}
