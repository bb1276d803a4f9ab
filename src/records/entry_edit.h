#pragma once
// Changing one byte of a recording's entry.
#include <cstdint>

#include "common/record_entry.h"
#include "disk/humax_disk.h"

// -M: finds recording `number` (printing its line), sets the byte and saves the list.
void cmd_modify_entry(HumaxDisk *disk, int number, int offset, uint8_t value);

// Changes the byte at `offset` and reports the change ("No change\n" when equal).
// An offset beyond the entry ends the process ("offset out of range\n").
void entry_set_byte(const RecordList *list, RecordEntry *entry, unsigned offset, uint8_t value);
