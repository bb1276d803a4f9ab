#pragma once
// Writing files inside a partition: a directory entry and a chain of clusters, allocated
// whole when the file is created and filled in order. Contents pass through a buffer of
// one cluster owned by the open file, or go straight from the caller's memory to the disk
// for whole clusters. With `swap`, each 4-byte group is reversed between memory and the
// disk. Files are read through their index of cluster runs (disk/file_map.h).
#include <cstddef>
#include <cstdint>

#include "disk/humax_disk.h"

struct Error;

struct DiskFile {
    DiskStream *stream = nullptr;
    PartitionInfo *partition = nullptr;
    DirEntry *entry = nullptr;
    uint32_t cluster = 0;       // the cluster the next cluster transfer uses
    uint64_t remaining = 0;     // bytes not yet accepted
    uint32_t buffered = 0;      // bytes in the buffer not yet written
    bool at_end = false;        // no further cluster follows
    bool swap = false;
    uint8_t *buffer = nullptr;  // one cluster (and the rest of a last 4-byte group)
    uint64_t steps_left = 0;    // clusters that may still be visited
    uint32_t length = 0;        // cluster length L in bytes
    char name[61] = {};
};

// Creates `name` in partition i with exactly `size` bytes, all clusters allocated at once.
// Null, with nothing changed, when the name exists ("create: %s already exists\n",
// ErrorKind::Exists) or the clusters are not free (fat_allocate's error).
DiskFile *dfile_create(HumaxDisk *disk, int index, const char *name, uint64_t size,
                       uint32_t attributes, Swap swap, Error *error);

// Appends `length` bytes (any length); only the bytes up to the file's size are stored,
// the rest are dropped (`remaining` says how many the file still takes). Whole clusters go
// straight from `data` to the disk, in runs of contiguous clusters; with swap, `data` is
// left byte-reversed. False, with *error set (ErrorKind::Write, the system's error after
// the file's name), when a write fails: the file's clusters then hold part of the data,
// and the caller must neither write to it again nor commit it.
bool dfile_write(const uint8_t *data, size_t length, DiskFile *file, Error *error);

// Like dfile_write, but `data` may be changed (byte-reversed in place when swapping),
// which saves a copy for whole clusters.
bool dfile_write_mutable(uint8_t *data, size_t length, DiskFile *file, Error *error);

void dfile_close(DiskFile *file);

// Frees the file's clusters and removes its entry; nothing happens for an unknown name.
// A size its clusters do not hold is reported as reading the file reports it
// (dfile_report_size).
void dfile_delete(HumaxDisk *disk, int index, const char *name);

// Renames; 0 on success, 1 after "Newname %s already exists\n" or
// "Oldname %s does not exist\n" (warn).
int dfile_rename(HumaxDisk *disk, int index, const char *old_name, const char *new_name);

bool dfile_exists(HumaxDisk *disk, int index, const char *name);
