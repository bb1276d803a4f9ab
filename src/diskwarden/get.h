#pragma once
// Copying recordings from the disk into the current directory of the host.
#include "disk/humax_disk.h"

// Copies disk file `disk_name` of partition `index` (contents in natural byte order) to
// `host_path`, asking before replacing an existing host file (in backup mode deciding as
// backup_decide_file does instead). Returns 1 when the disk file does not exist (nothing
// done), GET_FILE_SKIPPED or GET_FILE_KEPT when backup mode left an existing host file
// alone (a whole copy, or something else), 0 when copied.
int cmd_get_file(HumaxDisk *disk, int index, const char *disk_name, const char *host_path);
constexpr int GET_FILE_SKIPPED = 2;
constexpr int GET_FILE_KEPT = 3;

// What cmd_get_recording and cmd_copy_recording return for a recording whose stream file
// is missing in backup mode (elsewhere that ends the run).
constexpr int GET_STREAM_MISSING = 2;
// What cmd_get_recording returns in backup mode when a host file under the recording's
// name had to be kept because it is not the copy of that piece (after saying so).
constexpr int GET_PIECE_KEPT = 3;

// -g / -b with one disk: the stream, companion, programme information and header of
// recording `number`. Returns 0 when there is no such recording, GET_STREAM_MISSING (in
// backup mode, after "Error opening N.av") when its stream is missing, GET_PIECE_KEPT (in
// backup mode) when a host file under its name was kept (after a stream that was kept,
// nothing more of the recording is written), 1 otherwise. In backup mode the host name is
// the one backup_choose_stem gives, and a header whose stream was skipped is written
// only where none is (backup_decide_header).
int cmd_get_recording(HumaxDisk *disk, int number);

// -H: only the header (.hre) of recording `number`. Returns 0 when there is none.
int cmd_get_header(HumaxDisk *disk, int number);
