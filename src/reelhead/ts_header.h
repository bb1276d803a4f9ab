#pragma once
// The 304-byte recording header that reelhead writes beside a stream.
#include <cstdint>

#include "common/record_entry.h"
#include "reelhead/stream_info.h"

struct Error;

// Offset and room of the title text, after the three-byte character-table prefix.
constexpr unsigned TS_TITLE_TEXT = ENTRY_TITLE + 3;
constexpr unsigned TS_TITLE_TEXT_LENGTH = ENTRY_TITLE + ENTRY_TITLE_LENGTH - TS_TITLE_TEXT;

// Writes the title field of `entry` (prefix 0x10 'i' '7', then the text, zero-padded) and
// returns the start time that the base name of `path` gives, or 0 when it gives none.
// Base name: after the last '/' or '\'. Its extension (from its last '.') is not part of
// the title. Names:
//   "recover_N..."                  -> title "Recovered NNN", returns 0;
//   "YYYYMMDD HHMM Title"           -> title from the 15th character;
//   "NNN_YYYYMonDD_HHMM_Title"      -> title after the underscore that follows the minute;
//   anything else                   -> title "Recovered unknown", returns 0.
// Dates are local time with daylight saving taken as not in effect; a date that does not
// convert to 0..2^32-1 seconds returns 0 with an empty title. A title beginning "i7" loses
// those two characters; at most TS_TITLE_TEXT_LENGTH characters are kept, cleaned with
// sanitize_file_name. Prints "Start time derived from the filename" when a time is
// returned.
uint32_t ts_parse_file_name(const char *path, RecordEntry *entry);

// Fills every header field except the title from the analysis and the start time.
void ts_fill_header(const StreamInfo *info, uint32_t start_time, RecordEntry *entry);

// Builds the header of the stream at `path` (start time from its name, else from its
// modification time) and writes its 304 bytes to `header_name`, which must not exist
// (a header that appeared meanwhile is kept). False, with *error set (the system's error
// text for the path), when the stream's status cannot be read or the header file cannot
// be created (ErrorKind::Open), or its bytes cannot be written (ErrorKind::Write); no
// header is left behind then.
bool ts_write_header(const StreamInfo *info, const char *path, const char *header_name, Error *error);
