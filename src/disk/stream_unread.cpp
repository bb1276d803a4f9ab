// Reads of areas a rescue never read fail, as the drive's own reads of them would: the
// copies then treat them as unreadable sectors (zeros, a map, the summary) instead of
// passing off the rescue image's untouched bytes, or the zeros past its end, as the
// recording's.
#include <algorithm>
#include <cerrno>
#include <new>

#include "common/fatal.h"
#include "disk/disk_io.h"

namespace {

using Area = std::pair<uint64_t, uint64_t>;

struct UnreadDisk {
    DiskStream inner;
    std::vector<Area> areas;
    uint64_t end = UINT64_MAX;
};

UnreadDisk *state_of(const DiskStream *stream)
{
    return static_cast<UnreadDisk *>(stream->state);
}

bool touches(const UnreadDisk *disk, uint64_t position, size_t length)
{
    if (length == 0)
        return false;
    if (position + length > disk->end)
        return true;
    // The first area that ends after the position.
    auto it = std::upper_bound(disk->areas.begin(), disk->areas.end(), position,
                               [](uint64_t at, const Area &a) { return at < a.second; });
    return it != disk->areas.end() && it->first < position + length;
}

bool unread_read_at(DiskStream *stream, uint64_t position, void *data, size_t length)
{
    UnreadDisk *disk = state_of(stream);
    if (touches(disk, position, length)) {
        errno = EIO;
        return false;
    }
    return disk_read_at(&disk->inner, position, data, length);
}

bool unread_write_at(DiskStream *stream, uint64_t position, const void *data, size_t length)
{
    return disk_write_at(&state_of(stream)->inner, position, data, length);
}

uint64_t unread_size(const DiskStream *stream)
{
    return disk_stream_size(&state_of(stream)->inner);
}

bool unread_sync(DiskStream *stream)
{
    return disk_sync(&state_of(stream)->inner);
}

void unread_close(DiskStream *stream)
{
    UnreadDisk *disk = state_of(stream);
    disk_stream_close(&disk->inner);
    delete disk;
    stream->state = nullptr;
}

bool unread_lock(DiskStream *stream, DiskLock mode)
{
    return disk_stream_lock(&state_of(stream)->inner, mode);
}

bool unread_identity(const DiskStream *stream, DiskIdentity *identity)
{
    const DiskStream *inner = &state_of(stream)->inner;
    return inner->ops->identity != nullptr && inner->ops->identity(inner, identity);
}

const DiskStreamOps UNREAD_OPS = {unread_read_at, unread_write_at, unread_size,    unread_sync,
                                  unread_close,   unread_lock,     unread_identity};

} // namespace

void disk_stream_unread(DiskStream *stream, std::vector<std::pair<uint64_t, uint64_t>> areas,
                        uint64_t end)
{
    auto *disk = new (std::nothrow) UnreadDisk;
    if (disk == nullptr)
        fatal_errno("malloc");
    disk->inner = *stream;
    disk->areas = std::move(areas);
    disk->end = end;
    stream->ops = &UNREAD_OPS;
    stream->state = disk;
}
