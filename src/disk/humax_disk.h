#pragma once
// One open recorder disk: its stream, its three partitions (each with its allocation
// table and directory in memory) and its record list.
//
// Opening reads whatever the disk holds and notes every fault it meets (disk->volume);
// then, unless told otherwise, judges those faults as the programs always have: the first
// one that stops a normal opening fails it with their message. The checker opens without
// judging and reports everything. Programs open disks with disk_open
// (records/disk_open.h), which also loads the record list.
#include <cstdint>
#include <functional>
#include <string>

#include "common/error.h"
#include "common/record_entry.h"
#include "disk/directory.h"
#include "disk/disk_io.h"

constexpr int PARTITION_AV = 0;
constexpr int PARTITION_EPG = 1;
constexpr int PARTITION_COUNT = 3;

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
    PartitionRead partitions[PARTITION_COUNT];
    uint64_t disk_bytes = UINT64_MAX; // the disk's length; UINT64_MAX when unknown
    // Sectors of the used partitions' data areas that lie beyond the end of the disk (a
    // truncated image): they read as zeros.
    uint64_t missing_sectors = 0;
};

struct HumaxDisk {
    DiskStream stream;
    PartitionInfo partitions[PARTITION_COUNT];
    RecordList records;
    int partition_count = 0;
    VolumeRead volume;
    std::string path; // as given by the caller, for messages
    // With RecordListLoad::Optional: why the record list was left empty (kind None when it
    // was loaded).
    Error list_error;
};

// Where a disk's bytes are: an image file or a drive of this host, or memory.
struct DiskSource {
    std::string path;             // the file or drive; with `memory`, the name in messages
    MemoryImage *memory = nullptr; // when set: the disk is this image, read and written in place
};

// How much of what opening finds is judged.
enum class Validation : uint8_t {
    Strict, // as the programs open a disk: the first fault that stops them fails the opening
    None,   // nothing is judged or said: the findings are in disk->volume (the checker)
};

// Whether and how the record list is loaded (records/disk_open.h).
enum class RecordListLoad : uint8_t {
    Skip,     // not read at all (recovery mode, the checker, the disk library's own tests)
    Required, // its problems fail the opening, as the commands have it
    Optional, // its problems leave it empty and are kept in disk->list_error (the mount);
              // an unknown disk format still fails the opening
};

struct DiskOpenOptions {
    bool writable = false; // open for reading and writing
    bool lock = false;     // take the disk's lock: exclusive when writable, shared otherwise
    bool direct = false;   // bypass the host's cache (only aligned transfers reach the disk)
    DiskOpenPolicy policy;
    Validation validation = Validation::Strict;
    RecordListLoad list = RecordListLoad::Skip;
    // The question a disk of detected record length without a record list needs: true for
    // 304-byte entries (a Finnish 9200). Without it the length stays undecided and the list
    // empty. Opening asks nothing itself.
    std::function<bool()> ask_short_entries;
    // Called with the opened stream before anything is read (tests and the programs' test
    // hooks wrap it in a fault injector).
    std::function<void(DiskStream *stream)> wrap_stream;
    // Called once the volume is judged, before the record list: false (with *error set)
    // fails the opening (the writing commands refuse a damaged disk this way).
    std::function<bool(const HumaxDisk *disk, Error *error)> vet_volume;
    // The other disk of a copy, which this one must not be: refused before the lock with
    // "%s and %s are the same disk: copying a disk onto itself is refused\n", the disk
    // opened first named first. `distinct_from`: the other disk, open (the streams are
    // compared); `distinct_from_path`: the other disk, still to be opened (the file or
    // device its path names now is compared), so that a copy's two disks are told apart
    // before either is read.
    const HumaxDisk *distinct_from = nullptr;
    std::string distinct_from_path;
};

// Name of partition i in messages: "AV", "EPG", "MPEG/JPEG".
const char *partition_name(int index);

// Length of one cluster of the partition in bytes.
inline uint64_t cluster_bytes(const PartitionInfo *partition)
{
    return uint64_t{partition->cluster_sectors} * SECTOR_SIZE;
}

// The volume part of disk_open (records/disk_open.h, the call programs open disks with):
// opens the stream (on failure the message is platform_open_failure's: the system's
// error for the path, a busy drive as mounted or held by another program, a drive refused
// for the volumes it holds), refuses a disk the same as the other disk of a copy, takes the
// lock (platform_lock_failure's message: "%s is in use by another process\n" when another
// run holds it, else why it cannot be taken), reads the partition table, the descriptors
// and every used partition's allocation table and directory, judges them as
// options.validation says (warnings go to the message sink) and calls options.vet_volume.
// On success *disk holds the disk; on failure it is null, *error says why, and nothing is
// left open.
bool disk_open_volume(const DiskSource &source, const DiskOpenOptions &options, HumaxDisk **disk,
                      Error *error);

// Closes the stream and frees the tables, directories and the record list. Writes
// nothing. Accepts a disk at any stage of opening, and null.
void disk_close(HumaxDisk *disk);

// Commits partition i: the allocations, its directory, then the clusters freed, each
// synced before the next. Refuses a directory longer than its region before anything is
// written (dir_require_room's error). False, with *error set (ErrorKind::Write and the
// system's error: "Disk: ..." for a sync, "FAT: ..." or "Directory: ..." for a write), at
// the first step that fails; nothing is written after it, so the disk is as an
// interrupted commit leaves it, and the caller must not go on writing to the partition.
bool disk_write_tables(HumaxDisk *disk, int index, Error *error);
