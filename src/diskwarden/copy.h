#pragma once
// Copying recordings from one recorder disk to another.
#include "disk/humax_disk.h"

// Copies a file's stored bytes unchanged to a new file of the destination disk (same
// partition index, size and attribute word). Returns 1 when the source file does not
// exist (after "File %s does not exist\n"), 0 when copied.
int cmd_copy_file(HumaxDisk *source, int index, const char *source_name,
                  HumaxDisk *destination, const char *destination_name);

// -g / -b with two disks: copies recording `number` with a new file number and list
// entry on the destination.
int cmd_copy_recording(HumaxDisk *source, HumaxDisk *destination, int number);
