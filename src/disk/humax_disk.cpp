#include "disk/humax_disk.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/byte_order.h"
#include "common/fatal.h"
#include "disk/fat.h"
#include "platform/disk_failure.h"

namespace {

const char *const PARTITION_NAMES[PARTITION_COUNT] = {"AV", "EPG", "MPEG/JPEG"};

constexpr unsigned TABLE_MARKER = 444;
constexpr unsigned TABLE_STRIDE = 16;
constexpr uint16_t TABLE_MARKER_VALUE = 0x00AF;
constexpr uint32_t FALLBACK_START_SECTOR = 16;

uint16_t le16(const uint8_t *sector, unsigned offset)
{
    return load_le16(sector + offset);
}

uint32_t le32(const uint8_t *sector, unsigned offset)
{
    return load_le32(sector + offset);
}

// The table builds each 32-bit value from two 16-bit halves held in different words.
uint32_t table_value(const uint8_t *sector, unsigned high, unsigned low)
{
    return uint32_t{le16(sector, high)} << 16 | le16(sector, low);
}

bool table_recognised(const uint8_t *sector)
{
    for (int i = 0; i < PARTITION_COUNT; ++i) {
        if (le16(sector, TABLE_MARKER + TABLE_STRIDE * i) != TABLE_MARKER_VALUE)
            return false;
    }
    return true;
}

void read_descriptor(PartitionInfo *p, const uint8_t *d)
{
    p->format_code = le32(d, 224);
    p->cluster_sectors = le16(d, 230);
    p->cluster_count = le32(d, 232);
    p->utab_sector = le32(d, 244);
    p->dir_sector = le32(d, 252);
    p->fat_sector = le32(d, 260);
    p->data_sector = le32(d, 268);
    p->utab_sectors = le32(d, 272);
    p->dir_sectors = le32(d, 276);
    p->data_sectors = le32(d, 280);
    p->fat_sectors = le32(d, 284);
}

} // namespace

const char *partition_name(int index)
{
    return index >= 0 && index < PARTITION_COUNT ? PARTITION_NAMES[index] : "?";
}

namespace {

// The partition table, or the fallback of recovery without information.
void read_partition_table(HumaxDisk *disk, const DiskOpenPolicy &policy)
{
    VolumeRead *found = &disk->volume;
    uint8_t sector[SECTOR_SIZE];
    if (!disk_read_at(&disk->stream, 0, sector, sizeof sector)) {
        found->table_errno = errno;
        return;
    }
    if (table_recognised(sector)) {
        for (int i = 0; i < PARTITION_COUNT; ++i) {
            PartitionInfo *p = &disk->partitions[i];
            unsigned base = TABLE_STRIDE * i;
            p->sector_count = table_value(sector, 448 + base, 454 + base);
            p->start_sector = table_value(sector, 456 + base, 462 + base);
        }
        disk->partition_count = PARTITION_COUNT;
    } else {
        found->table_unknown = true;
        if (!policy_first_partition_only(policy))
            return;
        disk->partitions[0].start_sector = FALLBACK_START_SECTOR;
        disk->partitions[0].sector_count = 0;
        disk->partition_count = 1;
    }
    // A damaged disk is rescued from its recordings partition alone.
    if (policy_first_partition_only(policy))
        disk->partition_count = 1;
}

bool descriptor_usable(const PartitionInfo *p)
{
    // Clusters of no sectors would make every cluster position meaningless.
    return p->dir_sectors == DIR_REQUIRED_SECTORS && p->cluster_sectors != 0;
}

// The descriptor, table and directory of partition i, as far as they can be read.
void read_partition(HumaxDisk *disk, int i)
{
    PartitionInfo *p = &disk->partitions[i];
    PartitionRead *found = &disk->volume.partitions[i];
    p->index = i;
    uint8_t descriptor[SECTOR_SIZE];
    found->descriptor_past_end = sector_position(p->start_sector) + SECTOR_SIZE > disk->volume.disk_bytes;
    if (!disk_read_at(&disk->stream, sector_position(p->start_sector), descriptor,
                      sizeof descriptor)) {
        found->descriptor_errno = errno;
        return;
    }
    read_descriptor(p, descriptor);
    found->size_mismatch = p->sector_count != p->data_sector + p->data_sectors - p->start_sector;
    if (!descriptor_usable(p)) {
        found->unsupported = true;
        return;
    }
    fat_read(disk, i, found);
    p->free_clusters = fat_free_count(p);
    found->dir_errno = dir_read(disk, i);
    found->loaded = found->fat_errno == 0 && found->dir_errno == 0 && !found->table_too_large;
}

// Sectors of the used partitions' data areas beyond the end of the disk.
uint64_t missing_sectors(const HumaxDisk *disk)
{
    if (disk->volume.disk_bytes == UINT64_MAX)
        return 0;
    uint64_t disk_sectors = disk->volume.disk_bytes / SECTOR_SIZE;
    uint64_t end = 0;
    for (int i = 0; i < disk->partition_count; ++i) {
        const PartitionInfo *p = &disk->partitions[i];
        const PartitionRead &found = disk->volume.partitions[i];
        if (found.descriptor_errno == 0 && !found.unsupported)
            end = std::max(end, uint64_t{p->data_sector} + p->data_sectors);
    }
    return end > disk_sectors ? end - disk_sectors : 0;
}

// A truncated disk is said once, and refused for writing.
bool judge_truncation(const HumaxDisk *disk, Error *error)
{
    uint64_t missing = disk->volume.missing_sectors;
    if (missing == 0)
        return true;
    warn("Warning: the disk ends %llu sectors before the end of its partitions' data "
         "(a truncated image?); what is missing reads as zeros\n",
         static_cast<unsigned long long>(missing));
    if (disk->stream.writable)
        return error_set(error, ErrorKind::Truncated,
                         "Refusing to write to a truncated disk: take the image again\n");
    return true;
}

bool judge_partition(const HumaxDisk *disk, int i, const DiskOpenPolicy &policy, Error *error)
{
    const PartitionRead &found = disk->volume.partitions[i];
    if (found.descriptor_errno != 0) {
        char label[64];
        snprintf(label, sizeof label, "Partition %d descriptor (sector %u)", i,
                 disk->partitions[i].start_sector);
        return error_set_errno(error, ErrorKind::Volume, found.descriptor_errno, label);
    }
    if (found.unsupported) {
        if (found.descriptor_past_end && i > 0)
            return error_set(error, ErrorKind::Volume,
                             "Unsupported partition\n"
                             "The disk ends before the %s partition begins: the image may be "
                             "truncated. Recovery mode without information (-r -n) can still "
                             "read its recordings.\n",
                             partition_name(i));
        return error_set(error, ErrorKind::Volume, "Unsupported partition\n");
    }
    if (found.size_mismatch) {
        if (!policy_first_partition_only(policy))
            return error_set(error, ErrorKind::Volume, "%s partition size mismatch\n", partition_name(i));
        warn("%s partition size mismatch\n", partition_name(i));
    }
    return fat_validate(disk, i, found, error);
}

// Recovery mode that stops at a fault of a partition after the first: without the
// programme information it reads the recordings partition alone, which may still be sound.
bool suggest_no_info(int i, const DiskOpenPolicy &policy, Error *error)
{
    if (i > PARTITION_AV && policy.recovery && !policy.no_info && error->text.find("(-r -n)") == std::string::npos)
        error->text += "Recovery mode without information (-r -n) can still read the recordings: it reads the "
                       "recordings partition alone\n";
    return false;
}

// What the programs say of the volume, in the order opening meets it: false at the first
// fault that stops a normal opening.
bool judge_volume(const HumaxDisk *disk, const DiskOpenPolicy &policy, Error *error)
{
    const VolumeRead &found = disk->volume;
    if (found.table_errno != 0)
        return error_set_errno(error, ErrorKind::Volume, found.table_errno, "Partition table (sector 0)");
    if (found.table_unknown) {
        if (!policy_first_partition_only(policy))
            return error_set(error, ErrorKind::Volume, "Unknown partition table\n");
        warn("Unknown partition table\n");
    }
    if (!judge_truncation(disk, error))
        return false;
    for (int i = 0; i < disk->partition_count; ++i) {
        if (!judge_partition(disk, i, policy, error))
            return suggest_no_info(i, policy, error);
    }
    for (int i = 0; i < disk->partition_count; ++i) {
        if (found.partitions[i].dir_errno != 0) {
            const PartitionInfo *p = &disk->partitions[i];
            char label[96];
            snprintf(label, sizeof label, "Directory of the %s partition (sectors %u-%u)", partition_name(i),
                     p->dir_sector, p->dir_sector + p->dir_sectors - 1);
            error_set_errno(error, ErrorKind::Volume, found.partitions[i].dir_errno, label);
            return suggest_no_info(i, policy, error);
        }
    }
    return true;
}

void read_volume(HumaxDisk *disk, const DiskOpenPolicy &policy)
{
    disk->volume = VolumeRead{};
    disk->volume.disk_bytes = disk_stream_size(&disk->stream);
    read_partition_table(disk, policy);
    for (int i = 0; i < disk->partition_count; ++i)
        read_partition(disk, i);
    disk->volume.missing_sectors = missing_sectors(disk);
}

bool open_stream(HumaxDisk *disk, const DiskSource &source, const DiskOpenOptions &options, Error *error)
{
    const char *path = source.path.c_str();
    if (source.memory != nullptr) {
        disk_stream_open_memory(&disk->stream, source.memory, options.writable);
    } else if (!disk_stream_open(&disk->stream, path, options.writable, options.direct)) {
        int code = errno;
        *error = Error{ErrorKind::Open, code, platform_open_failure(path, code)};
        return false;
    }
    if (options.wrap_stream)
        options.wrap_stream(&disk->stream);
    return true;
}

bool refuse_same(const std::string &first, const std::string &second, Error *error)
{
    return error_set(error, ErrorKind::SameDisk, "%s and %s are the same disk: copying a disk onto itself is refused\n",
                     first.c_str(), second.c_str());
}

// Not the other disk of a copy, whichever of the two is opened first.
bool distinct(const HumaxDisk *disk, const DiskOpenOptions &options, Error *error)
{
    const HumaxDisk *other = options.distinct_from;
    if (other != nullptr && disk_stream_same(&other->stream, &disk->stream))
        return refuse_same(other->path, disk->path, error);
    const std::string &later = options.distinct_from_path;
    if (!later.empty() && disk_stream_reaches(&disk->stream, later.c_str()))
        return refuse_same(disk->path, later, error);
    return true;
}

bool open_volume(HumaxDisk *disk, const DiskSource &source, const DiskOpenOptions &options, Error *error)
{
    if (!open_stream(disk, source, options, error))
        return false;
    if (!distinct(disk, options, error))
        return false;
    DiskLock mode = options.writable ? DiskLock::Exclusive : DiskLock::Shared;
    if (options.lock && !disk_stream_lock(&disk->stream, mode)) {
        int code = errno;
        *error = Error{ErrorKind::Locked, code, platform_lock_failure(disk->path.c_str(), code)};
        return false;
    }
    read_volume(disk, options.policy);
    if (options.validation == Validation::Strict && !judge_volume(disk, options.policy, error))
        return false;
    return !options.vet_volume || options.vet_volume(disk, error);
}

} // namespace

bool disk_open_volume(const DiskSource &source, const DiskOpenOptions &options, HumaxDisk **disk,
                      Error *error)
{
    auto *opened = new HumaxDisk{};
    opened->path = source.path;
    if (!open_volume(opened, source, options, error)) {
        disk_close(opened);
        *disk = nullptr;
        return false;
    }
    *disk = opened;
    return true;
}

void disk_close(HumaxDisk *disk)
{
    if (disk == nullptr)
        return;
    disk_stream_close(&disk->stream);
    for (int i = 0; i < PARTITION_COUNT; ++i) {
        dir_clear(&disk->partitions[i]);
        fat_release(&disk->partitions[i]);
    }
    reclist_clear(&disk->records);
    delete disk;
}

namespace {

bool sync(HumaxDisk *disk, Error *error)
{
    return disk_sync(&disk->stream) || error_set_errno(error, ErrorKind::Write, errno, "Disk");
}

// Writes half of the table with `write`, then syncs when anything was written.
bool write_table(HumaxDisk *disk, PartitionInfo *p, bool (*write)(HumaxDisk *, PartitionInfo *, bool *, Error *),
                 Error *error)
{
    bool wrote = false;
    if (!write(disk, p, &wrote, error))
        return false;
    return !wrote || sync(disk, error);
}

} // namespace

bool disk_write_tables(HumaxDisk *disk, int index, Error *error)
{
    // Each step reaches the disk before the next begins: the contents before the table
    // entries that claim them, those before the directory that names them, and the
    // directory before the freeing of the clusters it no longer names. The first step
    // that fails ends the commit: what was written before it is as an interrupted commit
    // leaves it, which is safe; going on past it would not be.
    PartitionInfo *p = &disk->partitions[index];
    // A directory that cannot be written is refused before the allocations reach the
    // disk: a refused commit leaves every table as it was.
    return dir_require_room(p, error) && sync(disk, error) && write_table(disk, p, fat_write_allocations, error) &&
           dir_write(disk, p, error) && sync(disk, error) && write_table(disk, p, fat_write, error);
}
