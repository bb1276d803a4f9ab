#include "platform/raw_drive.h"

#include <cstring>

bool platform_raw_drive_path(const char *argument, char *path, size_t size)
{
    unsigned number = 0;
    if (!raw_drive_number(argument, &number))
        return false;
    std::string device = raw_drive_windows_path(number);
    if (device.size() >= size)
        return false;
    memcpy(path, device.c_str(), device.size() + 1);
    return true;
}
