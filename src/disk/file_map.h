#pragma once
// Reading a file of a partition, the one way the programs read a file's bytes: its chain
// is taken once into an index of its runs of contiguous clusters, so that a read at any
// position costs a binary search, never a walk from the start of the chain, and whole
// runs move straight between the disk and the caller's memory. A failed read is returned
// to the caller (with how far it got), who may give up, go on elsewhere or fill the gap.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/humax_disk.h"

struct Error;

// How far a file reaches when it is read.
enum class FileExtent : uint8_t {
    Readable, // its size, bounded by its allocated sectors and by its chain (the commands)
    Stored,   // its size, bounded by its chain alone (the checker reads what is stored)
};

struct FileMapOptions {
    Swap swap = Swap::Yes; // Yes: natural byte order; No: the bytes as stored
    FileExtent extent = FileExtent::Readable;
    // Say (warn) what the commands say of a damaged file as they read it: once per entry,
    // a size its allocated clusters do not hold, and each time a read enters the file's
    // last cluster, a chain that ends there without its end marker.
    bool report = false;
};

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
    Swap swap = Swap::Yes;
    std::string name;          // the entry's name as messages show it
    bool unmarked_end = false; // with report: the last cluster's entry is no end marker
};

// How many bytes reading the file of `entry` gives: its size, bounded by its allocated
// sectors and by the clusters of its chain (a looping chain counting each cluster once);
// 0 when its first sector lies outside the data area.
uint64_t dfile_readable_size(const PartitionInfo *partition, const DirEntry *entry);

// Says once per entry (warn) that its size is more than its clusters hold:
// "Warning file allocation error - truncating to %llu bytes\n". The entry is not changed.
void dfile_report_size(const PartitionInfo *partition, const DirEntry *entry);

// Builds the index of the file of `entry` in partition i: the clusters its extent needs,
// in runs. Never ends the process (memory aside: std::bad_alloc).
void dfile_map(HumaxDisk *disk, int index, const DirEntry *entry, const FileMapOptions &options,
               FileMap *map);

// The same for the first entry named `name`; false (nothing said) when there is none.
bool dfile_map_name(HumaxDisk *disk, int index, const char *name, const FileMapOptions &options,
                    FileMap *map);

// Reads up to `length` bytes of the file at `offset` into `destination`: whole runs
// straight from the disk into `destination`, a partial 4-byte group at either end through
// four bytes of its own. Stores in *done the bytes of the file stored (fewer at its end, 0
// at or past it); when that count ends inside a cluster and `length` leaves room, the rest
// of its 4-byte group (the stored word's bytes past the size), and of its cluster where
// the room allows, is stored too. False when the disk could not be read: *error says so
// (ErrorKind::Read, "name: <system text>\n", then "name: reading sectors S-T of the disk
// (bytes P to Q) failed\n" for the transfer that failed) and *done counts the bytes
// stored before it.
bool dfile_map_read(FileMap *map, uint64_t offset, void *destination, size_t length, size_t *done,
                    Error *error);

// Writes `length` bytes of `data` into the file at `offset`, as stored (a map made with
// Swap::No), within the file's clusters: for filling in, after a copy, sectors that could
// be read only later. False (*error set, ErrorKind::Write) when the disk could not be
// written; nothing is written past the map's clusters.
bool dfile_map_write(FileMap *map, uint64_t offset, const void *data, size_t length, Error *error);
