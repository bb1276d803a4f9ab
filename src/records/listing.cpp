#include "records/listing.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <unordered_map>
#include <unordered_set>

#include "common/names.h"
#include "common/run_options.h"
#include "disk/directory.h"
#include "records/dvb_text.h"
#include "records/text.h"

namespace {

constexpr size_t DATE_SIZE = 24;
const char *const LIST_DATE = "%a %d/%m/%y %H:%M";
const char *const NAME_DATE = "%Y%m%d %H%M";

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

void print_line(FILE *out, const RecordEntry *entry, int number, const char *date)
{
    if (entry->state & STATE_AV_PRESENT)
        fprintf(out, "%3d:", number);
    else
        fprintf(out, "{%3d}:", number);
    if (run_options.extended)
        fprintf(out, "%3d.av", entry_be16(entry, ENTRY_FILE_NUMBER));
    auto length = static_cast<int32_t>(entry_be32(entry, ENTRY_END_TIME) -
                                       entry_be32(entry, ENTRY_START_TIME));
    char title[ENTRY_TITLE_LENGTH + 1] = {};
    memcpy(title, entry->bytes + ENTRY_TITLE, ENTRY_TITLE_LENGTH);
    const char *shown = text_skip_charset(title);
    char printable[sizeof "Unsupported character encoding" + ENTRY_TITLE_LENGTH];
    text_printable(shown, printable);
    char channel[ENTRY_CHANNEL_LENGTH + 1] = {};
    memcpy(channel, entry->bytes + ENTRY_CHANNEL, ENTRY_CHANNEL_LENGTH);
    fprintf(out, " %.24s %2ld:%02ld:%02ld %s - %s\n", date, static_cast<long>(length / 3600),
            static_cast<long>(length / 60 % 60), static_cast<long>(length % 60), printable,
            text_shown(channel).c_str());
}

// "YYYYmmdd HHMM title" as the recording's own (not yet unique) stem. The title field is
// 52 bytes, so the stem is far shorter than a host name may be.
std::string plain_stem(const RecordEntry *entry)
{
    char date[DATE_SIZE];
    format_time(entry_be32(entry, ENTRY_START_TIME), NAME_DATE, date);
    char title[ENTRY_TITLE_LENGTH + 1] = {};
    memcpy(title, entry->bytes + ENTRY_TITLE, ENTRY_TITLE_LENGTH);
    std::string stem = std::string(date) + " " + text_skip_charset(title);
    sanitize_file_name(stem.data());
    // DEL is no character of a name either, and it would reach the terminal inside the
    // messages that name host files.
    for (char &c : stem) {
        if (c == '\x7F')
            c = '_';
    }
    return stem;
}

// The plain stem with the title in UTF-8: ASCII cleaned as sanitize_file_name cleans it,
// DEL and the C1 controls (U+0080-U+009F) as '_', every other character as decoded.
std::string utf8_plain_stem(const RecordEntry *entry)
{
    std::string title;
    if (!dvb_text_utf8(entry->bytes + ENTRY_TITLE, ENTRY_TITLE_LENGTH, &title))
        return plain_stem(entry);
    char date[DATE_SIZE];
    format_time(entry_be32(entry, ENTRY_START_TIME), NAME_DATE, date);
    std::string stem = std::string(date) + " ";
    for (size_t i = 0; i < title.size(); ++i) {
        auto byte = static_cast<unsigned char>(title[i]);
        if (byte == 0xC2 && i + 1 < title.size() && static_cast<unsigned char>(title[i + 1]) < 0xA0) {
            stem += '_';
            ++i;
        } else if (byte < 0x20 || byte == 0x7F || (byte < 0x80 && strchr("\"/\\<>?:*|", byte) != nullptr)) {
            stem += '_';
        } else {
            stem += title[i];
        }
    }
    return stem;
}

// Windows and FAT/exFAT drives take names that differ only in the case of ASCII letters
// for one file (bytes above 0x7F never reach a stem).
std::string folded(std::string name)
{
    for (char &c : name) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return name;
}

std::string numbered_stem(const std::string &plain, const RecordEntry *entry, unsigned k)
{
    std::string stem = plain + " (" + std::to_string(entry_be16(entry, ENTRY_FILE_NUMBER));
    return stem + (k > 1 ? "-" + std::to_string(k) : "") + ")";
}

// The stems of every numbered recording, in list order. A plain stem that no other
// recording shares stays as it is; recordings that share one all take their file number,
// so that no name passes from one recording to another when a recording is deleted or
// added. A suffix that meets a name already given counts on ("-2", "-3", ...): only a
// damaged list gives two recordings one file number, or a title that reads like a
// suffix; the names being finite, the counter ends.
using PlainStem = std::string (*)(const RecordEntry *entry);

std::vector<std::string> unique_stems(const HumaxDisk *disk, PlainStem plain_stem)
{
    std::vector<const RecordEntry *> entries;
    std::vector<std::string> plain;
    std::unordered_map<std::string, int> sharing;
    for (const RecordEntry *entry = disk->records.head; entry != nullptr && numbered(entry);
         entry = entry->next) {
        entries.push_back(entry);
        plain.push_back(plain_stem(entry));
        ++sharing[folded(plain.back())];
    }
    std::unordered_set<std::string> taken;
    for (const std::string &stem : plain) {
        if (sharing[folded(stem)] == 1)
            taken.insert(folded(stem));
    }
    std::vector<std::string> stems;
    for (size_t i = 0; i < entries.size(); ++i) {
        std::string stem = plain[i];
        if (sharing[folded(stem)] > 1) {
            unsigned k = 1;
            do
                stem = numbered_stem(plain[i], entries[i], k++);
            while (taken.count(folded(stem)) != 0);
            taken.insert(folded(stem));
        }
        stems.push_back(stem);
    }
    return stems;
}

RecordEntry *walk(FILE *out, HumaxDisk *disk, int number, char *host_name)
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
        format_time(start, host_name != nullptr ? NAME_DATE : LIST_DATE, date);
        if (host_name != nullptr) {
            std::optional<std::string> stem = reclist_host_stem(disk, index);
            format_bounded(host_name, HOST_NAME_SIZE, "%s.ts", stem ? stem->c_str() : "");
        }
        print_line(out, entry, index, date);
        result = entry;
    }
    return result;
}

} // namespace

RecordEntry *reclist_walk(HumaxDisk *disk, int number, char *host_name)
{
    return walk(stdout, disk, number, host_name);
}

RecordEntry *reclist_walk_to(HumaxDisk *disk, int number, char *host_name)
{
    if (number < 1)
        return nullptr;
    return reclist_walk(disk, number, host_name);
}

RecordEntry *reclist_print(FILE *out, HumaxDisk *disk, int number)
{
    if (number < 0)
        return nullptr;
    return walk(out, disk, number, nullptr);
}

std::vector<std::string> reclist_host_stems(const HumaxDisk *disk)
{
    return unique_stems(disk, plain_stem);
}

std::vector<std::string> reclist_utf8_stems(const HumaxDisk *disk)
{
    return unique_stems(disk, utf8_plain_stem);
}

std::optional<std::string> reclist_host_stem(const HumaxDisk *disk, int number)
{
    std::vector<std::string> stems = unique_stems(disk, plain_stem);
    if (number < 1 || static_cast<size_t>(number) > stems.size())
        return std::nullopt;
    return stems[static_cast<size_t>(number - 1)];
}

std::string reclist_plain_stem(const RecordEntry *entry)
{
    return plain_stem(entry);
}

std::string reclist_numbered_stem(const RecordEntry *entry)
{
    return numbered_stem(plain_stem(entry), entry, 1);
}
