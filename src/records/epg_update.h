#pragma once
#include "disk/humax_disk.h"

// -E: converts every .epg file of partition 1 from 328-byte to 332-byte event records.
void epg_update_all(HumaxDisk *disk);
