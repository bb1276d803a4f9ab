// Temporaries of ended runs on POSIX hosts: found by name, proven abandoned by the dead
// process in their name and by their free lock, removed by name relative to the
// directory (never through a link).
#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/host_temporaries.h"

namespace {

// A process that exists, or one we may not signal (another user's), counts as alive.
bool process_alive(int64_t pid)
{
    if (pid == static_cast<int64_t>(getpid()))
        return true;
    if (pid > INT32_MAX)
        return false;
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

bool same_file(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes `name` of `directory` when it is an abandoned temporary.
bool remove_if_abandoned(int directory, const char *name)
{
    int64_t owner = host_temporary_owner(name);
    if (owner == 0 || process_alive(owner))
        return false;
    int fd = openat(directory, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat opened {}, named {};
    bool removed = false;
    // The lock is held until the name is gone: a live writer (one whose identifier this
    // host does not know, in another PID namespace or on another computer) holds it.
    if (fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_uid == geteuid() &&
        flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        fstatat(directory, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && same_file(opened, named))
        removed = unlinkat(directory, name, 0) == 0;
    close(fd);
    return removed;
}

} // namespace

int host_remove_leftovers(const char *directory)
{
    int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    DIR *listing = fdopendir(fd);
    if (listing == nullptr) {
        close(fd);
        return 0;
    }
    int removed = 0;
    while (const dirent *entry = readdir(listing)) {
        if (remove_if_abandoned(fd, entry->d_name))
            ++removed;
    }
    closedir(listing);
    return removed;
}
#endif
