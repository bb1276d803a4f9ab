#include "platform/host_space.h"

#include <sys/statvfs.h>

bool host_free_space(const char *path, uint64_t *bytes)
{
    struct statvfs about {};
    if (statvfs(path, &about) != 0)
        return false;
    *bytes = static_cast<uint64_t>(about.f_bavail) * about.f_frsize;
    return true;
}
