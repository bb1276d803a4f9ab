#pragma once
// --domain-map MAPFILE [-g LIST] HUMAXDISK: a GNU ddrescue domain mapfile whose finished
// ('+') areas are the file system's own structures (sector 0, each partition's descriptor,
// allocation table and directory, every file of the EPG and MPEG/JPEG partitions, among
// them the record list and its backup, and the .elu files), and with -g the files of the
// listed recordings: `ddrescue --domain-mapfile=MAPFILE` then images what matters first.
// It reads only those structures, so it works from a partial image too; a structure that
// cannot be read is still included by its position, as far as that is known.
#include "diskwarden/driver.h"
#include "disk/humax_disk.h"

// Writes the map; 0, or 1 after a message.
int cmd_domain_map(const CommandRequest &request, const DiskOpenOptions &access);
