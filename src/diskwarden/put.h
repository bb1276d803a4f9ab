#pragma once
// Putting recordings from the host onto the disk.
#include "disk/humax_disk.h"

// -p: puts every recording whose name matches `pattern` (wildcards * and ?; a directory
// part before the last '/').
void cmd_put(HumaxDisk *disk, const char *pattern);

// Puts the recording whose stream `host_name` names (STEM.ts with STEM.hre, optionally
// STEM.elu and STEM.epg) under a new file number.
void cmd_put_recording(HumaxDisk *disk, const char *host_name);
