#include "records/disk_records.h"

#include "common/fatal.h"
#include "records/record_list.h"

namespace {

constexpr uint32_t FORMAT_DETECT = 0xE000000F;
constexpr uint32_t FORMAT_304_A = 0xE000000D;
constexpr uint32_t FORMAT_304_B = 0xE0000030;

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
    uint32_t format = disk->partitions[PARTITION_EPG].format_code;
    if (format == FORMAT_DETECT)
        disk->records.record_length = reclist_detect_record_length(disk);
    else if (format == FORMAT_304_A || format == FORMAT_304_B)
        disk->records.record_length = RECORD_LENGTH_SHORT;
    else
        fatal("Unknown Humax disk format\n");
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
