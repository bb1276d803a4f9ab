#pragma once
// Recovery mode: recordings are the ".av" files of partition 0, in directory order.
#include <string>

#include "disk/humax_disk.h"
#include "records/info.h"

// Lists recording `number` (0: all) in the given information mode (INFO_FULL: the full
// information alone). Returns the directory name of recording `number` (pointing
// into a buffer valid until the next call), or null (always null for 0).
const char *cmd_recover_scan(HumaxDisk *disk, int number, InfoMode mode);

// -g (INFO_DISABLED or INFO_TITLES: copies to recover_NNNN.ts/.elu/.epg) and -i
// (INFO_FULL: information only) over a recording list.
void cmd_recover_get(HumaxDisk *disk, const std::string &list, InfoMode mode);

// True when a listing line's programme information could not be read (said, marked
// "***Info unreadable***" and passed over): the run ends with status 1.
bool cmd_recover_information_failed();
