#pragma once
// Putting recordings from the host onto the disk.
#include <cstdint>

#include "disk/humax_disk.h"

// -p: puts every recording whose name matches `pattern` (wildcards * and ?; a directory
// part before the last '/').
void cmd_put(HumaxDisk *disk, const char *pattern);

// Puts the recording whose stream `host_name` names (STEM.ts with STEM.hre, optionally
// STEM.elu and STEM.epg) under a new file number.
void cmd_put_recording(HumaxDisk *disk, const char *host_name);

// Copies one host file to a new disk file. Returns 1 (after the system error text) when
// the host file does not exist, 0 when copied.
int cmd_put_file(HumaxDisk *disk, int index, const char *host_name, const char *disk_name,
                 uint32_t attributes);
