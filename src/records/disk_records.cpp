#include "records/disk_records.h"

#include "common/fatal.h"
#include "disk/disk_file.h"
#include "records/record_list.h"

namespace {

constexpr uint32_t FORMAT_DETECT = 0xE000000F;
constexpr uint32_t FORMAT_304_A = 0xE000000D;
constexpr uint32_t FORMAT_304_B = 0xE0000030;

// The record length the disk format of partition 1 fixes; 0 when the list must decide
// (FORMAT_DETECT). An unknown format ends the process.
unsigned format_record_length(const HumaxDisk *disk)
{
    uint32_t format = disk->partitions[PARTITION_EPG].format_code;
    if (format == FORMAT_DETECT)
        return 0;
    if (format == FORMAT_304_A || format == FORMAT_304_B)
        return RECORD_LENGTH_SHORT;
    fatal("Unknown Humax disk format\n");
}

} // namespace

void disk_load(HumaxDisk *disk, const DiskOpenPolicy &policy)
{
    disk_load_volume(disk, policy);
    disk_load_records(disk, policy);
}

void disk_load_volume(HumaxDisk *disk, const DiskOpenPolicy &policy)
{
    disk_read_volume(disk, policy);
    disk_validate_volume(disk, policy);
}

void disk_load_records(HumaxDisk *disk, const DiskOpenPolicy &policy)
{
    disk->records = RecordList{};
    if (policy.recovery)
        return;
    disk->records.record_length = format_record_length(disk);
    if (disk->records.record_length == 0)
        disk->records.record_length = reclist_detect_record_length(disk);
    if (disk->records.record_length == 0)
        fatal("Error: unknown record length\n");
    reclist_load(disk);
}

HumaxDisk *disk_open(const char *path, const char *mode, const DiskOpenPolicy &policy)
{
    HumaxDisk *disk = disk_create();
    disk_open_stream(disk, path, mode);
    disk_load(disk, policy);
    return disk;
}

namespace {

ListLoad read_list(HumaxDisk *disk)
{
    disk->records.record_length = format_record_length(disk);
    if (!dfile_exists(disk, PARTITION_EPG, RECORD_LIST_NAME))
        return ListLoad::Empty; // no recordings: the record length does not matter
    if (disk->records.record_length == 0)
        disk->records.record_length = reclist_record_length_of_list(disk);
    if (disk->read_errno != 0)
        return ListLoad::ReadError;
    if (disk->records.record_length == 0)
        return ListLoad::UnknownLength;
    switch (reclist_read(disk)) {
    case ListRead::Loaded: return ListLoad::Loaded;
    case ListRead::Empty: return ListLoad::Empty;
    case ListRead::NoSignature: return ListLoad::Invalid;
    case ListRead::ReadError: break;
    }
    return ListLoad::ReadError;
}

} // namespace

ListLoad disk_load_tolerant(HumaxDisk *disk)
{
    DiskOpenPolicy policy;
    disk_read_volume(disk, policy);
    disk_validate_volume(disk, policy);
    disk->records = RecordList{};
    ReadErrors saved = disk->read_errors;
    disk->read_errors = ReadErrors::Note;
    disk->read_errno = 0;
    ListLoad found = read_list(disk);
    disk->read_errors = saved;
    if (found != ListLoad::Loaded) {
        unsigned length = disk->records.record_length;
        reclist_clear(&disk->records);
        disk->records.record_length = length;
    }
    return found;
}
