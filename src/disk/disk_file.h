#pragma once
// Files inside a partition: a directory entry and a chain of clusters. Contents pass
// through a buffer of two clusters owned by the open file, or go straight between the
// disk and the caller's memory for whole clusters. With `swap`, each 4-byte group is
// reversed between the disk and memory.
#include <cstddef>
#include <cstdint>

#include "disk/humax_disk.h"

enum class Swap : bool { No = false, Yes = true };

struct DiskFile {
    DiskStream *stream = nullptr;
    PartitionInfo *partition = nullptr;
    DirEntry *entry = nullptr;
    uint32_t cluster = 0;       // the cluster the next cluster transfer uses
    uint64_t remaining = 0;     // bytes not yet handed out (reading) or accepted (writing)
    uint32_t buffered = 0;      // bytes in the buffer not yet handed out / not yet written
    bool at_end = false;        // no further cluster follows, or nothing is left
    bool swap = false;
    uint8_t *buffer = nullptr;  // two clusters
    uint8_t *cursor = nullptr;  // reading: first byte not handed out; writing: next free byte
    uint64_t steps_left = 0;    // clusters that may still be visited (guards looping chains)
    uint32_t length = 0;        // cluster length L in bytes
    char name[61] = {};
    // Where a failed read is noted (the disk's read_errno) instead of ending the run: set
    // when the disk's read errors are ReadErrors::Note as the file is opened.
    int *read_error = nullptr;
};

// Opens `name` of partition i for reading; null (without a message) when there is none.
// A failed read of its contents ends the process with the system's report, or, when the
// disk's read errors are ReadErrors::Note, is noted in disk->read_errno: the bytes of that
// read are zeros and the file ends there.
DiskFile *dfile_open(HumaxDisk *disk, int index, const char *name, Swap swap);

// Creates `name` in partition i with exactly `size` bytes, all clusters allocated at once.
// An existing name is refused: "create: %s already exists\n" and exit status 1.
DiskFile *dfile_create(HumaxDisk *disk, int index, const char *name, uint64_t size,
                       uint32_t attributes, Swap swap);

// Makes up to `length` (at most one cluster) bytes available at *data, a place inside the
// file's buffer valid until the next call. Returns how many belong to the file; 0 when
// nothing is left.
uint32_t dfile_read(const uint8_t **data, uint32_t length, DiskFile *file);

// Reads the next bytes of the file into `destination` (room for `capacity` bytes):
// whole runs of contiguous clusters in one transfer when the file is at a cluster
// boundary. Returns how many bytes of the file were stored (0 at the end). When the
// result is not a multiple of 4, the rest of its last 4-byte group is stored too.
size_t dfile_read_into(DiskFile *file, uint8_t *destination, size_t capacity);

// Appends `length` bytes (any length). Whole clusters go straight from `data` to the
// disk, in runs of contiguous clusters; with swap, `data` is left byte-reversed.
// Returns `length`, or 0 when the file's size had been reached or is passed by this call
// (only the bytes up to the size are stored). A failed write ends the process.
size_t dfile_write(const uint8_t *data, size_t length, DiskFile *file);

// Like dfile_write, but `data` may be changed (byte-reversed in place when swapping),
// which saves a copy for whole clusters.
size_t dfile_write_mutable(uint8_t *data, size_t length, DiskFile *file);

// The file's buffer (two clusters), for callers that read host data straight into it.
inline uint8_t *dfile_buffer(DiskFile *file) { return file->buffer; }

void dfile_close(DiskFile *file);
void dfile_rewind(DiskFile *file);
bool dfile_eof(const DiskFile *file);

// Stores the size in *size and returns 0; for a null file prints
// "Error - file not opened\n" and returns 1.
int dfile_size(const DiskFile *file, uint64_t *size);

// Frees the file's clusters and removes its entry; nothing happens for an unknown name.
void dfile_delete(HumaxDisk *disk, int index, const char *name);

// Renames; 0 on success, 1 after "Newname %s already exists\n" or
// "Oldname %s does not exist\n".
int dfile_rename(HumaxDisk *disk, int index, const char *old_name, const char *new_name);

bool dfile_exists(HumaxDisk *disk, int index, const char *name);

// Commits partition i: writes its directory, then its allocation table, then syncs.
void disk_write_tables(HumaxDisk *disk, int index);
