#include "records/info.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "common/error.h"
#include "common/names.h"
#include "disk/file_map.h"
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
    InfoMode mode;
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
// False when the file could not be read (*error says why; the events before were visited).
using EventVisitor = std::function<void(const uint8_t *record, unsigned record_size, uint32_t counted,
                                        uint32_t event_count)>;
bool walk_events(FileMap *file, const EventVisitor &visit, Error *error)
{
    uint8_t count_bytes[EPG_COUNT_SIZE];
    size_t got = 0;
    if (!dfile_map_read(file, 0, count_bytes, sizeof count_bytes, &got, error))
        return false;
    if (got < sizeof count_bytes)
        return true;
    uint32_t event_count = epg_be32(count_bytes);
    unsigned record_size;
    if (!epg_detect_record_size(file, event_count, &record_size, error))
        return false;
    uint32_t last_start = 0xFFFFFFFF;
    uint32_t counted = 0;
    uint8_t record[EPG_RECORD_LONG];
    for (uint64_t offset = EPG_COUNT_SIZE; offset < file->size && counted < event_count; offset += record_size) {
        if (!dfile_map_read(file, offset, record, record_size, &got, error))
            return false;
        if (got < record_size)
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
    return true;
}

// Shows the events of an .epg file, counting them in state->shown. False when it could not
// be read.
bool show_events(FileMap *file, ShowState *state, Error *error)
{
    return walk_events(
        file,
        [state](const uint8_t *record, unsigned record_size, uint32_t counted, uint32_t event_count) {
            state->shown = counted;
            state->event_count = event_count;
            show_event(state, record, record_size);
        },
        error);
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

InfoShown show_fallback(FILE *out, InfoMode mode)
{
    if (mode == INFO_DISABLED) {
        fprintf(out, ": ***Info disabled***");
    } else if (mode == INFO_TITLES) {
        fprintf(out, ": ***Unknown***");
    } else {
        fprintf(out, "No further information available for this recording\n");
        print_rule(out);
    }
    return InfoShown::Fallback;
}

} // namespace

bool cmd_info(HumaxDisk *disk, int number, Error *error)
{
    if (info_describe(stdout, disk, number, error))
        return true;
    if (error_is_set(*error))
        return false;
    warn("Recording %d does not exist\n", number);
    return true;
}

bool info_describe(FILE *out, HumaxDisk *disk, int number, Error *error)
{
    RecordEntry *entry = number >= 1 ? reclist_print(out, disk, number) : nullptr;
    if (entry == nullptr)
        return false;
    char epg_name[DISK_NAME_SIZE];
    format_bounded(epg_name, sizeof epg_name, "%d.epg", entry_be16(entry, ENTRY_FILE_NUMBER));
    // On disks whose entries are too long for the information display the refusal
    // follows the list line; end its line, or the next recording's line joins it.
    InfoShown shown = info_show_checked(out, disk, epg_name, entry, INFO_FULL, error);
    if (shown == InfoShown::Failed)
        return false;
    if (shown == InfoShown::Fallback && disk->records.record_length == RECORD_LENGTH_LONG)
        fprintf(out, "\n");
    return true;
}

InfoShown info_show_checked(FILE *out, HumaxDisk *disk, const char *epg_name,
                            const RecordEntry *entry, InfoMode mode, Error *error)
{
    if (disk->records.record_length == RECORD_LENGTH_LONG) {
        fprintf(out, ": ***Info disabled***");
        return InfoShown::Fallback;
    }
    return info_show(out, disk, epg_name, entry, mode, error);
}

InfoShown info_show(FILE *out, HumaxDisk *disk, const char *epg_name, const RecordEntry *entry,
                    InfoMode mode, Error *error)
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
    FileMapOptions options;
    options.report = true;
    FileMap file;
    if (!dfile_map_name(disk, PARTITION_EPG, epg_name, options, &file))
        return show_fallback(out, mode);
    if (!show_events(&file, &state, error))
        return InfoShown::Failed;
    if (state.shown == 0)
        return show_fallback(out, mode);
    if (mode == INFO_FULL)
        print_rule(out);
    return InfoShown::Shown;
}

void info_json_events(JsonWriter *json, HumaxDisk *disk, const char *epg_name)
{
    if (disk->records.record_length == RECORD_LENGTH_LONG) {
        json_null(json);
        return;
    }
    json_begin_array(json);
    FileMap file;
    if (dfile_map_name(disk, PARTITION_EPG, epg_name, FileMapOptions{}, &file)) {
        // An unreadable part ends the array: the events before it stand.
        Error error;
        walk_events(&file, [json](const uint8_t *record, unsigned record_size, uint32_t, uint32_t) {
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
        }, &error);
    }
    json_end_array(json);
}
