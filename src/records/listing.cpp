#include "records/listing.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/names.h"
#include "common/run_options.h"
#include "disk/directory.h"
#include "records/text.h"

namespace {

constexpr size_t DATE_SIZE = 24;
constexpr size_t DISK_NAME_SIZE = 21;

bool numbered(const RecordEntry *entry)
{
    uint16_t number = entry_be16(entry, ENTRY_FILE_NUMBER);
    return number != 0 && number == entry_be16(entry, ENTRY_FILE_NUMBER_CHECK);
}

void check_av_present(HumaxDisk *disk, RecordEntry *entry)
{
    if (entry->state & STATE_AV_CHECKED)
        return;
    char name[DISK_NAME_SIZE];
    format_bounded(name, sizeof name, "%d.av", entry_be16(entry, ENTRY_FILE_NUMBER));
    entry->state |= STATE_AV_CHECKED;
    if (dir_find(&disk->partitions[PARTITION_AV], name) != nullptr)
        entry->state |= STATE_AV_PRESENT;
}

// Times from 2038 on are shown too: the field is read as unsigned seconds.
void format_time(uint32_t seconds, const char *format, char *out)
{
    time_t when = static_cast<time_t>(seconds);
    struct tm parts {};
    if (gmtime_r(&when, &parts) == nullptr || strftime(out, DATE_SIZE, format, &parts) == 0)
        out[0] = '\0';
}

void print_line(const RecordEntry *entry, int number, const char *date)
{
    if (entry->state & STATE_AV_PRESENT)
        printf("%3d:", number);
    else
        printf("{%3d}:", number);
    if (run_options.extended)
        printf("%3d.av", entry_be16(entry, ENTRY_FILE_NUMBER));
    auto length = static_cast<int32_t>(entry_be32(entry, ENTRY_END_TIME) -
                                       entry_be32(entry, ENTRY_START_TIME));
    char title[ENTRY_TITLE_LENGTH + 1] = {};
    memcpy(title, entry->bytes + ENTRY_TITLE, ENTRY_TITLE_LENGTH);
    const char *shown = text_skip_charset(title);
    char printable[sizeof "Unsupported character encoding" + ENTRY_TITLE_LENGTH];
    text_printable(shown, printable);
    char channel[ENTRY_CHANNEL_LENGTH + 1] = {};
    memcpy(channel, entry->bytes + ENTRY_CHANNEL, ENTRY_CHANNEL_LENGTH);
    printf(" %.24s %2ld:%02ld:%02ld %s - %s\n", date, static_cast<long>(length / 3600),
           static_cast<long>(length / 60 % 60), static_cast<long>(length % 60), printable,
           channel);
}

void build_host_name(const RecordEntry *entry, const char *date, char *host_name)
{
    char title[ENTRY_TITLE_LENGTH + 1] = {};
    memcpy(title, entry->bytes + ENTRY_TITLE, ENTRY_TITLE_LENGTH);
    snprintf(host_name, HOST_NAME_SIZE, "%s %s.ts", date, text_skip_charset(title));
    sanitize_file_name(host_name);
}

} // namespace

RecordEntry *reclist_walk(HumaxDisk *disk, int number, char *host_name)
{
    RecordEntry *result = nullptr;
    int index = 0;
    for (RecordEntry *entry = disk->records.head; entry != nullptr && numbered(entry);
         entry = entry->next) {
        check_av_present(disk, entry);
        ++index;
        if (number != 0 && index != number)
            continue;
        char date[DATE_SIZE];
        uint32_t start = entry_be32(entry, ENTRY_START_TIME);
        format_time(start, "%a %d/%m/%y %H:%M", date);
        if (host_name != nullptr) {
            format_time(start, "%Y%m%d %H%M", date);
            build_host_name(entry, date, host_name);
        }
        print_line(entry, index, date);
        result = entry;
    }
    return result;
}

RecordEntry *reclist_walk_to(HumaxDisk *disk, int number, char *host_name)
{
    if (number < 1)
        return nullptr;
    return reclist_walk(disk, number, host_name);
}
