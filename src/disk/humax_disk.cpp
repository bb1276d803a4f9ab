#include "disk/humax_disk.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "common/fatal.h"
#include "common/run_options.h"
#include "disk/fat.h"

namespace {

const char *const PARTITION_NAMES[PARTITION_MAX] = {"AV", "EPG", "MPEG/JPEG"};

constexpr unsigned TABLE_MARKER = 444;
constexpr unsigned TABLE_STRIDE = 16;
constexpr uint16_t TABLE_MARKER_VALUE = 0x00AF;
constexpr uint32_t FALLBACK_START_SECTOR = 16;

uint16_t le16(const uint8_t *sector, unsigned offset)
{
    return static_cast<uint16_t>(sector[offset] | sector[offset + 1] << 8);
}

uint32_t le32(const uint8_t *sector, unsigned offset)
{
    return uint32_t{sector[offset]} | uint32_t{sector[offset + 1]} << 8 |
           uint32_t{sector[offset + 2]} << 16 | uint32_t{sector[offset + 3]} << 24;
}

// The table builds each 32-bit value from two 16-bit halves held in different words.
uint32_t table_value(const uint8_t *sector, unsigned high, unsigned low)
{
    return uint32_t{le16(sector, high)} << 16 | le16(sector, low);
}

bool table_recognised(const uint8_t *sector)
{
    for (int i = 0; i < PARTITION_MAX; ++i) {
        if (le16(sector, TABLE_MARKER + TABLE_STRIDE * i) != TABLE_MARKER_VALUE)
            return false;
    }
    return true;
}

bool recovery_without_info()
{
    return run_options.recovery && run_options.no_info;
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
    return index >= 0 && index < PARTITION_MAX ? PARTITION_NAMES[index] : "?";
}

void part_read_table(HumaxDisk *disk)
{
    uint8_t sector[SECTOR_SIZE];
    if (!disk_read_at(&disk->stream, 0, sector, sizeof sector))
        fatal_errno("Partition table");
    if (table_recognised(sector)) {
        for (int i = 0; i < PARTITION_MAX; ++i) {
            PartitionInfo *p = &disk->partitions[i];
            unsigned base = TABLE_STRIDE * i;
            p->sector_count = table_value(sector, 448 + base, 454 + base);
            p->start_sector = table_value(sector, 456 + base, 462 + base);
        }
        disk->partition_count = PARTITION_MAX;
    } else {
        fprintf(stderr, "Unknown partition table\n");
        if (!recovery_without_info())
            fatal_exit(1);
        disk->partitions[0].start_sector = FALLBACK_START_SECTOR;
        disk->partitions[0].sector_count = 0;
        disk->partition_count = 1;
    }
    // A damaged disk is rescued from its recordings partition alone.
    if (recovery_without_info())
        disk->partition_count = 1;
}

void part_load(HumaxDisk *disk)
{
    for (int i = 0; i < disk->partition_count; ++i) {
        PartitionInfo *p = &disk->partitions[i];
        p->index = i;
        char label[32];
        snprintf(label, sizeof label, "Partition %d", i);
        uint8_t descriptor[SECTOR_SIZE];
        if (!disk_read_at(&disk->stream, sector_position(p->start_sector), descriptor,
                          sizeof descriptor))
            fatal_errno(label);
        read_descriptor(p, descriptor);
        // Clusters of no sectors would make every cluster position meaningless.
        if (p->dir_sectors != DIR_REQUIRED_SECTORS || p->cluster_sectors == 0)
            fatal("Unsupported partition\n");
        if (p->sector_count != p->data_sector + p->data_sectors - p->start_sector) {
            fprintf(stderr, "%s partition size mismatch\n", partition_name(i));
            if (!recovery_without_info())
                fatal_exit(1);
        }
        fat_load(disk, i);
        p->free_clusters = fat_free_count(p);
    }
}

HumaxDisk *disk_open_volume(const char *path, const char *mode)
{
    HumaxDisk *disk = new (std::nothrow) HumaxDisk{};
    if (disk == nullptr)
        fatal_errno("malloc");
    if (!disk_stream_open(&disk->stream, path, mode))
        fatal_errno(path);
    part_read_table(disk);
    part_load(disk);
    for (int i = 0; i < disk->partition_count; ++i)
        dir_load(disk, i);
    return disk;
}

void disk_close(HumaxDisk *disk)
{
    if (disk == nullptr)
        return;
    disk_stream_close(&disk->stream);
    for (int i = 0; i < disk->partition_count; ++i) {
        dir_clear(&disk->partitions[i]);
        fat_release(&disk->partitions[i]);
    }
    reclist_clear(&disk->records);
    delete disk;
}
