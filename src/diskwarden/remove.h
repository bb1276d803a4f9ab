#pragma once
// Unprotecting and deleting recordings, the time-shift buffers and the saved guide data.
#include <string>

#include "disk/humax_disk.h"

// -u for one recording number.
int cmd_unprotect(HumaxDisk *disk, int number);

// -d: checks every listed recording first, asks once, then deletes in list order.
void cmd_delete(HumaxDisk *disk, const std::string &list);

// -D: deletes "0.av" and "1.av".
void cmd_delete_buffers(HumaxDisk *disk);

// -Z: deletes "epgsave.dat" of partition 1.
void cmd_delete_epg_save(HumaxDisk *disk);
