#ifndef _WIN32
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/host_file.h"
#include "platform/host_temporaries.h"

static_assert(HOST_CWD == AT_FDCWD, "HOST_CWD stands for the current directory");

namespace {

// Write-back of a long copy is started every this many bytes, and waited for one step
// behind, so that the flush before the rename has little left to do and the copy does not
// fill the page cache with dirty pages.
constexpr uint64_t WRITE_BEHIND = uint64_t{8} << 20;
constexpr size_t NAME_MAX_BYTES = 255;

void unlink_path(const char *path)
{
    unlink(path);
}

void remove_temporaries()
{
    host_temporaries_remove(unlink_path);
}

// The signals whose default action ends the process and that a person, a closed terminal
// or another program sends (not those of a fault in the program itself): each removes
// the temporary files first, then ends the process as it would have.
constexpr int CLEANUP_SIGNALS[] = {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM};

// Holds back the cleanup signals while a temporary file is created and registered, or
// renamed and forgotten, so that the handler never misses one nor removes a final file.
class SignalsHeld {
  public:
    SignalsHeld()
    {
        sigset_t held;
        sigemptyset(&held);
        for (int signal_number : CLEANUP_SIGNALS)
            sigaddset(&held, signal_number);
        sigprocmask(SIG_BLOCK, &held, &previous_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld &) = delete;
    SignalsHeld &operator=(const SignalsHeld &) = delete;

  private:
    sigset_t previous_;
};

void on_signal(int signal_number)
{
    remove_temporaries();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// A name in the final name's directory that no other run uses: the final name with a
// suffix when that fits a directory entry, a short name otherwise.
std::string temporary_name(const std::string &final_path, int attempt)
{
    size_t slash = final_path.rfind('/');
    std::string directory = slash == std::string::npos ? "" : final_path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
    std::string tag = host_temporary_tag(getpid(), attempt);
    if (base.size() + tag.size() > NAME_MAX_BYTES)
        base = "";
    return directory + base + tag;
}

bool write_all(int fd, const uint8_t *data, size_t length)
{
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Starts the write-back of what was written since the last call, and waits for the step
// before it; the pages already on storage leave the cache.
void write_behind(HostOutput *out)
{
#ifdef SYNC_FILE_RANGE_WRITE
    if (out->written - out->flushed < WRITE_BEHIND)
        return;
    uint64_t from = out->flushed;
    uint64_t length = out->written - from;
    sync_file_range(out->fd, static_cast<off_t>(from), static_cast<off_t>(length),
                    SYNC_FILE_RANGE_WRITE);
    if (from >= WRITE_BEHIND) {
        uint64_t before = from - WRITE_BEHIND;
        sync_file_range(out->fd, static_cast<off_t>(before), static_cast<off_t>(WRITE_BEHIND),
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                            SYNC_FILE_RANGE_WAIT_AFTER);
        posix_fadvise(out->fd, static_cast<off_t>(before), static_cast<off_t>(WRITE_BEHIND),
                      POSIX_FADV_DONTNEED);
    }
    out->flushed = out->written;
#else
    (void)out;
#endif
}

void sync_directory_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

} // namespace

bool host_exists(const char *path)
{
    struct stat status;
    return lstat(path, &status) == 0;
}

namespace {

// The first write into a directory clears it of the temporaries of ended runs, once per
// directory and run.
void remove_leftovers_once(const std::string &final_path)
{
    static std::vector<std::pair<dev_t, ino_t>> cleared;
    size_t slash = final_path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : final_path.substr(0, slash + 1);
    struct stat status;
    if (stat(directory.c_str(), &status) != 0)
        return;
    std::pair<dev_t, ino_t> key(status.st_dev, status.st_ino);
    if (std::find(cleared.begin(), cleared.end(), key) != cleared.end())
        return;
    cleared.push_back(key);
    host_remove_leftovers(directory.c_str());
}

} // namespace

bool host_output_begin(HostOutput *out, const char *final_path)
{
    *out = HostOutput{};
    out->final_path = final_path;
    remove_leftovers_once(out->final_path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = temporary_name(out->final_path, attempt);
        SignalsHeld held;
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Registered only once it is ours: a handler must never remove another's file.
            out->slot = host_temporary_claim(temp);
            // Held while the file is written: another run never takes it for abandoned.
            // (A file system without locks just goes without.)
            flock(fd, LOCK_EX | LOCK_NB);
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
    if (!write_all(out->fd, static_cast<const uint8_t *>(data), length))
        return false;
    out->written += length;
    write_behind(out);
    return true;
}

namespace {

// Gives the temporary file the final name unless something has it: a hard link fails on
// any existing name (a link included); file systems without hard links (FAT) take a
// placeholder made with O_EXCL first, which the rename then replaces.
bool take_name_exclusively(const std::string &temp, const std::string &final_path)
{
    if (link(temp.c_str(), final_path.c_str()) == 0) {
        unlink(temp.c_str());
        return true;
    }
    if (errno == EEXIST)
        return false;
    int placeholder = open(final_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (placeholder < 0)
        return false;
    close(placeholder);
    return rename(temp.c_str(), final_path.c_str()) == 0;
}

} // namespace

bool host_output_commit(HostOutput *out, HostReplace replace)
{
    bool flushed = fdatasync(out->fd) == 0 || errno == EINVAL;
    int error = errno;
    bool closed = close(out->fd) == 0;
    if (flushed && !closed)
        error = errno;
    out->fd = -1;
    SignalsHeld held;
    bool named = flushed && closed &&
                 (replace == HostReplace::Yes
                      ? rename(out->temp_path.c_str(), out->final_path.c_str()) == 0
                      : take_name_exclusively(out->temp_path, out->final_path));
    if (!named) {
        if (flushed && closed)
            error = errno;
        host_output_abandon(out);
        errno = error;
        return false;
    }
    host_temporary_release(out->slot);
    out->slot = -1;
    out->temp_path.clear();
    sync_directory_of(out->final_path);
    return true;
}

void host_output_abandon(HostOutput *out)
{
    int error = errno;
    if (out->fd >= 0)
        close(out->fd);
    out->fd = -1;
    if (!out->temp_path.empty())
        unlink(out->temp_path.c_str());
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
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (int signal_number : CLEANUP_SIGNALS) {
        // A signal the run was started to ignore (nohup, a shell's trap) stays ignored.
        struct sigaction before {};
        if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        sigaction(signal_number, &action, nullptr);
    }
    signal(SIGXFSZ, SIG_IGN);
    atexit(remove_temporaries);
}

int host_directory_open(const char *path)
{
    return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

void host_directory_close(int directory)
{
    if (directory >= 0)
        close(directory);
}

bool host_status_at(int directory, const char *name, HostStatus *status)
{
    struct stat s;
    if (fstatat(directory, name, &s, 0) != 0)
        return false;
    status->regular = S_ISREG(s.st_mode);
    status->directory = S_ISDIR(s.st_mode);
    status->size = static_cast<uint64_t>(s.st_size);
    status->modified = static_cast<int64_t>(s.st_mtime);
    return true;
}

int host_open_read_at(int directory, const char *name)
{
    int fd = openat(directory, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

bool host_is_regular(int fd)
{
    struct stat status;
    return fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

bool host_read_fully(int fd, void *data, size_t length, size_t *got)
{
    auto *bytes = static_cast<uint8_t *>(data);
    size_t done = 0;
    while (done < length) {
        ssize_t n = read(fd, bytes + done, length - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
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
    return static_cast<int64_t>(lseek(fd, static_cast<off_t>(offset), whence));
}

void host_close(int fd)
{
    if (fd >= 0)
        close(fd);
}
#endif

namespace {

bool pwrite_all(int fd, uint64_t offset, const void *data, size_t length)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    while (length > 0) {
        ssize_t n = pwrite(fd, bytes, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        bytes += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool host_output_write_at(HostOutput *out, uint64_t offset, const void *data, size_t length)
{
    return pwrite_all(out->fd, offset, data, length);
}

int host_open_update(const char *path)
{
    int fd = open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (!host_is_regular(fd)) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

bool host_write_at(int fd, uint64_t offset, const void *data, size_t length)
{
    return pwrite_all(fd, offset, data, length);
}

bool host_sync(int fd)
{
    return fsync(fd) == 0;
}

bool host_remove(const char *path)
{
    return unlink(path) == 0;
}
