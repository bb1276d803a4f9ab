#include "platform/host_path.h"

#include <fcntl.h>
#include <sys/stat.h>

int platform_open_read(const char *path)
{
    return open(path, O_RDONLY | O_CLOEXEC);
}

bool platform_path_taken(const char *path)
{
    struct stat status;
    return lstat(path, &status) == 0;
}
