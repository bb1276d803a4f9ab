#pragma once
// The .hre file of a recording: its entry's first record_length bytes.
#include "common/record_entry.h"

// Writes the entry's first record_length bytes to `path`, replacing what is there (a link
// itself, never its target) only once the whole file is written; prints "Copying hre
// file...". Ends the process with the system's report for `path` on failure.
void hre_write(const RecordList *list, const RecordEntry *entry, const char *path);

// Appends a new entry to the list filled from the .hre file at `path` (record_length
// bytes; the caller has checked the size). Ends the process on an open or read failure.
RecordEntry *hre_read_entry(RecordList *list, const char *path);
