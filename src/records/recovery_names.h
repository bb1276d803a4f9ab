#pragma once
// Recovery mode finds recordings by name: the ".av" files of the recordings partition,
// in directory order, numbered from 1, and copies them to "recover_NNNN.ts".
#include <cstddef>

#include "common/names.h"
#include "disk/directory.h"

// Disk and host names of recovery are held in buffers of this size: recorder names
// ("%d.av" with numbers below 2048) are short.
constexpr size_t RECOVERY_NAME_SIZE = DISK_NAME_SIZE;

// The host name of recording n: printf pattern of one int.
constexpr const char *RECOVERY_HOST_PATTERN = "recover_%04d.ts";

// Stores the entry's name in `name` (RECOVERY_NAME_SIZE bytes) and returns true when the
// entry counts as a recording: its text from the first dot on is exactly ".av" and the
// name leaves room in these buffers for its companions (".elu", ".epg"). The directory name
// is read within its 60 bytes only.
bool recovery_recording_name(const DirEntry *entry, char *name);
