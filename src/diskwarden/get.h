#pragma once
// Copying recordings from the disk into the current directory of the host.
#include "disk/humax_disk.h"

// Copies disk file `disk_name` of partition `index` (contents in natural byte order) to
// `host_path`, asking before replacing an existing host file (skipping it in backup
// mode). Returns 1 when the disk file does not exist (nothing done), 0 otherwise.
int cmd_get_file(HumaxDisk *disk, int index, const char *disk_name, const char *host_path);

// What cmd_get_recording and cmd_copy_recording return for a recording whose stream file
// is missing in backup mode (elsewhere that ends the run).
constexpr int GET_STREAM_MISSING = 2;

// -g / -b with one disk: the stream, companion, programme information and header of
// recording `number`. Returns 0 when there is no such recording, GET_STREAM_MISSING (in
// backup mode, after "Error opening N.av") when its stream is missing, 1 otherwise.
int cmd_get_recording(HumaxDisk *disk, int number);

// -H: only the header (.hre) of recording `number`. Returns 0 when there is none.
int cmd_get_header(HumaxDisk *disk, int number);
