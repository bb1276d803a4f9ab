#include "records/disk_records.h"

#include "common/fatal.h"
#include "common/run_options.h"
#include "records/record_list.h"

namespace {

constexpr uint32_t FORMAT_DETECT = 0xE000000F;
constexpr uint32_t FORMAT_304_A = 0xE000000D;
constexpr uint32_t FORMAT_304_B = 0xE0000030;

} // namespace

HumaxDisk *disk_open(const char *path, const char *mode)
{
    HumaxDisk *disk = disk_open_volume(path, mode);
    disk->records = RecordList{};
    if (run_options.recovery)
        return disk;
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
    return disk;
}
