#include "records/info.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "common/names.h"
#include "disk/disk_file.h"
#include "records/dvb_text.h"
#include "records/epg_format.h"
#include "records/listing.h"
#include "records/text.h"

namespace {

struct EventText {
    // A field buffer and its terminator, so that skipping a prefix stays inside it.
    char title[EVENT_TITLE_LENGTH + 1];
    char synopsis[EPG_RECORD_LONG - EVENT_SYNOPSIS + 1];
};

void event_text(const uint8_t *record, unsigned record_size, EventText *text)
{
    memset(text, 0, sizeof *text);
    memcpy(text->title, record + EVENT_TITLE, EVENT_TITLE_LENGTH);
    memcpy(text->synopsis, record + EVENT_SYNOPSIS, record_size - EVENT_SYNOPSIS);
}

struct ShowState {
    FILE *out;
    const RecordEntry *entry;
    int mode;
    uint32_t event_count = 0;
    uint32_t shown = 0;     // events with a duration, repeats included
    uint32_t displayed = 0; // events printed
    int64_t remaining = 0; // of the recording's length, after the events shown so far
};

void show_event(ShowState *state, const uint8_t *record, unsigned record_size)
{
    EventText text;
    event_text(record, record_size, &text);
    std::string title = text_shown(text_skip_charset(text.title));
    if (state->mode == INFO_TITLES) {
        fprintf(state->out, "%s: %s", state->displayed > 0 ? " " : "", title.c_str());
        ++state->displayed;
        return;
    }
    if (state->entry != nullptr) {
        // The last event runs to the end of the recording, whatever its own field says.
        uint32_t duration = epg_be32(record + EVENT_DURATION);
        if (state->shown == state->event_count) {
            duration = state->remaining < 0 ? 0 : static_cast<uint32_t>(state->remaining);
        } else {
            state->remaining -= duration;
        }
        fprintf(state->out, "\n%s (%u:%02u:%02u)\n", title.c_str(), duration / 3600,
                duration / 60 % 60, duration % 60);
    } else {
        fprintf(state->out, "\n%s\n", title.c_str());
    }
    ++state->displayed;
    print_wrapped(state->out, text_shown(text_skip_charset(text.synopsis)).c_str());
    fprintf(state->out, "\n");
}

// Calls `visit` for every event the display shows, in file order: records without a
// duration are skipped, a repeated start counts but is not shown. `visit` gets the
// record, its size, the events counted so far (this one included) and the file's count.
// Returns how many were counted.
using EventVisitor = std::function<void(const uint8_t *record, unsigned record_size, uint32_t counted,
                                        uint32_t event_count)>;
uint32_t walk_events(DiskFile *file, const EventVisitor &visit)
{
    uint8_t count_bytes[EPG_COUNT_SIZE];
    if (dfile_read_into(file, count_bytes, sizeof count_bytes) < sizeof count_bytes)
        return 0;
    uint32_t event_count = epg_be32(count_bytes);
    unsigned record_size = epg_detect_record_size(file, event_count);
    dfile_rewind(file);
    dfile_read_into(file, count_bytes, sizeof count_bytes);
    uint32_t last_start = 0xFFFFFFFF;
    uint32_t counted = 0;
    uint8_t record[EPG_RECORD_LONG];
    while (!dfile_eof(file) && counted < event_count) {
        if (dfile_read_into(file, record, record_size) < record_size)
            break;
        if (epg_be32(record + EVENT_DURATION) == 0)
            continue;
        ++counted;
        // A repeated start is the same event again: it counts but is not shown.
        uint32_t start = epg_be32(record + EVENT_START);
        if (start == last_start)
            continue;
        last_start = start;
        visit(record, record_size, counted, event_count);
    }
    return counted;
}

// Shows the events of an open .epg file; returns how many were counted.
uint32_t show_events(DiskFile *file, ShowState *state)
{
    return walk_events(file, [state](const uint8_t *record, unsigned record_size, uint32_t counted,
                                      uint32_t event_count) {
        state->shown = counted;
        state->event_count = event_count;
        show_event(state, record, record_size);
    });
}

// The text field at `offset` of an event record, as UTF-8 (null for a table that is not
// decoded).
void json_event_text(JsonWriter *json, const uint8_t *record, unsigned offset, unsigned length)
{
    std::string text;
    if (dvb_text_utf8(record + offset, length, &text))
        json_string(json, text);
    else
        json_null(json);
}

int show_fallback(FILE *out, int mode)
{
    if (mode == INFO_DISABLED) {
        fprintf(out, ": ***Info disabled***");
    } else if (mode == INFO_TITLES) {
        fprintf(out, ": ***Unknown***");
    } else {
        fprintf(out, "No further information available for this recording\n");
        print_rule(out);
    }
    return 1;
}

} // namespace

int cmd_info(HumaxDisk *disk, int number)
{
    if (!info_describe(stdout, disk, number))
        fprintf(stderr, "Recording %d does not exist\n", number);
    return 0;
}

bool info_describe(FILE *out, HumaxDisk *disk, int number)
{
    RecordEntry *entry = number >= 1 ? reclist_print(out, disk, number) : nullptr;
    if (entry == nullptr)
        return false;
    char epg_name[DISK_NAME_SIZE];
    format_bounded(epg_name, sizeof epg_name, "%d.epg", entry_be16(entry, ENTRY_FILE_NUMBER));
    // On disks whose entries are too long for the information display the refusal
    // follows the list line; end its line, or the next recording's line joins it.
    if (info_show_checked(out, disk, epg_name, entry, INFO_FULL) != 0 &&
        disk->records.record_length == RECORD_LENGTH_LONG)
        fprintf(out, "\n");
    return true;
}

int info_show_checked(FILE *out, HumaxDisk *disk, const char *epg_name, const RecordEntry *entry,
                      int mode)
{
    if (disk->records.record_length == RECORD_LENGTH_LONG) {
        fprintf(out, ": ***Info disabled***");
        return 1;
    }
    return info_show(out, disk, epg_name, entry, mode);
}

int info_show(FILE *out, HumaxDisk *disk, const char *epg_name, const RecordEntry *entry,
              int mode)
{
    ShowState state{out, entry, mode, 0};
    if (entry != nullptr) {
        state.remaining = static_cast<int32_t>(entry_be32(entry, ENTRY_END_TIME) -
                                               entry_be32(entry, ENTRY_START_TIME));
        fprintf(out, "LCN: %u%s\n", unsigned{entry_be16(entry, ENTRY_LCN)},
                entry_is_protected(entry, disk->records.record_length) ? " (Protected)" : "");
    }
    if (mode == INFO_DISABLED)
        return show_fallback(out, mode);
    DiskFile *file = dfile_open(disk, PARTITION_EPG, epg_name, Swap::Yes);
    if (file == nullptr)
        return show_fallback(out, mode);
    uint32_t shown = show_events(file, &state);
    dfile_close(file);
    if (shown == 0)
        return show_fallback(out, mode);
    if (mode == INFO_FULL)
        print_rule(out);
    return 0;
}

void info_json_events(JsonWriter *json, HumaxDisk *disk, const char *epg_name)
{
    if (disk->records.record_length == RECORD_LENGTH_LONG) {
        json_null(json);
        return;
    }
    json_begin_array(json);
    DiskFile *file = dfile_open(disk, PARTITION_EPG, epg_name, Swap::Yes);
    if (file != nullptr) {
        walk_events(file, [json](const uint8_t *record, unsigned record_size, uint32_t, uint32_t) {
            json_begin_object(json);
            json_key(json, "start");
            json_string(json, text_iso_time(epg_be32(record + EVENT_START)));
            json_key(json, "duration");
            json_uint(json, epg_be32(record + EVENT_DURATION));
            json_key(json, "title");
            json_event_text(json, record, EVENT_TITLE, EVENT_TITLE_LENGTH);
            json_key(json, "synopsis");
            json_event_text(json, record, EVENT_SYNOPSIS, record_size - EVENT_SYNOPSIS);
            json_end_object(json);
        });
        dfile_close(file);
    }
    json_end_array(json);
}
