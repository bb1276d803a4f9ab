#pragma once
// The file allocation table of a partition: word 0 holds the free-cluster count, word
// c + 1 the entry of cluster c (next cluster, FAT_END or FAT_FREE). Held whole in memory
// in host byte order. Only this module indexes the table: the rest of the program walks
// chains with fat_next and places clusters with fat_cluster_sector.
#include <cstdint>

struct PartitionInfo;
struct PartitionRead;
struct HumaxDisk;
struct Error;

constexpr uint32_t FAT_END = 0xFFFFFFFE;
constexpr uint32_t FAT_FREE = 0xFFFFFFFF;

struct ClusterChain {
    uint32_t first = 0;
    uint32_t last = 0;
    uint32_t count = 0;
};

// Entry of cluster c (c below cluster_count).
uint32_t fat_get(const PartitionInfo *partition, uint32_t cluster);
void fat_set(PartitionInfo *partition, uint32_t cluster, uint32_t value);
uint32_t fat_word0(const PartitionInfo *partition);
void fat_set_word0(PartitionInfo *partition, uint32_t value);
// Word 0 as the disk holds it (as last read or written): until a commit, a change in
// memory is not there yet. A disk opened for reading has only the one copy.
uint32_t fat_word0_on_disk(const PartitionInfo *partition);
// Sectors of the table region read into memory: those that hold word 0 and the usable
// clusters' entries (0 when the table could not be read).
uint64_t fat_sectors_held(const PartitionInfo *partition);

// The chain rule: the cluster after `cluster` (below cluster_count) when its entry names
// another cluster of the partition. False at the end marker, at a free entry, at a value
// naming no cluster, and at an entry naming its own cluster.
bool fat_next(const PartitionInfo *partition, uint32_t cluster, uint32_t *next);

// Where cluster c begins: its absolute sector, and its byte position on the disk (both
// formed in 64 bits).
uint64_t fat_cluster_sector(const PartitionInfo *partition, uint32_t cluster);
uint64_t fat_cluster_position(const PartitionInfo *partition, uint32_t cluster);

// Reads the table of partition i into memory, clamping cluster_count to what the region
// holds and to what lies before the end of the disk, and notes in `found` the declared
// count, a table too large to be real, a read error and the entries that name no cluster
// (or their own). Never ends the process, except when memory runs out.
void fat_read(HumaxDisk *disk, int index, PartitionRead *found);

// Judges what fat_read noted as opening does: the clamping is a warning (warn); a table
// too large, a read error or an invalid entry fail with their messages (false, *error
// set: ErrorKind::Volume).
bool fat_validate(const HumaxDisk *disk, int index, const PartitionRead &found, Error *error);

// Free clusters: the smaller of the counted FAT_FREE entries and word 0.
uint32_t fat_free_count(const PartitionInfo *partition);

// Number of clusters a file of `size` bytes needs (at least 1: an empty file gets one
// cluster so that its directory entry stays in use).
uint64_t fat_clusters_needed(const PartitionInfo *partition, uint64_t size);

// Takes `count` (at least 1) clusters that are free both in memory and on the disk, first
// fit, and chains them in that order, the last with FAT_END; word 0 is left alone. False,
// with nothing changed, when fewer are free. Clusters freed since the last commit are not
// taken: until the directory that no longer names their file is on the disk, they still
// belong to that file there.
bool fat_take(PartitionInfo *partition, uint64_t count, ClusterChain *chain);

// Allocates a chain long enough for `size` bytes with fat_take, when the free count (word 0
// included) allows it, and lowers word 0 by its length. False with "Insufficient space\n"
// (ErrorKind::Space) when the partition is too full; nothing is changed then.
bool fat_allocate(PartitionInfo *partition, uint64_t size, ClusterChain *chain, Error *error);

// Cluster number of an absolute sector, or false when it lies outside the data area
// (before data_sector, not on a cluster boundary's cluster, or beyond the last cluster).
bool fat_cluster_of_sector(const PartitionInfo *partition, uint32_t sector, uint32_t *cluster);

// How a chain ends: at the end marker, at a cluster marked free, at an entry that names no
// cluster, or by leading back to one of its own clusters.
enum class ChainEnd : uint8_t { Marker, Free, Invalid, Loop };

struct ChainWalk {
    uint32_t first = 0;
    uint64_t length = 0; // distinct clusters, each counted once
    uint32_t last = 0;   // the last distinct cluster
    ChainEnd end = ChainEnd::Marker;
    uint32_t end_value = 0; // the entry of `last`
};

// How a chain ends whose last cluster's entry is `value` (an entry fat_next does not
// follow): Loop for an entry naming a cluster of the partition (its own).
ChainEnd fat_chain_end(const PartitionInfo *partition, uint32_t value);

// Walks the chain from `first` (a cluster below cluster_count), however damaged: a loop
// is found with Brent's method, with no memory beyond a few counters and in steps in
// proportion to the chain's distinct clusters, however long the partition is.
ChainWalk fat_walk_chain(const PartitionInfo *partition, uint32_t first);

// Length in sectors of the chain given by the absolute sector of its first cluster (0 when
// that sector lies outside the data area). A looping chain counts each cluster once.
uint64_t fat_chain_sectors_from(const PartitionInfo *partition, uint32_t first_sector);

// The two halves of committing a partition, around the directory write:
// fat_write_allocations writes only what allocations changed (clusters that were free on
// the disk); fat_write writes the rest (the clusters freed). A process that ends between
// any two writes leaves at worst clusters marked used that no file names, never a
// cluster that two files could come to share. Only changed sectors are written, and
// *wrote says whether there were any. Both return false, with *error set
// (ErrorKind::Write, the system's error, "FAT: ..."), when a write fails or the disk was
// not opened for writing; the table on the disk may then hold part of the change.
bool fat_write_allocations(HumaxDisk *disk, PartitionInfo *partition, bool *wrote, Error *error);
bool fat_write(HumaxDisk *disk, PartitionInfo *partition, bool *wrote, Error *error);

// Frees the in-memory table.
void fat_release(PartitionInfo *partition);

// Free bytes of partition i: free_clusters x cluster length, in 64 bits.
uint64_t disk_free_space(const HumaxDisk *disk, int index);
