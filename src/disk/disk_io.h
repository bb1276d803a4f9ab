#pragma once
// Positioned access to the recorder disk and its byte order.
//
// The disk is one stream (platform/disk_stream.h: an image file, a raw drive, memory, or
// a wrapper around one of them) read and written at absolute 64-bit byte positions, in
// whole sectors. Every aligned 32-bit word of names and file contents is stored
// byte-reversed.
#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "platform/disk_stream.h"

constexpr uint32_t SECTOR_SIZE = 512;

// Byte position of an absolute sector, formed in 64 bits.
constexpr uint64_t sector_position(uint32_t sector) { return uint64_t{sector} * SECTOR_SIZE; }

// Reverses the bytes of each of `count` consecutive 32-bit words in place (its own
// inverse). `words` need not be aligned.
void swap_words(void *words, size_t count);

// Whether a file's contents pass between the disk and memory with each 4-byte group
// reversed (their natural order in memory) or as stored.
enum class Swap : bool { No = false, Yes = true };

// Opens the disk at `path` (an image file or a drive of this host) for reading, or reading
// and writing, bypassing the host's cache with `direct`. When the host needs aligned
// transfers (direct I/O, or a raw drive that demands it), the stream is wrapped so that
// callers may still transfer any bytes. Returns false (errno set) on failure.
bool disk_stream_open(DiskStream *stream, const char *path, bool writable, bool direct = false);

// A disk held in memory, as sparse as it was written: bytes never written read as zeros.
// Its owner keeps it while streams are open on it; they read and write it in place.
struct MemoryImage {
    uint64_t size = 0;                                // bytes, up to the last one written
    std::map<uint64_t, std::vector<uint8_t>> pages;   // page number -> MEMORY_PAGE bytes
};
constexpr size_t MEMORY_PAGE = size_t{64} << 10;

// Stores `length` bytes at `position`, growing the image when they reach past its end.
void memory_image_write(MemoryImage *image, uint64_t position, const void *data, size_t length);
// Reads `length` bytes at `position` (zeros where nothing was written, and past the end).
void memory_image_read(const MemoryImage *image, uint64_t position, void *data, size_t length);
// An image holding a copy of `size` bytes of `data` from position 0.
MemoryImage memory_image_of(const uint8_t *data, size_t size);

// A stream on a memory image (for the fuzz targets and in-process tests).
void disk_stream_open_memory(DiskStream *stream, MemoryImage *image, bool writable);

// Wraps `stream` (in place) so that transfers of any position, length and buffer reach it
// only in whole, aligned units of stream->alignment bytes: partial units are read,
// merged and written back whole. A stream with alignment 1 is left as it is.
void disk_stream_align(DiskStream *stream);

// Fault injection around `stream` (in place), for the robustness tests: the `at`-th read
// or write (counting from 1) fails with EIO, or ends the process with status 99 as a crash
// would, before it reaches the disk or after its first `torn_sectors` sectors did. It also
// plays a failing drive: a read touching one of the `unreadable` sectors fails with EIO
// (a sector with `failures` > 0 only its first `failures` reads), and the reads are
// counted, in all and per unreadable sector.
enum class FaultKind { Read, Write };
enum class FaultAction { Fail, Crash };
struct FaultSector {
    uint64_t sector = 0;   // in units of FaultPlan::sector_size
    unsigned failures = 0; // 0: every read fails; k: the first k reads fail
};
struct FaultPlan {
    FaultKind kind = FaultKind::Write;
    FaultAction action = FaultAction::Crash;
    unsigned long at = 0;      // 0: never
    unsigned torn_sectors = 0; // writes that crash: sectors that still reach the disk
    const char *count_path = nullptr; // receives the count at close, or the faulting transfer
    // A slow spot: each read that touches the bytes [slow_from, slow_to) waits slow_ms
    // milliseconds first, as a failing drive's retries do (0: none).
    uint64_t slow_from = 0, slow_to = 0;
    unsigned slow_ms = 0;
    std::vector<FaultSector> unreadable; // sorted by sector, each once
    uint32_t sector_size = 512;          // the device's sector (stream->sector)
};
void disk_stream_fault(DiskStream *stream, const FaultPlan &plan);

// Makes reads of `stream` (in place) that touch one of `areas` (byte positions [first,
// second), sorted, apart), or reach past `end`, fail with EIO, as a failing drive's reads
// of its bad sectors do: for copying from a partial rescue image (the areas its mapfile
// does not mark finished) or an image that ends before its partitions do.
void disk_stream_unread(DiskStream *stream, std::vector<std::pair<uint64_t, uint64_t>> areas,
                        uint64_t end);

// What a fault-injecting stream counted: its read transfers, and the reads that touched
// each unreadable sector (a read counts for every unreadable sector it reaches up to the
// one it fails on, as a drive stops at the first sector it cannot read).
struct FaultReads {
    unsigned long transfers = 0;
    unsigned long most_of_one_sector = 0; // the most reads any unreadable sector had
};
FaultReads disk_stream_fault_reads(const DiskStream *stream);
// The reads that touched unreadable sector `sector` so far (0 for any other).
unsigned long disk_stream_fault_sector_reads(const DiskStream *stream, uint64_t sector);

// Transfers through the stream's table; see DiskStreamOps for the contracts.
bool disk_read_at(DiskStream *stream, uint64_t position, void *data, size_t length);
bool disk_write_at(DiskStream *stream, uint64_t position, const void *data, size_t length);
uint64_t disk_stream_size(const DiskStream *stream);
bool disk_sync(DiskStream *stream);
// Closes the stream (a stream never opened, or already closed, is left alone).
void disk_stream_close(DiskStream *stream);
// Locks the disk for this process (see DiskStreamOps::lock); true for backends without locks.
bool disk_stream_lock(DiskStream *stream, DiskLock mode);
// True when both streams reach the same file or device.
bool disk_stream_same(const DiskStream *a, const DiskStream *b);
// True when the stream reaches the file or device `path` names now (false when the path
// cannot be reached, or the stream has no identity: memory).
bool disk_stream_reaches(const DiskStream *stream, const char *path);
