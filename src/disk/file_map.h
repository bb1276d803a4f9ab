#pragma once
// Random access to a file of a partition: its chain is taken once into an index of its
// runs of contiguous clusters, so that a read at any position costs a binary search,
// never a walk from the start of the chain. Reads give the file's bytes in natural order
// (each 4-byte group of the disk reversed) and report a failed read instead of ending
// the run: this is the read path of the mounted file system.
#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <vector>

#include "disk/humax_disk.h"

struct ClusterRun {
    uint64_t offset = 0; // where in the file the run begins
    uint32_t first = 0;  // its first cluster
    uint32_t count = 0;  // its clusters
};

struct FileMap {
    DiskStream *stream = nullptr;
    uint64_t data_position = 0; // byte position of the partition's cluster 0
    uint32_t cluster_length = 0;
    uint64_t size = 0; // the bytes the file reads as
    std::vector<ClusterRun> runs; // in file order, covering at least `size` bytes
};

// How many bytes reading the file of `entry` gives, as dfile_open decides it: its size,
// bounded by its allocated sectors and by the clusters of its chain (a looping chain
// counting each cluster once); 0 when its first sector lies outside the data area.
uint64_t dfile_readable_size(const PartitionInfo *partition, const DirEntry *entry);

// Builds the index of the file of `entry` in partition i: the clusters its readable size
// needs, in runs. Never ends the process (memory aside: std::bad_alloc).
void dfile_map(HumaxDisk *disk, int index, const DirEntry *entry, FileMap *map);

// Reads up to `length` bytes of the file at `offset` into `destination`, in natural byte
// order: whole 4-byte groups straight from the disk into `destination`, a partial group at
// either end through four bytes of its own. Returns the bytes stored (fewer at the end of
// the file, 0 at or past it), or -1 with errno set when the disk could not be read.
ssize_t dfile_map_read(const FileMap *map, uint64_t offset, void *destination, size_t length);
