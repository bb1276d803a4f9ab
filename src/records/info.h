#pragma once
// Programme information of a recording, read from its N.epg file in partition 1.
#include <cstdio>

#include "common/json.h"
#include "common/record_entry.h"
#include "disk/humax_disk.h"

enum InfoMode { INFO_DISABLED = 0, INFO_TITLES = 1, INFO_FULL = 2 };

struct Error;

// -i for one recording number: prints its list line, then its full information, on
// standard output; "Recording %d does not exist\n" (warn) for an unknown number (0
// included). False when its information could not be read (*error says why; what was
// shown before stays shown).
bool cmd_info(HumaxDisk *disk, int number, Error *error);

// The -i text of recording n (its list line, then its full information) written to
// `out`. False, with nothing written, when there is no recording n; false with *error set
// when its information could not be read.
bool info_describe(FILE *out, HumaxDisk *disk, int number, Error *error);

// What showing a recording's information came to.
enum class InfoShown { Shown, Fallback, Failed };

// On a disk with 316-byte entries writes ": ***Info disabled***" to `out` (Fallback);
// otherwise info_show.
InfoShown info_show_checked(FILE *out, HumaxDisk *disk, const char *epg_name,
                            const RecordEntry *entry, InfoMode mode, Error *error);

// Writes the events of `epg_name` to `out` in the given mode, titles and synopses as
// text_shown shows them. `entry` is null in recovery mode. Shown when information was
// shown, Fallback otherwise (after the mode's fallback text); Failed, with *error set,
// when the file could not be read (what was written before stays).
InfoShown info_show(FILE *out, HumaxDisk *disk, const char *epg_name, const RecordEntry *entry,
                    InfoMode mode, Error *error);

// The events of `epg_name` that the display shows (the same records: none without a
// duration, a repeated start once) as a JSON array of objects: "start" (ISO 8601, UTC),
// "duration" (the event's own, in seconds), "title" and "synopsis" (UTF-8 by
// dvb_text_utf8; null for a character table that is not decoded). An empty array when
// the file is missing or holds no event (the events before an unreadable part when it
// cannot be read whole); null on a disk with 316-byte entries, whose information is not
// shown.
void info_json_events(JsonWriter *json, HumaxDisk *disk, const char *epg_name);
