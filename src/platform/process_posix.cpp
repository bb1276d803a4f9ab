#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

void platform_start(int *, char ***, ArgumentWildcards) {}

bool platform_stderr_is_terminal()
{
    return isatty(STDERR_FILENO) == 1;
}

bool platform_fd_writable(int fd)
{
    if (fd < 0)
        return false;
    int flags = fcntl(fd, F_GETFL);
    return flags != -1 && (flags & O_ACCMODE) != O_RDONLY;
}

bool platform_fd_write(int fd, const char *data, size_t size)
{
    // A front-end that stops reading must not end a copy half-way.
    static bool ignoring = false;
    if (!ignoring) {
        signal(SIGPIPE, SIG_IGN);
        ignoring = true;
    }
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}
