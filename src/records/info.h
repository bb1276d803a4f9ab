#pragma once
// Programme information of a recording, read from its N.epg file in partition 1.
#include "common/record_entry.h"
#include "disk/humax_disk.h"

enum InfoMode { INFO_DISABLED = 0, INFO_TITLES = 1, INFO_FULL = 2 };

// -i for one recording number: prints its list line, then its full information;
// "Recording %d does not exist\n" for an unknown number (0 included). Returns 0.
int cmd_info(HumaxDisk *disk, int number);

// On a disk with 316-byte entries prints ": ***Info disabled***" and returns 1;
// otherwise info_show.
int info_show_checked(HumaxDisk *disk, const char *epg_name, const RecordEntry *entry, int mode);

// Shows the events of `epg_name` in the given mode (see InfoMode). `entry` is null in
// recovery mode. Returns 0 when information was shown, 1 otherwise (after the mode's
// fallback text).
int info_show(HumaxDisk *disk, const char *epg_name, const RecordEntry *entry, int mode);
