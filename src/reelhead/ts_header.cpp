#include "reelhead/ts_header.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/error.h"
#include "common/fatal.h"
#include "common/names.h"
#include "platform/host_file.h"

namespace {

constexpr char MONTH_NAMES[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
constexpr unsigned FIRST_SCHEME_TITLE = 14; // "YYYYMMDD HHMM" and one separator

struct NameDate {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    size_t title_start = 0;
};

// Stores up to TS_TITLE_TEXT_LENGTH characters of `text`, cleaned, zero-padded.
void put_title_text(RecordEntry *entry, const char *text, size_t length)
{
    char title[TS_TITLE_TEXT_LENGTH + 1] = {};
    memcpy(title, text, std::min<size_t>(length, TS_TITLE_TEXT_LENGTH));
    sanitize_file_name(title);
    memcpy(entry->bytes + TS_TITLE_TEXT, title, TS_TITLE_TEXT_LENGTH);
}

void put_title_string(RecordEntry *entry, const char *text)
{
    put_title_text(entry, text, strlen(text));
}

bool scan_first_scheme(const char *base, NameDate *date)
{
    if (sscanf(base, "%4d%2d%2d %2d%2d", &date->year, &date->month, &date->day,
               &date->hour, &date->minute) != 5)
        return false;
    date->title_start = FIRST_SCHEME_TITLE;
    return true;
}

bool scan_second_scheme(const char *base, NameDate *date)
{
    char month[4] = {};
    int after_minute = -1, after_separator = -1;
    if (sscanf(base, "%*3d_%4d%3s%2d_%2d%2d%n_%n", &date->year, month, &date->day,
               &date->hour, &date->minute, &after_minute, &after_separator) != 5)
        return false;
    const char *found = strstr(MONTH_NAMES, month);
    date->month = found ? static_cast<int>(found - MONTH_NAMES) / 3 + 1 : 1;
    date->title_start = static_cast<size_t>(after_separator >= 0 ? after_separator
                                                                  : after_minute);
    return true;
}

// Seconds since 1970 of the local date, or 0 when it is outside 0..2^32-1.
uint32_t local_seconds(const NameDate &date)
{
    struct tm local {};
    local.tm_year = date.year - 1900;
    local.tm_mon = date.month - 1;
    local.tm_mday = date.day;
    local.tm_hour = date.hour;
    local.tm_min = date.minute;
    local.tm_isdst = 0;
    time_t seconds = mktime(&local);
    if (seconds == static_cast<time_t>(-1) || seconds < 0 || seconds > time_t{UINT32_MAX})
        return 0;
    return static_cast<uint32_t>(seconds);
}

} // namespace

uint32_t ts_parse_file_name(const char *path, RecordEntry *entry)
{
    static constexpr uint8_t prefix[] = {0x10, 'i', '7'};
    memcpy(entry->bytes + ENTRY_TITLE, prefix, sizeof prefix);
    memset(entry->bytes + TS_TITLE_TEXT, 0, TS_TITLE_TEXT_LENGTH);

    const char *base = path;
    for (const char *p = path; *p; ++p) {
        if (*p == '/' || *p == '\\')
            base = p + 1;
    }
    const size_t base_length = strlen(base);
    const char *dot = strrchr(base, '.');
    const size_t title_end = dot ? static_cast<size_t>(dot - base) : base_length;

    int number = 0;
    if (sscanf(base, "recover_%4d", &number) == 1) {
        char title[32];
        format_bounded(title, sizeof title, "Recovered %03d", number);
        put_title_string(entry, title);
        return 0;
    }
    NameDate date;
    if (!scan_first_scheme(base, &date) && !scan_second_scheme(base, &date)) {
        put_title_string(entry, "Recovered unknown");
        return 0;
    }
    const uint32_t start_time = local_seconds(date);
    if (start_time == 0)
        return 0;

    size_t title_start = date.title_start;
    if (title_start + 2 <= base_length && base[title_start] == 'i' && base[title_start + 1] == '7')
        title_start += 2;
    if (title_end > title_start)
        put_title_text(entry, base + title_start, title_end - title_start);
    warn("Start time derived from the filename\n");
    return start_time;
}

void ts_fill_header(const StreamInfo *info, uint32_t start_time, RecordEntry *entry)
{
    const bool no_video = info->video_pid == PID_NONE;
    entry->bytes[ENTRY_MARKER] = 1;
    entry->bytes[ENTRY_NO_VIDEO] = no_video ? 1 : 0;
    entry_put_be32(entry, ENTRY_START_TIME, start_time);
    entry_put_be32(entry, ENTRY_END_TIME, start_time + info->length_seconds);
    memset(entry->bytes + ENTRY_CHANNEL, 0, ENTRY_CHANNEL_LENGTH);
    memcpy(entry->bytes + ENTRY_CHANNEL, "REELHEAD", 8);
    entry_put_be16(entry, ENTRY_LCN, 1);
    entry->bytes[ENTRY_NO_VIDEO_MARKER] = no_video ? 0x20 : 0;
    entry_put_be16(entry, ENTRY_SERVICE_ID, info->program_number);
    entry_put_be16(entry, ENTRY_PMT_PID, info->pmt_pid);
    entry_put_be16(entry, ENTRY_VIDEO_PID, info->video_pid);
    entry_put_be16(entry, ENTRY_AUDIO_PID, info->audio_pid);
    entry_put_be16(entry, ENTRY_PCR_PID, info->pcr_pid);
    entry_put_be16(entry, ENTRY_SPARE_PID, PID_NONE);
    // Constant bytes that the recorder's own headers carry.
    entry->bytes[287] = 0x20;
    entry->bytes[289] = 0xFF;
    entry->bytes[290] = 0x40;
    entry->bytes[295] = 0x23;
    entry->bytes[296] = 0x3A;
}

bool ts_write_header(const StreamInfo *info, const char *path, const char *header_name, Error *error)
{
    HostStatus status;
    if (!host_status_at(HOST_CWD, path, &status))
        return error_set_errno(error, ErrorKind::Open, errno, path);
    RecordEntry entry;
    uint32_t start_time = ts_parse_file_name(path, &entry);
    if (start_time == 0)
        start_time = static_cast<uint32_t>(status.modified);
    ts_fill_header(info, start_time, &entry);

    // Complete or absent, and never in place of a header (or a link) that appeared since
    // the driver looked.
    HostOutput out;
    if (!host_output_begin(&out, header_name))
        return error_set_errno(error, ErrorKind::Open, errno, header_name);
    if (!host_output_write(&out, entry.bytes, RECORD_LENGTH_SHORT)) {
        int code = errno;
        host_output_abandon(&out);
        return error_set_errno(error, ErrorKind::Write, code, header_name);
    }
    if (!host_output_commit(&out, HostReplace::Never))
        return error_set_errno(error, ErrorKind::Open, errno, header_name);
    return true;
}
