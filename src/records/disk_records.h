#pragma once
#include "disk/humax_disk.h"

// Opens a recorder disk with its record list: the volume (partition table, allocation
// tables, directories), then, outside recovery mode, the disk format of partition 1
// decides the record length (0xE000000F by detection, 0xE000000D and 0xE0000030 are 304)
// and the list is loaded. Ends the process with the documented messages on failure.
HumaxDisk *disk_open(const char *path, const char *mode);
