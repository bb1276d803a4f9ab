#include "support/byte_helpers.h"

#include <utility>

namespace testimg {

uint32_t get_le32(const Bytes &data, size_t offset) {
    return uint32_t(data.at(offset)) | uint32_t(data.at(offset + 1)) << 8 |
           uint32_t(data.at(offset + 2)) << 16 | uint32_t(data.at(offset + 3)) << 24;
}

void put_le32(Bytes &data, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        data.at(offset + i) = uint8_t(value >> (8 * i));
}

uint32_t get_be32(const Bytes &data, size_t offset) {
    return uint32_t(data.at(offset)) << 24 | uint32_t(data.at(offset + 1)) << 16 |
           uint32_t(data.at(offset + 2)) << 8 | uint32_t(data.at(offset + 3));
}

void put_be32(Bytes &data, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        data.at(offset + i) = uint8_t(value >> (24 - 8 * i));
}

Bytes swapped_words(const Bytes &data) {
    Bytes out = data;
    for (size_t i = 0; i + 4 <= out.size(); i += 4) {
        std::swap(out[i], out[i + 3]);
        std::swap(out[i + 1], out[i + 2]);
    }
    return out;
}

Bytes pattern_bytes(size_t size, uint32_t seed) {
    // xorshift32 runs through every nonzero word once per period, so no word repeats.
    uint32_t x = (seed * 0x9E3779B9u) ^ 0x6A09E667u;
    if (x == 0)
        x = 1;
    Bytes data(size);
    for (size_t i = 0; i < size; i += 4) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        for (size_t j = 0; j < 4 && i + j < size; ++j)
            data[i + j] = uint8_t(x >> (24 - 8 * j));
    }
    return data;
}

} // namespace testimg
