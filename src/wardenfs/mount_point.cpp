#include "wardenfs/mount_point.h"

#include <cerrno>
#include <sys/stat.h>

#include "common/shown_text.h"

bool mount_point_check(const char *path, Error *error)
{
    struct stat status;
    std::string shown = text_shown(path);
    if (stat(path, &status) != 0) {
        int code = errno;
        if (code == ENOTCONN)
            return error_set(error, ErrorKind::Open,
                             "%s: Transport endpoint is not connected: a mount whose wardenfs ended "
                             "without unmounting is still there.\nUnmount it first: fusermount3 -u %s\n",
                             shown.c_str(), shown.c_str());
        return error_set_errno(error, ErrorKind::Open, code, shown.c_str());
    }
    if (!S_ISDIR(status.st_mode))
        return error_set(error, ErrorKind::Open, "%s: Not a directory: the mount point must be a directory\n",
                         shown.c_str());
    return true;
}
