// A disk held in memory. It enforces its stream's alignment like a raw drive does (a
// transfer that is not aligned fails with EINVAL), so that tests can show that the
// aligned wrapper lets nothing unaligned through.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "disk/disk_io.h"

void memory_image_write(MemoryImage *image, uint64_t position, const void *data, size_t length)
{
    const auto *in = static_cast<const uint8_t *>(data);
    image->size = std::max(image->size, position + length);
    while (length > 0) {
        uint64_t page = position / MEMORY_PAGE;
        size_t at = static_cast<size_t>(position % MEMORY_PAGE);
        size_t take = std::min(length, MEMORY_PAGE - at);
        std::vector<uint8_t> &bytes = image->pages[page];
        if (bytes.empty())
            bytes.assign(MEMORY_PAGE, 0);
        memcpy(bytes.data() + at, in, take);
        in += take;
        position += take;
        length -= take;
    }
}

void memory_image_read(const MemoryImage *image, uint64_t position, void *data, size_t length)
{
    auto *out = static_cast<uint8_t *>(data);
    while (length > 0) {
        uint64_t page = position / MEMORY_PAGE;
        size_t at = static_cast<size_t>(position % MEMORY_PAGE);
        size_t take = std::min(length, MEMORY_PAGE - at);
        auto found = image->pages.find(page);
        // A page holds zeros wherever nothing was written, past the image's end too.
        if (found == image->pages.end())
            memset(out, 0, take);
        else
            memcpy(out, found->second.data() + at, take);
        out += take;
        position += take;
        length -= take;
    }
}

MemoryImage memory_image_of(const uint8_t *data, size_t size)
{
    MemoryImage image;
    memory_image_write(&image, 0, data, size);
    return image;
}

namespace {

MemoryImage *image_of(const DiskStream *stream)
{
    return static_cast<MemoryImage *>(stream->state);
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
    memory_image_read(image_of(stream), position, data, length);
    return true;
}

bool memory_write_at(DiskStream *stream, uint64_t position, const void *data, size_t length)
{
    if (!aligned(stream, position, data, length)) {
        errno = EINVAL;
        return false;
    }
    memory_image_write(image_of(stream), position, data, length);
    return true;
}

uint64_t memory_size(const DiskStream *stream)
{
    return image_of(stream)->size;
}

bool memory_sync(DiskStream *)
{
    return true;
}

void memory_close(DiskStream *stream)
{
    stream->state = nullptr; // the image is its owner's
}

const DiskStreamOps MEMORY_OPS = {memory_read_at, memory_write_at, memory_size, memory_sync,
                                  memory_close, nullptr, nullptr};

} // namespace

void disk_stream_open_memory(DiskStream *stream, MemoryImage *image, bool writable)
{
    stream->ops = &MEMORY_OPS;
    stream->state = image;
    stream->writable = writable;
    stream->alignment = 1;
}
