// Host files on Windows: binary mode and 64-bit positions everywhere; files written go to
// a temporary name, are flushed, and are moved onto their final name.
#include "platform/host_file.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <process.h>
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

constexpr int TEMPORARY_SLOTS = 4;

// The temporaries that an interruption (Ctrl-C, Ctrl-Break, closing the console) or an
// error exit removes: fixed storage, read by the console handler's thread.
char temporary_path[TEMPORARY_SLOTS][MAX_PATH];
volatile LONG temporary_used[TEMPORARY_SLOTS];

int claim_slot(const std::string &path)
{
    if (path.size() >= MAX_PATH)
        return -1;
    for (int i = 0; i < TEMPORARY_SLOTS; ++i) {
        if (!temporary_used[i]) {
            memcpy(temporary_path[i], path.c_str(), path.size() + 1);
            InterlockedExchange(&temporary_used[i], 1);
            return i;
        }
    }
    return -1;
}

void release_slot(int slot)
{
    if (slot >= 0)
        InterlockedExchange(&temporary_used[slot], 0);
}

void remove_temporaries()
{
    for (int i = 0; i < TEMPORARY_SLOTS; ++i) {
        if (InterlockedExchange(&temporary_used[i], 0))
            DeleteFileA(temporary_path[i]);
    }
}

BOOL WINAPI on_console_event(DWORD)
{
    remove_temporaries();
    return FALSE; // the default handler ends the process
}

// Windows reports its own error codes; the messages are the C library's, so map the
// common ones to errno.
int errno_of(DWORD error)
{
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_SHARING_VIOLATION: return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    default: return EIO;
    }
}

std::string temporary_name(const std::string &final_path, int attempt)
{
    std::string tag = ".diskwarden-" + std::to_string(_getpid()) +
                      (attempt > 0 ? "-" + std::to_string(attempt) : "") + ".part";
    return final_path + tag;
}

} // namespace

bool host_output_begin(HostOutput *out, const char *final_path)
{
    *out = HostOutput{};
    out->final_path = final_path;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = temporary_name(out->final_path, attempt);
        int fd = _open(temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                       _S_IREAD | _S_IWRITE);
        if (fd >= 0) {
            out->slot = claim_slot(temp);
            out->fd = fd;
            out->temp_path = temp;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool host_output_write(HostOutput *out, const void *data, size_t length)
{
    const auto *bytes = static_cast<const char *>(data);
    while (length > 0) {
        const size_t want = std::min<size_t>(length, 1u << 30);
        const int n = _write(out->fd, bytes, static_cast<unsigned>(want));
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        bytes += n;
        length -= static_cast<size_t>(n);
        out->written += static_cast<uint64_t>(n);
    }
    return true;
}

bool host_output_commit(HostOutput *out, HostReplace replace)
{
    bool flushed = _commit(out->fd) == 0;
    int error = errno;
    bool closed = _close(out->fd) == 0;
    if (flushed && !closed)
        error = errno;
    out->fd = -1;
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace == HostReplace::Yes ? MOVEFILE_REPLACE_EXISTING : 0);
    bool named = flushed && closed && MoveFileExA(out->temp_path.c_str(), out->final_path.c_str(), flags);
    if (!named) {
        if (flushed && closed)
            error = errno_of(GetLastError());
        host_output_abandon(out);
        errno = error;
        return false;
    }
    release_slot(out->slot);
    out->slot = -1;
    out->temp_path.clear();
    return true;
}

void host_output_abandon(HostOutput *out)
{
    int error = errno;
    if (out->fd >= 0)
        _close(out->fd);
    out->fd = -1;
    if (!out->temp_path.empty())
        DeleteFileA(out->temp_path.c_str());
    out->temp_path.clear();
    release_slot(out->slot);
    out->slot = -1;
    errno = error;
}

void host_output_install_cleanup()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    SetConsoleCtrlHandler(on_console_event, TRUE);
    atexit(remove_temporaries);
}

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
