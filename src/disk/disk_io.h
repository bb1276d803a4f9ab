#pragma once
// Positioned access to the recorder disk and its byte order.
//
// The disk is one file descriptor (a raw drive or an image of the whole disk) read and
// written with pread/pwrite at absolute 64-bit byte positions, always in whole sectors.
// Every aligned 32-bit word of names and file contents is stored byte-reversed.
#include <cstddef>
#include <cstdint>

constexpr uint32_t SECTOR_SIZE = 512;

struct DiskStream {
    int fd = -1;
    bool writable = false;
};

// Byte position of an absolute sector, formed in 64 bits.
constexpr uint64_t sector_position(uint32_t sector) { return uint64_t{sector} * SECTOR_SIZE; }

// Reverses the bytes of each of `count` consecutive 32-bit words in place (its own
// inverse). `words` need not be aligned.
void swap_words(void *words, size_t count);

// Opens the disk: mode "rb" reads only, "rb+" reads and writes an existing disk.
// Returns false (errno set) on failure.
bool disk_stream_open(DiskStream *stream, const char *path, const char *mode);
void disk_stream_close(DiskStream *stream);

// Reads `length` bytes at `position`. Bytes beyond the end of the disk read as zero.
// Returns false (errno set) on a read error.
bool disk_read_at(DiskStream *stream, uint64_t position, void *data, size_t length);

// Writes all `length` bytes at `position`. Returns false (errno set, EIO for a short
// write that reported no error) when not everything was written.
bool disk_write_at(DiskStream *stream, uint64_t position, const void *data, size_t length);

// The length of the disk in bytes (an image's size, a drive's capacity); UINT64_MAX when
// it cannot be told.
uint64_t disk_stream_size(const DiskStream *stream);

// Makes what was written so far durable (a commit point). Returns false on failure.
bool disk_sync(DiskStream *stream);
