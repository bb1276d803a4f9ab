#pragma once
// The .hre file of a recording: its entry's first record_length bytes.
#include "common/record_entry.h"

struct Error;

// Writes the entry's first record_length bytes to `path`, replacing what is there (a link
// itself, never its target) only once the whole file is written; prints "Copying hre
// file..." once the file is begun. False, with *error set (ErrorKind::Write, the system's
// report for `path`), on failure: what was at `path` is then untouched.
bool hre_write(const RecordList *list, const RecordEntry *entry, const char *path, Error *error);

// Appends a new entry to the list filled from the .hre file at `path` (record_length
// bytes; the caller has checked the size). Null, with *error set (the system's report for
// `path`: ErrorKind::Open or Read, a short file read as EIO) and the list unchanged, when
// the file cannot be opened or read whole.
RecordEntry *hre_read_entry(RecordList *list, const char *path, Error *error);
