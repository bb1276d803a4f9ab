// Host files on Windows: binary mode and 64-bit positions everywhere; files written go to
// a temporary name, are flushed, and are moved onto their final name. Paths are UTF-8 here
// and reach the system through its wide calls (win_path), long ones in extended form.
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
#include <vector>

#include "platform/host_temporaries.h"
#include "platform/win_error.h"
#include "platform/win_path.h"

namespace {

// Windows has no directory handles to open names relative to: a directory handle is a
// place in this table of full directory paths, and a name is looked up by joining it to
// its directory's path. (Changing the process's current directory instead would change
// it for everything else the process names.)
std::vector<std::string> directory_paths;

bool is_separator(char c)
{
    return c == '\\' || c == '/';
}

// Whether `name` carries its own way from a root or drive ("\\x", "C:x", "C:\\x").
bool names_its_own_place(const char *name)
{
    return is_separator(name[0]) || (name[0] != '\0' && name[1] == ':');
}

// The path to look `name` up by; false (errno EBADF) for an unknown handle.
bool resolve(int directory, const char *name, std::string *path)
{
    if (directory == HOST_CWD || names_its_own_place(name)) {
        *path = name;
        return true;
    }
    if (directory < 0 || static_cast<size_t>(directory) >= directory_paths.size() ||
        directory_paths[static_cast<size_t>(directory)].empty()) {
        errno = EBADF;
        return false;
    }
    *path = directory_paths[static_cast<size_t>(directory)];
    if (!is_separator(path->back()))
        *path += '\\';
    *path += name;
    return true;
}

// Runs on the console handler's thread, never in a signal handler: the conversion may
// allocate.
void delete_path(const char *path)
{
    DeleteFileW(win_path(path).c_str());
}

// Run by an interruption (Ctrl-C, Ctrl-Break, closing the console, on the console
// handler's thread) or an error exit.
void remove_temporaries()
{
    host_temporaries_remove(delete_path);
}

BOOL WINAPI on_console_event(DWORD)
{
    remove_temporaries();
    return FALSE; // the default handler ends the process
}

std::string temporary_name(const std::string &final_path, int attempt)
{
    return final_path + host_temporary_tag(_getpid(), attempt);
}

// Creates the temporary file anew (never through a link or onto a file that is there)
// and marks it for deletion when its last handle closes: the system removes it however
// the process ends (Ctrl-C, a crash, being ended from outside) until the commit takes
// the mark back. Its descriptor, or -1 (errno set; EEXIST when the name is taken).
int create_temporary(const std::string &path)
{
    HANDLE handle = CreateFileW(win_path(path.c_str()).c_str(), GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = win_errno(GetLastError());
        return -1;
    }
    FILE_DISPOSITION_INFO gone{TRUE};
    SetFileInformationByHandle(handle, FileDispositionInfo, &gone, sizeof gone);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        errno = EMFILE;
    }
    return fd;
}

// Takes back the mark of create_temporary, so that closing keeps the file.
bool keep_temporary(int fd)
{
    FILE_DISPOSITION_INFO keep{FALSE};
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (SetFileInformationByHandle(handle, FileDispositionInfo, &keep, sizeof keep))
        return true;
    errno = win_errno(GetLastError());
    return false;
}

// A file time (100-nanosecond steps since 1601) in seconds since 1970.
int64_t win_unix_time(uint64_t file_time)
{
    constexpr int64_t STEPS_PER_SECOND = 10000000;
    constexpr int64_t SECONDS_1601_TO_1970 = 11644473600;
    return static_cast<int64_t>(file_time / STEPS_PER_SECOND) - SECONDS_1601_TO_1970;
}

} // namespace

bool host_output_begin(HostOutput *out, const char *final_path)
{
    *out = HostOutput{};
    out->final_path = final_path;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = temporary_name(out->final_path, attempt);
        int fd = create_temporary(temp);
        if (fd >= 0) {
            out->slot = host_temporary_claim(temp);
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
    bool flushed = _commit(out->fd) == 0 && keep_temporary(out->fd);
    int error = errno;
    bool closed = _close(out->fd) == 0;
    if (flushed && !closed)
        error = errno;
    out->fd = -1;
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace == HostReplace::Yes ? MOVEFILE_REPLACE_EXISTING : 0);
    bool named = flushed && closed &&
                 MoveFileExW(win_path(out->temp_path.c_str()).c_str(),
                             win_path(out->final_path.c_str()).c_str(), flags);
    if (!named) {
        if (flushed && closed)
            error = win_errno(GetLastError());
        host_output_abandon(out);
        errno = error;
        return false;
    }
    host_temporary_release(out->slot);
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
        DeleteFileW(win_path(out->temp_path.c_str()).c_str());
    out->temp_path.clear();
    host_temporary_release(out->slot);
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
    return GetFileAttributesW(win_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int host_directory_open(const char *path)
{
    const std::wstring wide = win_wide(path);
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::vector<wchar_t> buffer(needed + 1);
    const DWORD length = needed == 0 ? 0 : GetFullPathNameW(wide.c_str(), needed + 1, buffer.data(), nullptr);
    if (length == 0 || length > needed) {
        errno = length == 0 ? win_errno(GetLastError()) : ENAMETOOLONG;
        return -1;
    }
    const std::string full = win_utf8(std::wstring_view(buffer.data(), length));
    const DWORD attributes = GetFileAttributesW(win_path(full.c_str()).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        errno = win_errno(GetLastError());
        return -1;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        errno = ENOTDIR;
        return -1;
    }
    for (size_t i = 0; i < directory_paths.size(); ++i) {
        if (directory_paths[i].empty()) {
            directory_paths[i] = full;
            return static_cast<int>(i);
        }
    }
    directory_paths.emplace_back(full);
    return static_cast<int>(directory_paths.size() - 1);
}

void host_directory_close(int directory)
{
    if (directory >= 0 && static_cast<size_t>(directory) < directory_paths.size())
        directory_paths[static_cast<size_t>(directory)].clear();
}

// Asks for no access, so that a file another program holds can still be looked at; links
// are followed, as stat follows them.
bool host_status_at(int directory, const char *name, HostStatus *status)
{
    std::string path;
    if (!resolve(directory, name, &path))
        return false;
    HANDLE handle = CreateFileW(win_path(path.c_str()).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION information;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &information)) {
        errno = win_errno(GetLastError());
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        return false;
    }
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    status->directory = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status->regular = !status->directory && type == FILE_TYPE_DISK;
    status->size = uint64_t{information.nFileSizeHigh} << 32 | information.nFileSizeLow;
    status->modified = win_unix_time(uint64_t{information.ftLastWriteTime.dwHighDateTime} << 32 |
                                     information.ftLastWriteTime.dwLowDateTime);
    return true;
}

// Binary mode: text mode would turn CR LF into LF and end the file at the first 0x1A.
int host_open_read_at(int directory, const char *name)
{
    std::string path;
    if (!resolve(directory, name, &path))
        return -1;
    HANDLE handle = CreateFileW(win_path(path.c_str()).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = win_errno(GetLastError());
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        errno = EMFILE;
    }
    return fd;
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

int64_t host_seek(int fd, int64_t offset, HostSeek from)
{
    int whence = from == HostSeek::Start ? SEEK_SET : from == HostSeek::Current ? SEEK_CUR : SEEK_END;
    return _lseeki64(fd, offset, whence);
}

void host_close(int fd)
{
    if (fd >= 0)
        _close(fd);
}

namespace {

bool write_at(int fd, uint64_t offset, const void *data, size_t length)
{
    int64_t end = _lseeki64(fd, 0, SEEK_END);
    if (end < 0 || _lseeki64(fd, static_cast<int64_t>(offset), SEEK_SET) < 0)
        return false;
    const auto *bytes = static_cast<const char *>(data);
    bool written = true;
    while (written && length > 0) {
        const size_t want = std::min<size_t>(length, 1u << 30);
        const int n = _write(fd, bytes, static_cast<unsigned>(want));
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            written = false;
            break;
        }
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    int error = errno;
    _lseeki64(fd, end, SEEK_SET);
    errno = error;
    return written;
}

} // namespace

bool host_output_write_at(HostOutput *out, uint64_t offset, const void *data, size_t length)
{
    return write_at(out->fd, offset, data, length);
}

int host_open_update(const char *path)
{
    DWORD attributes = GetFileAttributesW(win_path(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        errno = ELOOP;
        return -1;
    }
    int fd = _wopen(win_path(path).c_str(), _O_WRONLY | _O_BINARY);
    if (fd < 0)
        return -1;
    if (!host_is_regular(fd)) {
        _close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

bool host_write_at(int fd, uint64_t offset, const void *data, size_t length)
{
    return write_at(fd, offset, data, length);
}

bool host_sync(int fd)
{
    return _commit(fd) == 0;
}

bool host_remove(const char *path)
{
    if (DeleteFileW(win_path(path).c_str()))
        return true;
    errno = EACCES;
    return false;
}
