#pragma once
// The disk stream: positioned access to a whole recorder disk through a small table of
// operations, so that the file system above does not care whether the bytes come from an
// image file, a raw drive of this host, memory, or a wrapper that aligns transfers or
// injects faults. A backend fills `ops` and keeps its own state behind `state`.
#include <cstddef>
#include <cstdint>

struct DiskStream;

enum class DiskLock { Shared, Exclusive };

// What makes two paths the same disk: the device and inode of a file, or the device
// number of a block device, whatever path reached it. A loop device has the identity of
// the file (or device) behind it.
struct DiskIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool block_device = false;
};

struct DiskStreamOps {
    // Reads `length` bytes at `position`; bytes past the end of the disk read as zero.
    // False (errno set) on a read error.
    bool (*read_at)(DiskStream *stream, uint64_t position, void *data, size_t length) = nullptr;
    // Writes all `length` bytes at `position`. False (errno set) when not all were written.
    bool (*write_at)(DiskStream *stream, uint64_t position, const void *data,
                     size_t length) = nullptr;
    // The length of the disk in bytes; UINT64_MAX when it cannot be told.
    uint64_t (*size)(const DiskStream *stream) = nullptr;
    // Makes what was written durable. False (errno set) on failure.
    bool (*sync)(DiskStream *stream) = nullptr;
    // Releases the backend's state (and, for wrappers, the stream they wrap).
    void (*close)(DiskStream *stream) = nullptr;
    // Takes an advisory lock without waiting; false (errno EWOULDBLOCK) when another
    // process holds a conflicting one, false with another errno when the lock cannot be
    // taken at all (a loop device whose backing file cannot be reached). A loop device
    // takes the lock of the file behind it too. Null: the backend needs no lock (memory).
    bool (*lock)(DiskStream *stream, DiskLock mode) = nullptr;
    // The identity of the underlying file or device; null or false when there is none.
    bool (*identity)(const DiskStream *stream, DiskIdentity *identity) = nullptr;
};

struct DiskStream {
    const DiskStreamOps *ops = nullptr;
    void *state = nullptr;
    bool writable = false;
    // What the backend requires of every transfer's position, length and buffer address
    // (1: nothing). A raw drive on Windows, or a file opened for direct I/O, needs whole
    // sectors; the aligned wrapper (disk/disk_io.h) meets that for any caller.
    uint32_t alignment = 1;
    // The device's sector: the smallest unit a read can fail in, to which a failed read
    // is narrowed (512, 4096 on drives with 4 KiB sectors, or the unit of direct I/O).
    uint32_t sector = 512;
};

// How a host disk is opened.
struct DiskOpenFlags {
    bool writable = false;
    bool direct = false; // bypass the host's cache (O_DIRECT / no buffering): aligned I/O
};

// Opens a disk image or a raw drive of this host as a stream. A writable raw drive is
// opened exclusively: a drive the host has mounted, or that another program holds
// exclusively, fails with EBUSY. False (errno set) on failure; nothing is left open then.
bool platform_disk_open(DiskStream *stream, const char *path, DiskOpenFlags flags);

// The identity of the file or device at `path` (following links; a loop device's is its
// backing file's); false when it cannot be reached.
bool platform_path_identity(const char *path, DiskIdentity *identity);
