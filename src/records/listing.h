#pragma once
// The numbered list of recordings. Recordings are numbered 1, 2, ... in list order up to
// the first entry whose file number is 0 or differs from its copy.
#include <cstddef>

#include "common/record_entry.h"
#include "disk/humax_disk.h"

constexpr size_t HOST_NAME_SIZE = 256;

// With number 0: prints every list line and returns the last entry printed. With number
// n >= 1: prints recording n's line and returns its entry, or null (printing nothing).
// With `host_name` (HOST_NAME_SIZE bytes), the host file name of the printed recording
// ("YYYYmmdd HHMM title.ts", cleaned) is stored there. Each entry's N.av is looked up at
// most once per run.
RecordEntry *reclist_walk(HumaxDisk *disk, int number, char *host_name);

// Finds recording n (n >= 1) printing its line like reclist_walk; 0 and negative numbers
// name no recording (null, nothing printed).
RecordEntry *reclist_walk_to(HumaxDisk *disk, int number, char *host_name);
