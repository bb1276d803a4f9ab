// A disk held in memory. It enforces its stream's alignment like a raw drive does (a
// transfer that is not aligned fails with EINVAL), so that tests can show that the
// aligned wrapper lets nothing unaligned through.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "common/fatal.h"
#include "disk/disk_io.h"

namespace {

struct MemoryDisk {
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> &bytes_of(DiskStream *stream)
{
    return static_cast<MemoryDisk *>(stream->state)->bytes;
}

bool aligned(const DiskStream *stream, uint64_t position, const void *data, size_t length)
{
    uint32_t unit = stream->alignment;
    return unit <= 1 || (position % unit == 0 && length % unit == 0 &&
                         reinterpret_cast<uintptr_t>(data) % unit == 0);
}

bool memory_read_at(DiskStream *stream, uint64_t position, void *data, size_t length)
{
    if (!aligned(stream, position, data, length)) {
        errno = EINVAL;
        return false;
    }
    const std::vector<uint8_t> &bytes = bytes_of(stream);
    size_t have = position < bytes.size() ? bytes.size() - static_cast<size_t>(position) : 0;
    size_t copied = have < length ? have : length;
    if (copied > 0)
        memcpy(data, bytes.data() + position, copied);
    memset(static_cast<uint8_t *>(data) + copied, 0, length - copied);
    return true;
}

bool memory_write_at(DiskStream *stream, uint64_t position, const void *data, size_t length)
{
    if (!aligned(stream, position, data, length)) {
        errno = EINVAL;
        return false;
    }
    std::vector<uint8_t> &bytes = bytes_of(stream);
    if (position + length > bytes.size())
        bytes.resize(static_cast<size_t>(position + length));
    if (length > 0)
        memcpy(bytes.data() + position, data, length);
    return true;
}

uint64_t memory_size(const DiskStream *stream)
{
    return static_cast<const MemoryDisk *>(stream->state)->bytes.size();
}

bool memory_sync(DiskStream *)
{
    return true;
}

void memory_close(DiskStream *stream)
{
    delete static_cast<MemoryDisk *>(stream->state);
    stream->state = nullptr;
}

const DiskStreamOps MEMORY_OPS = {memory_read_at, memory_write_at, memory_size, memory_sync,
                                  memory_close, nullptr, nullptr};

} // namespace

void disk_stream_open_memory(DiskStream *stream, const uint8_t *data, size_t size, bool writable)
{
    auto *disk = new (std::nothrow) MemoryDisk;
    if (disk == nullptr)
        fatal_errno("malloc");
    disk->bytes.assign(data, data + size);
    stream->ops = &MEMORY_OPS;
    stream->state = disk;
    stream->writable = writable;
    stream->alignment = 1;
}

const std::vector<uint8_t> *disk_stream_memory(const DiskStream *stream)
{
    if (stream->ops != &MEMORY_OPS)
        return nullptr;
    return &static_cast<const MemoryDisk *>(stream->state)->bytes;
}
