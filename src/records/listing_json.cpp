#include "records/listing_json.h"

#include "common/names.h"
#include "disk/directory.h"
#include "records/dvb_text.h"
#include "records/info.h"
#include "records/recovery_names.h"
#include "records/text.h"

namespace {

bool numbered(const RecordEntry *entry)
{
    uint16_t number = entry_be16(entry, ENTRY_FILE_NUMBER);
    return number != 0 && number == entry_be16(entry, ENTRY_FILE_NUMBER_CHECK);
}

void text_field(JsonWriter *json, const RecordEntry *entry, unsigned offset, unsigned length)
{
    std::string text;
    if (dvb_text_utf8(entry->bytes + offset, length, &text))
        json_string(json, text);
    else
        json_null(json);
}

void raw_field(JsonWriter *json, const RecordEntry *entry, unsigned offset, unsigned length)
{
    while (length > 0 && entry->bytes[offset + length - 1] == 0)
        --length;
    json_string(json, json_hex(entry->bytes + offset, length));
}

// The recording's stream file, or null when it is missing.
const DirEntry *stream_of(HumaxDisk *disk, const RecordEntry *entry)
{
    char name[DISK_NAME_SIZE];
    format_bounded(name, sizeof name, "%d.av", entry_be16(entry, ENTRY_FILE_NUMBER));
    return dir_find(&disk->partitions[PARTITION_AV], name);
}

// N of a name "N.av" (N decimal, without leading zeros, below 65536), or -1.
long recovery_file_number(const std::string &name)
{
    size_t dot = name.find('.');
    if (dot == 0 || dot > 5 || (name[0] == '0' && dot > 1))
        return -1;
    long number = 0;
    for (size_t i = 0; i < dot; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return -1;
        number = number * 10 + (name[i] - '0');
    }
    return number <= 0xFFFF ? number : -1;
}

} // namespace

std::vector<RecordEntry *> reclist_numbered(HumaxDisk *disk)
{
    std::vector<RecordEntry *> entries;
    for (RecordEntry *entry = disk->records.head; entry != nullptr && numbered(entry); entry = entry->next)
        entries.push_back(entry);
    return entries;
}

void reclist_json_recording(JsonWriter *json, HumaxDisk *disk, int number, const RecordEntry *entry,
                            const std::string &host_stem, bool information)
{
    uint16_t file_number = entry_be16(entry, ENTRY_FILE_NUMBER);
    uint32_t start = entry_be32(entry, ENTRY_START_TIME);
    uint32_t end = entry_be32(entry, ENTRY_END_TIME);
    json_begin_object(json);
    json_key(json, "number");
    json_int(json, number);
    json_key(json, "file_number");
    json_uint(json, file_number);
    json_key(json, "title");
    text_field(json, entry, ENTRY_TITLE, ENTRY_TITLE_LENGTH);
    json_key(json, "title_raw");
    raw_field(json, entry, ENTRY_TITLE, ENTRY_TITLE_LENGTH);
    json_key(json, "channel");
    text_field(json, entry, ENTRY_CHANNEL, ENTRY_CHANNEL_LENGTH);
    json_key(json, "start");
    json_string(json, text_iso_time(start));
    json_key(json, "end");
    json_string(json, text_iso_time(end));
    json_key(json, "duration");
    json_int(json, static_cast<int32_t>(end - start));
    json_key(json, "protected");
    json_bool(json, entry_is_protected(entry, disk->records.record_length));
    json_key(json, "host_name");
    json_string(json, host_stem + ".ts");
    const DirEntry *stream = stream_of(disk, entry);
    json_key(json, "stream_bytes");
    if (stream != nullptr)
        json_uint(json, dirent_size(stream));
    else
        json_null(json);
    json_key(json, "stream_present");
    json_bool(json, stream != nullptr);
    if (information) {
        json_key(json, "lcn");
        json_uint(json, entry_be16(entry, ENTRY_LCN));
        char epg_name[DISK_NAME_SIZE];
        format_bounded(epg_name, sizeof epg_name, "%d.epg", file_number);
        json_key(json, "events");
        info_json_events(json, disk, epg_name);
    }
    json_end_object(json);
}

void recovery_json_recording(JsonWriter *json, HumaxDisk *disk, int number, const DirEntry *entry,
                             const char *name, bool information)
{
    std::string disk_name = name;
    char host_name[RECOVERY_NAME_SIZE];
    format_bounded(host_name, sizeof host_name, RECOVERY_HOST_PATTERN, number);
    json_begin_object(json);
    json_key(json, "number");
    json_int(json, number);
    json_key(json, "name");
    json_string(json, host_name);
    json_key(json, "disk_name");
    json_string(json, disk_name);
    json_key(json, "file_number");
    long file_number = recovery_file_number(disk_name);
    if (file_number >= 0)
        json_uint(json, static_cast<uint64_t>(file_number));
    else
        json_null(json);
    json_key(json, "stream_bytes");
    json_uint(json, dirent_size(entry));
    json_key(json, "buffer");
    json_bool(json, (dirent_get(entry, DIRENT_ATTRIBUTES) & ATTRIBUTE_BUFFER) != 0);
    json_key(json, "events");
    if (information)
        info_json_events(json, disk, (disk_name.substr(0, disk_name.find('.')) + ".epg").c_str());
    else
        json_null(json);
    json_end_object(json);
}
