#include "platform/raw_drive.h"

#include <cstdio>

bool platform_raw_drive_path(const char *argument, char *path, size_t size)
{
    if (argument[0] < '0' || argument[0] > '9' || argument[1] != ':' || argument[2] != '\0')
        return false;
    snprintf(path, size, "/dev/sd%c", 'a' + (argument[0] - '0'));
    return true;
}
