#pragma once
#include "disk/humax_disk.h"

// -E: converts every programme-information file of partition 1 still in the older form to
// the newer one, settling first what an interrupted run left. False, with *error set,
// on a disk whose entries are not 304 bytes ("9200C is not supported\n") and when a file
// could not be read or its copy not created or written (the disk then holds every file
// complete, under its .epg or .tmp name), or when a commit fails (disk_write_tables'
// error: the disk is then as an interrupted run leaves it, which the next run settles).
bool epg_update_all(HumaxDisk *disk, Error *error);
