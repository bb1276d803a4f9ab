// The directory search on POSIX systems: the names of the open directory, matched with
// fnmatch as the shell matches them.
#include "platform/dir_search.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <unistd.h>

bool dir_search_collect(DirSearch *search, const std::string &, const std::string &file_part)
{
    // A copy of the descriptor for the listing, so that the handle stays the search's.
    int fd = fcntl(search->directory, F_DUPFD_CLOEXEC, 0);
    DIR *listing = fd >= 0 ? fdopendir(fd) : nullptr;
    if (listing == nullptr) {
        int saved = errno;
        if (fd >= 0)
            close(fd);
        errno = saved;
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent *item = readdir(listing);
        if (item == nullptr)
            break;
        const char *name = item->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        if (fnmatch(file_part.c_str(), name, FNM_PERIOD) == 0)
            search->names.emplace_back(name);
    }
    int saved = errno;
    closedir(listing);
    errno = saved;
    return saved == 0;
}
