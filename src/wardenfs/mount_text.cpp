#include "wardenfs/mount_text.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "common/names.h"
#include "records/dvb_text.h"
#include "records/info.h"
#include "records/programme.h"
#include "records/text.h"
#include "records/listing.h"

std::vector<std::string> mount_recording_stems(HumaxDisk *disk)
{
    return reclist_utf8_stems(disk);
}

namespace {

// What `write` writes to a stream, as text.
template <typename Write> bool written(std::string *text, Write write)
{
    char *data = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&data, &size);
    if (out == nullptr)
        throw std::bad_alloc();
    bool done = write(out);
    fclose(out);
    text->assign(data, size);
    free(data);
    return done;
}

} // namespace

bool mount_recording_text(HumaxDisk *disk, int number, std::string *text, Error *error)
{
    return written(text, [&](FILE *out) { return info_describe(out, disk, number, error); });
}

bool mount_recovery_text(HumaxDisk *disk, int number, const char *epg_name, std::string *text, Error *error)
{
    return written(text, [&](FILE *out) {
        fprintf(out, "Rec: %d\n", number);
        // Recovery reads no record list, so whatever its entries' length, the information
        // is shown.
        return info_show(out, disk, epg_name, nullptr, INFO_FULL, error) != InfoShown::Failed;
    });
}

namespace {

// A text field of the record entry in UTF-8 (empty in a table that is not decoded).
std::string entry_text(const RecordEntry *entry, unsigned at, unsigned length)
{
    std::string utf8;
    if (!dvb_text_utf8(entry->bytes + at, length, &utf8))
        utf8.clear();
    return utf8;
}

} // namespace

bool mount_recording_attributes(HumaxDisk *disk, int number, MountAttributes *attributes, Error *error)
{
    attributes->clear();
    const RecordEntry *entry = reclist_find(&disk->records, number, 0);
    if (entry == nullptr)
        return true;
    uint32_t start = entry_be32(entry, ENTRY_START_TIME);
    auto duration = static_cast<int32_t>(entry_be32(entry, ENTRY_END_TIME) - start);
    attributes->emplace_back("user.title", entry_text(entry, ENTRY_TITLE, ENTRY_TITLE_LENGTH));
    attributes->emplace_back("user.channel", entry_text(entry, ENTRY_CHANNEL, ENTRY_CHANNEL_LENGTH));
    attributes->emplace_back("user.start", text_iso_time(start));
    attributes->emplace_back("user.duration", std::to_string(duration < 0 ? 0 : duration));
    char epg_name[DISK_NAME_SIZE];
    format_bounded(epg_name, sizeof epg_name, "%d.epg", entry_be16(entry, ENTRY_FILE_NUMBER));
    std::string synopsis;
    if (!programme_synopsis(disk, epg_name, &synopsis, error))
        return false;
    if (!synopsis.empty())
        attributes->emplace_back("user.synopsis", synopsis);
    return true;
}
