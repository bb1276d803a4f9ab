#include "records/epg_update.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/fatal.h"
#include "disk/disk_file.h"
#include "disk/file_map.h"
#include "records/epg_format.h"
#include "records/text.h"

// Every write of this command keeps each recording's programme information complete on
// the disk under its .epg name or its .tmp name, whenever the process ends:
//   1. the converted copy is written to N.tmp in clusters that the disk's table still
//      shows as free, beside the untouched N.epg;
//   2. commit: N.tmp joins the directory next to N.epg;
//   3. N.epg is deleted and N.tmp renamed to N.epg, committed together (an interruption
//      between the directory and the table write leaks the old clusters, nothing more).
// The clean-up at the start settles what an interrupted run left: a .tmp beside its .epg
// is incomplete or redundant and goes; a .tmp without its .epg is the only, complete,
// converted copy and takes the .epg name.

namespace {

constexpr uint32_t OLD_RECORD_SIZE = EPG_RECORD_SHORT;
constexpr uint32_t NEW_RECORD_SIZE = EPG_RECORD_LONG;
constexpr uint32_t COUNT_SIZE = EPG_COUNT_SIZE;
constexpr uint32_t EPG_FILE_ATTRIBUTES = 0x1000;
constexpr size_t SUFFIX_LENGTH = 4;

bool has_suffix(const std::string &name, const char *suffix)
{
    return name.size() >= SUFFIX_LENGTH &&
           name.compare(name.size() - SUFFIX_LENGTH, SUFFIX_LENGTH, suffix) == 0;
}

std::string with_suffix(const std::string &name, const char *suffix)
{
    return name.substr(0, name.size() - SUFFIX_LENGTH) + suffix;
}

// True for "N" followed by the 4-character suffix, N a file number as the recorder
// writes it (decimal, no leading zero): the only names this command gives its files.
bool numbered(const std::string &name)
{
    size_t digits = name.size() - SUFFIX_LENGTH;
    if (digits == 0 || digits > 5 || (digits > 1 && name[0] == '0'))
        return false;
    for (size_t i = 0; i < digits; ++i)
        if (name[i] < '0' || name[i] > '9')
            return false;
    return std::stoul(name.substr(0, digits)) <= 0xFFFF;
}

// Names "N" and `suffix` of partition 1, in directory order. Taken before any change,
// because deleting and creating files rearranges the directory list.
std::vector<std::string> names_ending_in(HumaxDisk *disk, const char *suffix)
{
    std::vector<std::string> names;
    for (const DirEntry *e = disk->partitions[PARTITION_EPG].dir_head; e != nullptr; e = e->next) {
        char name[DIR_NAME_LENGTH + 1];
        dirent_copy_name(e, name);
        if (has_suffix(name, suffix) && numbered(name))
            names.emplace_back(name);
    }
    return names;
}

// Only N.tmp is this command's own: another .tmp file (2.epg.tmp, foo.tmp) is left alone.
bool clean_up_leftovers(HumaxDisk *disk, Error *error)
{
    for (const std::string &tmp : names_ending_in(disk, ".tmp")) {
        std::string epg = with_suffix(tmp, ".epg");
        if (dfile_exists(disk, PARTITION_EPG, epg.c_str()))
            dfile_delete(disk, PARTITION_EPG, tmp.c_str());
        else
            dfile_rename(disk, PARTITION_EPG, tmp.c_str(), epg.c_str());
    }
    return disk_write_tables(disk, PARTITION_EPG, error);
}


enum class EpgForm { Old, New, Unreadable };

bool decide_form(FileMap *file, EpgForm *form, Error *error)
{
    uint8_t count[COUNT_SIZE];
    size_t got = 0;
    if (!dfile_map_read(file, 0, count, COUNT_SIZE, &got, error))
        return false;
    uint64_t size = file->size;
    *form = EpgForm::New;
    if (got < COUNT_SIZE)
        *form = EpgForm::Unreadable;
    if (got < COUNT_SIZE || size == COUNT_SIZE) // no events: nothing to convert
        return true;
    uint32_t event_count = epg_be32(count);
    bool fits_new = size % NEW_RECORD_SIZE == COUNT_SIZE;
    bool fits_old = size % OLD_RECORD_SIZE == COUNT_SIZE;
    if (fits_new != fits_old) {
        *form = fits_new ? EpgForm::New : EpgForm::Old;
        return true;
    }
    // Sizes of both forms (4 + k x 27224) and of neither (damaged) go by the content.
    unsigned record_size;
    if (!epg_detect_record_size(file, event_count, &record_size, error))
        return false;
    *form = record_size == NEW_RECORD_SIZE ? EpgForm::New : EpgForm::Old;
    return true;
}

// What copying the converted records came to.
enum class Copied { Complete, Short, Failed };

// Copies the count and every complete 328-byte record, each followed by 4 zero bytes.
// Short when the source delivered fewer records than its size promised.
Copied copy_converted(FileMap *source, DiskFile *target, uint64_t records, Error *error)
{
    uint8_t record[NEW_RECORD_SIZE] = {};
    size_t got = 0;
    if (!dfile_map_read(source, 0, record, COUNT_SIZE, &got, error))
        return Copied::Failed;
    if (got < COUNT_SIZE)
        return Copied::Short;
    if (!dfile_write(record, COUNT_SIZE, target, error))
        return Copied::Failed;
    for (uint64_t i = 0; i < records; ++i) {
        if (!dfile_map_read(source, COUNT_SIZE + i * OLD_RECORD_SIZE, record, OLD_RECORD_SIZE, &got, error))
            return Copied::Failed;
        if (got < OLD_RECORD_SIZE)
            return Copied::Short;
        memset(record + OLD_RECORD_SIZE, 0, NEW_RECORD_SIZE - OLD_RECORD_SIZE);
        if (!dfile_write(record, NEW_RECORD_SIZE, target, error))
            return Copied::Failed;
    }
    return Copied::Complete;
}

bool convert_file(HumaxDisk *disk, FileMap *source, const std::string &epg, Error *error)
{
    warn("Updating %s to v20+\n", text_shown(epg.c_str()).c_str());
    std::string tmp = with_suffix(epg, ".tmp");
    uint64_t records = (source->size - COUNT_SIZE) / OLD_RECORD_SIZE; // a short tail is dropped
    DiskFile *target = dfile_create(disk, PARTITION_EPG, tmp.c_str(),
                                    COUNT_SIZE + records * NEW_RECORD_SIZE,
                                    EPG_FILE_ATTRIBUTES, Swap::Yes, error);
    if (target == nullptr)
        return false;
    Copied copied = copy_converted(source, target, records, error);
    dfile_close(target);
    if (copied != Copied::Complete) {
        // Never committed: dropping it from memory leaves the disk as it was.
        dfile_delete(disk, PARTITION_EPG, tmp.c_str());
        if (copied == Copied::Failed)
            return false;
        warn("Error reading %s - left unchanged\n", text_shown(epg.c_str()).c_str());
        return true;
    }
    if (!disk_write_tables(disk, PARTITION_EPG, error))
        return false;
    dfile_delete(disk, PARTITION_EPG, epg.c_str());
    dfile_rename(disk, PARTITION_EPG, tmp.c_str(), epg.c_str());
    return disk_write_tables(disk, PARTITION_EPG, error);
}

bool update_file(HumaxDisk *disk, const std::string &epg, Error *error)
{
    FileMapOptions options;
    options.report = true;
    FileMap file;
    if (!dfile_map_name(disk, PARTITION_EPG, epg.c_str(), options, &file))
        return true;
    EpgForm form;
    if (!decide_form(&file, &form, error))
        return false;
    switch (form) {
    case EpgForm::New:
        warn("File %s is already at v20+\n", text_shown(epg.c_str()).c_str());
        return true;
    case EpgForm::Unreadable:
        warn("File %s is too short for programme information - left unchanged\n",
             text_shown(epg.c_str()).c_str());
        return true;
    case EpgForm::Old:
        break;
    }
    return convert_file(disk, &file, epg, error);
}

} // namespace

bool epg_update_all(HumaxDisk *disk, Error *error)
{
    if (disk->records.record_length != RECORD_LENGTH_SHORT)
        return error_set(error, ErrorKind::Refused, "9200C is not supported\n");
    if (!clean_up_leftovers(disk, error))
        return false;
    // The recorder's programme information is N.epg; so the only temporaries this command
    // ever writes are N.tmp, and nothing else is taken for one.
    for (const std::string &epg : names_ending_in(disk, ".epg"))
        if (!update_file(disk, epg, error))
            return false;
    return true;
}
