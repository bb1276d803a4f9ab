#pragma once
// One open recorder disk: its stream, its three partitions (each with its allocation
// table and directory in memory) and its record list.
//
// Opening is two steps: reading (disk_read_volume) takes in whatever the disk holds and
// notes every fault it meets without ending the process; validating
// (disk_validate_volume) reports those faults as the programs always have and ends the
// run at the first one that stops a normal opening. The checker reads without
// validating and reports everything.
#include <cstdint>
#include <string>

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
    uint32_t *fat_on_disk = nullptr; // as last read from or written to the disk (writable disks only)
    uint64_t fat_words = 0;          // words held (the region's words that matter)
    DirEntry *dir_head = nullptr;
    uint32_t free_clusters = 0;
    DirEntry *dir_tail = nullptr;
    int index = 0;
};

// How a disk is to be opened, decided by the caller (the command line).
struct DiskOpenPolicy {
    bool recovery = false; // the record list is not used: recordings are found by name
    bool no_info = false;  // with recovery: only the first partition is read at all
};

// Recovery without information reads the recordings partition alone and accepts a
// damaged partition table and sizes.
inline bool policy_first_partition_only(const DiskOpenPolicy &policy)
{
    return policy.recovery && policy.no_info;
}

// What reading one partition found. Nothing here ended the process.
struct PartitionRead {
    int descriptor_errno = 0;         // the descriptor could not be read
    bool descriptor_past_end = false; // the descriptor lies beyond the end of the disk
    bool unsupported = false;         // a directory not of 256 sectors, or empty clusters
    bool size_mismatch = false;       // the data area does not end with the partition
    uint32_t declared_clusters = 0;   // cluster_count as the descriptor gives it
    bool table_clamped = false;       // the table region holds fewer clusters than that
    bool table_too_large = false;     // a table no real disk has (not loaded)
    int fat_errno = 0;                // the table could not be read
    uint32_t invalid_entries = 0;     // entries naming no cluster, or their own
    uint32_t first_invalid_cluster = 0;
    uint32_t first_invalid_value = 0;
    int dir_errno = 0;                // the directory could not be read
    bool loaded = false;              // table and directory are in memory
};

struct VolumeRead {
    int table_errno = 0;        // sector 0 could not be read
    bool table_unknown = false; // sector 0 lacks the partition markers
    PartitionRead partitions[PARTITION_MAX];
    uint64_t disk_bytes = UINT64_MAX; // the disk's length; UINT64_MAX when unknown
    // Sectors of the used partitions' data areas that lie beyond the end of the disk (a
    // truncated image): they read as zeros.
    uint64_t missing_sectors = 0;
};

// What a failed read of a file's contents does: the programs end the run with the
// system's report, as they always have; a mounted file system notes the error and goes
// on serving.
enum class ReadErrors { End, Note };

struct HumaxDisk {
    DiskStream stream;
    PartitionInfo partitions[PARTITION_MAX];
    RecordList records;
    int partition_count = 0;
    VolumeRead volume;
    std::string path; // as given by the caller, for messages
    ReadErrors read_errors = ReadErrors::End;
    // With ReadErrors::Note: the errno of the first failed read of a file's contents since
    // the caller last set it to 0 (the file then reads as ending at that point).
    int read_errno = 0;
};

// Name of partition i in messages: "AV", "EPG", "MPEG/JPEG".
const char *partition_name(int index);

// Length of one cluster of the partition in bytes.
inline uint64_t cluster_bytes(const PartitionInfo *partition)
{
    return uint64_t{partition->cluster_sectors} * SECTOR_SIZE;
}

// A new, empty disk (nothing opened). Ends the process ("malloc") without memory.
HumaxDisk *disk_create();

// Opens the disk's stream: mode "rb" reads only, "rb+" reads and writes. On failure
// reports why (platform_open_failure: the system's error for `path`, a busy drive as
// mounted or held by another program, a drive refused for the volumes it holds) and ends
// the process.
void disk_open_stream(HumaxDisk *disk, const char *path, const char *mode);

// Takes the disk's lock: exclusive for a run that will write it, shared for a run that
// only reads. A disk held by another run ends the process with
// "%s is in use by another process\n" and status 1; a lock that cannot be taken at all
// with its cause (platform_lock_failure: a loop device whose backing file cannot be
// reached, say).
void disk_lock_or_refuse(HumaxDisk *disk);

// Reads the partition table and descriptors, loads every used partition's allocation
// table and directory as far as they can be read, and notes in disk->volume what it
// found. Never ends the process (except when memory runs out); safe to abandon (every
// table it made is released by disk_close).
void disk_read_volume(HumaxDisk *disk, const DiskOpenPolicy &policy);

// Reports the faults disk_read_volume noted, in the order opening meets them, with the
// documented messages, and ends the process at the first one that stops a normal
// opening. A truncated disk is reported once, and refused for writing.
void disk_validate_volume(const HumaxDisk *disk, const DiskOpenPolicy &policy);

// disk_create, disk_open_stream, disk_read_volume and disk_validate_volume: the volume
// of a disk opened as the programs open it (no lock, no record list; see
// records/disk_records.h). Ends the process with the documented messages on failure.
HumaxDisk *disk_open_volume(const char *path, const char *mode, const DiskOpenPolicy &policy = {});

// Closes the stream and frees the tables, directories and the record list. Writes
// nothing. Accepts a disk at any stage of opening, and null.
void disk_close(HumaxDisk *disk);
