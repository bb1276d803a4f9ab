#pragma once
// Changing one byte of a recording's entry.
#include <cstdint>

#include "common/record_entry.h"
#include "disk/humax_disk.h"

// -M: finds recording `number` (printing its line), sets the byte and saves the list.
// False, with *error set, for an unknown recording ("Recording %d does not exist\n",
// ErrorKind::Refused), an offset beyond the entry, or a list that cannot be saved.
bool cmd_modify_entry(HumaxDisk *disk, int number, int offset, uint8_t value, Error *error);

// Changes the byte at `offset` and reports the change ("No change\n" when equal; warn).
// False, with nothing changed, for an offset beyond the entry ("offset out of range\n",
// ErrorKind::Refused).
bool entry_set_byte(const RecordList *list, RecordEntry *entry, unsigned offset, uint8_t value,
                    Error *error);
