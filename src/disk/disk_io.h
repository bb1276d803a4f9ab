#pragma once
// Positioned access to the recorder disk and its byte order.
//
// The disk is one stream (platform/disk_stream.h: an image file, a raw drive, memory, or
// a wrapper around one of them) read and written at absolute 64-bit byte positions, in
// whole sectors. Every aligned 32-bit word of names and file contents is stored
// byte-reversed.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/disk_stream.h"

constexpr uint32_t SECTOR_SIZE = 512;

// Byte position of an absolute sector, formed in 64 bits.
constexpr uint64_t sector_position(uint32_t sector) { return uint64_t{sector} * SECTOR_SIZE; }

// Reverses the bytes of each of `count` consecutive 32-bit words in place (its own
// inverse). `words` need not be aligned.
void swap_words(void *words, size_t count);

// Opens the disk at `path` for reading, or reading and writing. When the host needs
// aligned transfers (direct I/O, requested with the environment variable
// DISKWARDEN_DIRECT=1, or a raw drive that demands it), the stream is wrapped so that
// callers may still transfer any bytes. Returns false (errno set) on failure.
// For the robustness tests, the environment variables DW_FAULT_* wrap the stream of the
// named image in a fault injector (see disk_stream_fault).
bool disk_stream_open(DiskStream *stream, const char *path, bool writable);

// A disk held in memory: a copy of `size` bytes of `data`, growing when written past its
// end. For in-process tests and the fuzz targets.
void disk_stream_open_memory(DiskStream *stream, const uint8_t *data, size_t size, bool writable);
// The bytes of a memory disk as they are now (null for other streams).
const std::vector<uint8_t> *disk_stream_memory(const DiskStream *stream);

// Wraps `stream` (in place) so that transfers of any position, length and buffer reach it
// only in whole, aligned units of stream->alignment bytes: partial units are read,
// merged and written back whole. A stream with alignment 1 is left as it is.
void disk_stream_align(DiskStream *stream);

// Fault injection around `stream` (in place): the `at`-th read or write (counting from 1)
// fails with EIO, or ends the process with status 99 as a crash would, before it reaches
// the disk or after its first `torn_sectors` sectors did.
enum class FaultKind { Read, Write };
enum class FaultAction { Fail, Crash };
struct FaultPlan {
    FaultKind kind = FaultKind::Write;
    FaultAction action = FaultAction::Crash;
    unsigned long at = 0;      // 0: never
    unsigned torn_sectors = 0; // writes that crash: sectors that still reach the disk
    const char *count_path = nullptr; // receives the count at close, or the faulting transfer
};
void disk_stream_fault(DiskStream *stream, const FaultPlan &plan);

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
