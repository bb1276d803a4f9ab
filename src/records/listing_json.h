#pragma once
// The listing and the programme information as JSON (--json). The keys are documented
// in diskwarden(1); text from the disk is decoded to UTF-8 (dvb_text_utf8).
#include <string>
#include <vector>

#include "common/json.h"
#include "common/record_entry.h"
#include "disk/humax_disk.h"

// The numbered recordings in list order (element i is recording i + 1).
std::vector<RecordEntry *> reclist_numbered(HumaxDisk *disk);

// Writes recording `number` (its entry, and the host name stem reclist_host_stems gives
// it) as an object with the keys "number", "file_number", "title" (null for a character
// table that is not decoded), "title_raw" (the stored title field in hexadecimal, without
// the zero bytes that pad it), "channel", "start" and "end" (ISO 8601, UTC), "duration"
// (end minus start in seconds, negative when the end comes first, as the listing takes
// it), "protected", "host_name" (the stem and ".ts": what -g writes), "stream_bytes" (the
// size of N.av; null when it is missing) and "stream_present"; with `information` also
// "lcn" and "events" (info_json_events of N.epg).
void reclist_json_recording(JsonWriter *json, HumaxDisk *disk, int number, const RecordEntry *entry,
                            const std::string &host_stem, bool information);

// Writes recording `number` of recovery mode (the ".av" file `entry` of partition 0,
// named `name` as recovery_recording_name gives it) as an object with the keys "number",
// "name" (what -r -g writes: "recover_0001.ts"), "disk_name" (`name`), "file_number" (the
// number N of a name "N.av", null for any other name), "stream_bytes", "buffer" (a
// time-shift buffer) and "events": info_json_events of its ".epg" companion, or null
// without `information` (-n).
void recovery_json_recording(JsonWriter *json, HumaxDisk *disk, int number, const DirEntry *entry,
                             const char *name, bool information);
