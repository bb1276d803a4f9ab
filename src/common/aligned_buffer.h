#pragma once
// Memory aligned for direct transfers: a raw drive (and a file opened for direct I/O)
// accepts only buffers on sector, or page, boundaries. Portable to every toolchain we
// build with (aligned_alloc has no MinGW counterpart).
#include <cstddef>
#include <cstdint>

struct AlignedBuffer {
    uint8_t *data = nullptr;
    size_t size = 0;
    size_t alignment = 0;
};

// Obtains `size` bytes (rounded up to the alignment) on an `alignment` boundary (a power
// of two). Ends the process ("malloc") when memory cannot be obtained.
void aligned_buffer_make(AlignedBuffer *buffer, size_t size, size_t alignment);

// Releases the memory (a buffer never made is left alone).
void aligned_buffer_free(AlignedBuffer *buffer);
