#pragma once
// One open recorder disk: its stream, its three partitions (each with its allocation
// table and directory in memory) and its record list.
#include <cstdint>

#include "common/record_entry.h"
#include "disk/directory.h"
#include "disk/disk_io.h"

constexpr int PARTITION_AV = 0;
constexpr int PARTITION_EPG = 1;
constexpr int PARTITION_MAX = 3;

struct PartitionInfo {
    // From the partition table.
    uint32_t start_sector = 0;
    uint32_t sector_count = 0;
    // From the descriptor (the partition's first sector).
    uint32_t format_code = 0;
    uint32_t dir_sector = 0;
    uint32_t fat_sector = 0;
    uint32_t cluster_sectors = 0;
    uint32_t cluster_count = 0; // as usable: never more than the table region holds
    uint32_t data_sector = 0;
    uint32_t utab_sector = 0;
    uint32_t utab_sectors = 0;
    uint32_t data_sectors = 0;
    uint32_t fat_sectors = 0;
    uint32_t dir_sectors = 0;
    // In memory.
    uint32_t *fat = nullptr;  // the table as changed in memory (host byte order)
    uint32_t *fat_on_disk = nullptr; // the table as last read from or written to the disk
    uint64_t fat_words = 0;          // words held (the region's words that matter)
    DirEntry *dir_head = nullptr;
    uint32_t free_clusters = 0;
    DirEntry *dir_tail = nullptr;
    int index = 0;
};

struct HumaxDisk {
    DiskStream stream;
    PartitionInfo partitions[PARTITION_MAX];
    RecordList records;
    int partition_count = 0;
};

// Name of partition i in messages: "AV", "EPG", "MPEG/JPEG".
const char *partition_name(int index);

// Length of one cluster of the partition in bytes.
inline uint64_t cluster_bytes(const PartitionInfo *partition)
{
    return uint64_t{partition->cluster_sectors} * SECTOR_SIZE;
}

// Opens `path` ("rb" or "rb+"), reads the partition table and descriptors, loads every
// used partition's allocation table and directory. The record list is not touched (see
// records/disk_records.h). Ends the process with the documented messages on failure.
HumaxDisk *disk_open_volume(const char *path, const char *mode);

// Closes the stream and frees the tables, directories and the record list. Writes nothing.
void disk_close(HumaxDisk *disk);

// The two steps of opening (exposed for tests).
void part_read_table(HumaxDisk *disk);
void part_load(HumaxDisk *disk);
