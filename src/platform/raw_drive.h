#pragma once
#include <cstddef>

// A disk argument of one digit and a colon ("0:", "1:", ...) names a whole physical
// drive. On Linux these are /dev/sda, /dev/sdb, ... in that order. Returns true and
// stores the device path when `argument` has that form; false otherwise.
bool platform_raw_drive_path(const char *argument, char *path, size_t size);
