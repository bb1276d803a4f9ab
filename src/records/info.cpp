#include "records/info.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/names.h"
#include "disk/disk_file.h"
#include "records/listing.h"
#include "records/text.h"

namespace {

constexpr unsigned EPG_COUNT_SIZE = 4;
constexpr unsigned EPG_RECORD_SHORT = 328;
constexpr unsigned EPG_RECORD_LONG = 332;
constexpr unsigned EPG_PROBE_SIZE = 340;
constexpr unsigned EVENT_START = 4;
constexpr unsigned EVENT_DURATION = 8;
constexpr unsigned EVENT_TITLE = 15;
constexpr unsigned EVENT_TITLE_LENGTH = 52;
constexpr unsigned EVENT_SYNOPSIS = 67;
constexpr size_t DISK_NAME_SIZE = 21;

uint32_t be32_at(const uint8_t *bytes)
{
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 |
           uint32_t{bytes[3]};
}

// Reads up to `length` bytes (any length) through the file's buffer; returns how many
// arrived (fewer only at the end of the file).
size_t read_exact(DiskFile *file, uint8_t *destination, size_t length)
{
    size_t got = 0;
    while (got < length) {
        const uint8_t *data;
        size_t want = length - got;
        uint32_t n = dfile_read(&data, want > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(want),
                                file);
        if (n == 0)
            break;
        memcpy(destination + got, data, n);
        got += n;
    }
    return got;
}

// The record size at which the second event starts exactly where the first one ends,
// trying the older 328 first; 328 when that cannot be told.
unsigned detect_record_size(DiskFile *file, uint32_t event_count)
{
    uint8_t probe[EPG_PROBE_SIZE];
    size_t got = read_exact(file, probe, sizeof probe);
    if (event_count <= 1 || got < sizeof probe)
        return EPG_RECORD_SHORT;
    uint32_t first_end = be32_at(probe + EVENT_START) + be32_at(probe + EVENT_DURATION);
    if (be32_at(probe + EPG_RECORD_SHORT + EVENT_START) == first_end)
        return EPG_RECORD_SHORT;
    if (be32_at(probe + EPG_RECORD_LONG + EVENT_START) == first_end)
        return EPG_RECORD_LONG;
    return EPG_RECORD_SHORT;
}

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
    const RecordEntry *entry;
    int mode;
    uint32_t event_count;
    uint32_t shown = 0;     // events with a duration, repeats included
    uint32_t displayed = 0; // events printed
    int64_t remaining = 0; // of the recording's length, after the events shown so far
};

void show_event(ShowState *state, const uint8_t *record, unsigned record_size)
{
    EventText text;
    event_text(record, record_size, &text);
    const char *title = text_skip_charset(text.title);
    if (state->mode == INFO_TITLES) {
        printf("%s: %s", state->displayed > 0 ? " " : "", title);
        ++state->displayed;
        return;
    }
    if (state->entry != nullptr) {
        // The last event runs to the end of the recording, whatever its own field says.
        uint32_t duration = be32_at(record + EVENT_DURATION);
        if (state->shown == state->event_count) {
            duration = state->remaining < 0 ? 0 : static_cast<uint32_t>(state->remaining);
        } else {
            state->remaining -= duration;
        }
        printf("\n%s (%u:%02u:%02u)\n", title, duration / 3600, duration / 60 % 60,
               duration % 60);
    } else {
        printf("\n%s\n", title);
    }
    ++state->displayed;
    print_wrapped(text_skip_charset(text.synopsis));
    printf("\n");
}

// Shows the events of an open .epg file; returns how many were counted.
uint32_t show_events(DiskFile *file, ShowState *state)
{
    uint8_t count_bytes[EPG_COUNT_SIZE];
    if (read_exact(file, count_bytes, sizeof count_bytes) < sizeof count_bytes)
        return 0;
    state->event_count = be32_at(count_bytes);
    unsigned record_size = detect_record_size(file, state->event_count);
    dfile_rewind(file);
    read_exact(file, count_bytes, sizeof count_bytes);
    uint32_t last_start = 0xFFFFFFFF;
    uint8_t record[EPG_RECORD_LONG];
    while (!dfile_eof(file) && state->shown < state->event_count) {
        if (read_exact(file, record, record_size) < record_size)
            break;
        if (be32_at(record + EVENT_DURATION) == 0)
            continue;
        ++state->shown;
        // A repeated start is the same event again: it counts but is not shown.
        uint32_t start = be32_at(record + EVENT_START);
        if (start == last_start)
            continue;
        last_start = start;
        show_event(state, record, record_size);
    }
    return state->shown;
}

int show_fallback(int mode)
{
    if (mode == INFO_DISABLED) {
        printf(": ***Info disabled***");
    } else if (mode == INFO_TITLES) {
        printf(": ***Unknown***");
    } else {
        printf("No further information available for this recording\n");
        print_rule();
    }
    return 1;
}

} // namespace

int cmd_info(HumaxDisk *disk, int number)
{
    RecordEntry *entry = reclist_walk_to(disk, number, nullptr);
    if (entry == nullptr) {
        fprintf(stderr, "Recording %d does not exist\n", number);
        return 0;
    }
    char epg_name[DISK_NAME_SIZE];
    format_bounded(epg_name, sizeof epg_name, "%d.epg", entry_be16(entry, ENTRY_FILE_NUMBER));
    // On disks whose entries are too long for the information display the refusal
    // follows the list line; end its line, or the next recording's line joins it.
    if (info_show_checked(disk, epg_name, entry, INFO_FULL) != 0 &&
        disk->records.record_length == RECORD_LENGTH_LONG)
        printf("\n");
    return 0;
}

int info_show_checked(HumaxDisk *disk, const char *epg_name, const RecordEntry *entry, int mode)
{
    if (disk->records.record_length == RECORD_LENGTH_LONG) {
        printf(": ***Info disabled***");
        return 1;
    }
    return info_show(disk, epg_name, entry, mode);
}

int info_show(HumaxDisk *disk, const char *epg_name, const RecordEntry *entry, int mode)
{
    ShowState state{entry, mode, 0};
    if (entry != nullptr) {
        state.remaining = static_cast<int32_t>(entry_be32(entry, ENTRY_END_TIME) -
                                               entry_be32(entry, ENTRY_START_TIME));
        printf("LCN: %u%s\n", unsigned{entry_be16(entry, ENTRY_LCN)},
               entry_is_protected(entry, disk->records.record_length) ? " (Protected)" : "");
    }
    if (mode == INFO_DISABLED)
        return show_fallback(mode);
    DiskFile *file = dfile_open(disk, PARTITION_EPG, epg_name, Swap::Yes);
    if (file == nullptr)
        return show_fallback(mode);
    uint32_t shown = show_events(file, &state);
    dfile_close(file);
    if (shown == 0)
        return show_fallback(mode);
    if (mode == INFO_FULL)
        print_rule();
    return 0;
}
