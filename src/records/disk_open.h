#pragma once
// Opening a recorder disk: the one call every program, the checker, the mount, the fuzz
// targets and the tests open a disk with.
#include "disk/humax_disk.h"

// Opens the disk `source` names (an image, a drive, or memory) as `options` say: the
// stream (for writing, bypassing the host's cache), the lock, the volume (judged as the
// programs judge it, or not at all), the caller's vetting of the volume, and then the
// record list (records/record_list.h, reclist_load: not at all, required, or optional).
// Asks nothing itself: a question the list needs goes to options.ask_short_entries.
// Messages that do not stop the opening go to the message sink (warn). On success *disk
// is the open disk (to be closed with disk_close); on failure *disk is null, nothing is
// left open, and *error holds the message the programs show for it.
bool disk_open(const DiskSource &source, const DiskOpenOptions &options, HumaxDisk **disk,
               Error *error);
