#pragma once
// Recovery mode: recordings are the ".av" files of partition 0, in directory order.
#include <string>

#include "disk/humax_disk.h"

// Lists recording `number` (0: all) in the given information mode (0, 1, or 2 for the
// full information alone). Returns the directory name of recording `number` (pointing
// into a buffer valid until the next call), or null (always null for 0).
const char *cmd_recover_scan(HumaxDisk *disk, int number, int mode);

// -g (mode 0 or 1: copies to recover_NNNN.ts/.elu/.epg) and -i (mode 2: information
// only) over a recording list.
void cmd_recover_get(HumaxDisk *disk, const std::string &list, int mode);
