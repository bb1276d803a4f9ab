// Transfers of any position, length and buffer, carried to a stream that accepts only
// whole aligned units (a raw drive on Windows, a file opened for direct I/O): aligned
// transfers pass straight through; the rest go through a bounce buffer, partial units
// read first and written back whole.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>

#include "common/aligned_buffer.h"
#include "common/fatal.h"
#include "disk/disk_io.h"

namespace {

// Unaligned transfers move through this much memory at a time.
constexpr size_t BOUNCE_BYTES = size_t{1} << 20;

struct AlignedDisk {
    DiskStream inner;
    AlignedBuffer bounce;
    std::mutex bounce_lock; // a mounted disk is read by many threads at once
};

AlignedDisk *state_of(const DiskStream *stream)
{
    return static_cast<AlignedDisk *>(stream->state);
}

uint64_t unit_of(const AlignedDisk *disk)
{
    return disk->inner.alignment;
}

bool is_aligned(const AlignedDisk *disk, uint64_t position, const void *data, size_t length)
{
    uint64_t unit = unit_of(disk);
    return position % unit == 0 && length % unit == 0 &&
           reinterpret_cast<uintptr_t>(data) % unit == 0;
}

// The aligned window [start, end) of the bounce buffer's size that holds `position`.
void window(const AlignedDisk *disk, uint64_t position, uint64_t limit, uint64_t *start,
            uint64_t *end)
{
    uint64_t unit = unit_of(disk);
    *start = position / unit * unit;
    uint64_t rounded_limit = (limit + unit - 1) / unit * unit;
    *end = std::min<uint64_t>(*start + disk->bounce.size, rounded_limit);
}

bool aligned_read_at(DiskStream *stream, uint64_t position, void *data, size_t length)
{
    AlignedDisk *disk = state_of(stream);
    if (is_aligned(disk, position, data, length))
        return disk_read_at(&disk->inner, position, data, length);
    auto *out = static_cast<uint8_t *>(data);
    uint64_t limit = position + length;
    std::lock_guard<std::mutex> hold(disk->bounce_lock);
    while (position < limit) {
        uint64_t start, end;
        window(disk, position, limit, &start, &end);
        if (!disk_read_at(&disk->inner, start, disk->bounce.data, static_cast<size_t>(end - start)))
            return false;
        uint64_t take = std::min(end, limit) - position;
        memcpy(out, disk->bounce.data + (position - start), static_cast<size_t>(take));
        out += take;
        position += take;
    }
    return true;
}

// Reads the unit at `unit_start` into the bounce buffer at `offset` unless the transfer
// covers it whole.
bool fill_partial_unit(AlignedDisk *disk, uint64_t unit_start, uint64_t from, uint64_t to,
                       uint64_t window_start)
{
    uint64_t unit = unit_of(disk);
    if (from <= unit_start && to >= unit_start + unit)
        return true;
    return disk_read_at(&disk->inner, unit_start, disk->bounce.data + (unit_start - window_start),
                        static_cast<size_t>(unit));
}

bool aligned_write_at(DiskStream *stream, uint64_t position, const void *data, size_t length)
{
    AlignedDisk *disk = state_of(stream);
    if (is_aligned(disk, position, data, length))
        return disk_write_at(&disk->inner, position, data, length);
    const auto *in = static_cast<const uint8_t *>(data);
    uint64_t limit = position + length;
    uint64_t unit = unit_of(disk);
    std::lock_guard<std::mutex> hold(disk->bounce_lock);
    while (position < limit) {
        uint64_t start, end;
        window(disk, position, limit, &start, &end);
        uint64_t stop = std::min(end, limit);
        if (!fill_partial_unit(disk, start, position, stop, start) ||
            !fill_partial_unit(disk, end - unit, position, stop, start))
            return false;
        memcpy(disk->bounce.data + (position - start), in, static_cast<size_t>(stop - position));
        if (!disk_write_at(&disk->inner, start, disk->bounce.data, static_cast<size_t>(end - start)))
            return false;
        in += stop - position;
        position = stop;
    }
    return true;
}

uint64_t aligned_size(const DiskStream *stream)
{
    return disk_stream_size(&state_of(stream)->inner);
}

bool aligned_sync(DiskStream *stream)
{
    return disk_sync(&state_of(stream)->inner);
}

void aligned_close(DiskStream *stream)
{
    AlignedDisk *disk = state_of(stream);
    disk_stream_close(&disk->inner);
    aligned_buffer_free(&disk->bounce);
    delete disk;
    stream->state = nullptr;
}

bool aligned_lock(DiskStream *stream, DiskLock mode)
{
    return disk_stream_lock(&state_of(stream)->inner, mode);
}

bool aligned_identity(const DiskStream *stream, DiskIdentity *identity)
{
    const DiskStream *inner = &state_of(stream)->inner;
    return inner->ops->identity != nullptr && inner->ops->identity(inner, identity);
}

const DiskStreamOps ALIGNED_OPS = {aligned_read_at, aligned_write_at, aligned_size, aligned_sync,
                                   aligned_close,   aligned_lock,     aligned_identity};

} // namespace

void disk_stream_align(DiskStream *stream)
{
    if (stream->alignment <= 1)
        return;
    auto *disk = new (std::nothrow) AlignedDisk;
    if (disk == nullptr)
        fatal_errno("malloc");
    disk->inner = *stream;
    size_t unit = stream->alignment;
    aligned_buffer_make(&disk->bounce, std::max(BOUNCE_BYTES / unit, size_t{2}) * unit, unit);
    stream->ops = &ALIGNED_OPS;
    stream->state = disk;
    stream->alignment = 1;
    // Nothing narrower than a unit reaches the disk, so nothing narrower can fail.
    stream->sector = std::max<uint32_t>(stream->sector, static_cast<uint32_t>(unit));
}
