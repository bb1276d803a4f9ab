#pragma once
// Bytes as the tests build and compare them: fixed-width numbers inside buffers, the
// recorder's reversal of every aligned 4-byte group, and deterministic contents.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace testimg {

using Bytes = std::vector<uint8_t>;

// Fixed-width numbers inside byte buffers (no bounds beyond the vector's own: an offset
// past the end throws std::out_of_range).
uint32_t get_le32(const Bytes &data, size_t offset);
void put_le32(Bytes &data, size_t offset, uint32_t value);
uint32_t get_be32(const Bytes &data, size_t offset);
void put_be32(Bytes &data, size_t offset, uint32_t value);

// A copy with every aligned 4-byte group reversed (a trailing partial group as is).
Bytes swapped_words(const Bytes &data);
// Deterministic pseudo-random bytes (asymmetric, never a repeated word pattern).
Bytes pattern_bytes(size_t size, uint32_t seed = 1);

} // namespace testimg
