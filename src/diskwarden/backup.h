#pragma once
// What a backup to the host (-b with one disk) does with what earlier runs left in the
// current directory: it recognises its own copies and never replaces a file it cannot
// tell to be one, so that a backup can be run again and again without losing anything
// already on the host.
#include <cstdint>
#include <string>

#include "common/record_entry.h"

// What becomes of one piece of a recording whose host name is taken.
enum class BackupPiece {
    Copy, // nothing is there: copy it
    Skip, // a whole earlier copy is there: leave it ("Skipping file ...")
    Keep, // something else is there: leave it, say so, and end the run with status 1
};

// For a copied disk file (stream, companion, programme information) of `size` bytes whose
// host name is `host_path`: Copy when nothing is there; Skip for a regular file (or a link
// to one) of exactly that size; Keep for anything else (another size, a dangling link, a
// directory, a device). Prints the skipping or keeping message.
BackupPiece backup_decide_file(const char *host_path, uint64_t size);

// For the header (.hre) at `host_path` of `entry` (`record_length` bytes): Copy when
// nothing is there, or when `stream_copied` (the stream was copied in this run) and the
// file there is an earlier header of the same recording; Skip when the file holds these
// bytes (but for the lead bytes, which mark the list's first entry); Keep otherwise (a header whose stream was skipped is never rewritten: it
// may be another recording's). Prints the skipping or keeping message.
BackupPiece backup_decide_header(const char *host_path, const RecordEntry *entry,
                                 unsigned record_length, bool stream_copied);

// The stem (host name without extension) under which -b puts the recording `entry`,
// whose stem in the list is `listed`. A recording's stem takes one of two forms (plain,
// or with its file number) depending on the recordings that share its plain stem, and
// that changes when one of them is deleted or added. So -b keeps the form under which
// this directory already holds the recording's header, and avoids a form whose header is
// another recording's when the other form is free. Otherwise the listed stem.
std::string backup_choose_stem(const std::string &listed, const RecordEntry *entry,
                               unsigned record_length);

// True when two entries (or an entry and a header file's bytes) describe the same
// recording of one disk: the same file number, start time and channel.
bool backup_same_recording(const uint8_t *a, const uint8_t *b);
