#include "disk/file_rescue.h"

#include <algorithm>
#include <cstring>

#include "common/error.h"
#include "common/progress.h"

namespace {

// Adds [begin, end) after the last area, joining it when they touch.
void append_area(std::vector<ByteArea> *areas, uint64_t begin, uint64_t end)
{
    if (begin >= end)
        return;
    if (!areas->empty() && areas->back().end == begin)
        areas->back().end = end;
    else
        areas->push_back({begin, end});
}

// The first pass over one area: whole transfers in order; a failed one is handed over
// with zeros from where it failed and left for later.
bool read_forward(FileMap *map, const ByteArea &area, uint8_t *buffer, size_t capacity,
                  const RescueSink &sink, const RescueOptions &options, uint64_t *done_total,
                  std::vector<ByteArea> *failed)
{
    uint64_t offset = area.begin;
    while (offset < area.end) {
        size_t piece = static_cast<size_t>(std::min<uint64_t>(capacity, area.end - offset));
        // Toward the file's end the whole buffer is offered: the last cluster then moves
        // in one transfer, with the rest of the file's last 4-byte group.
        size_t asked = area.end >= map->size ? capacity : piece;
        size_t got = 0;
        Error error;
        if (!dfile_map_read(map, offset, buffer, asked, &got, &error)) {
            memset(buffer + got, 0, capacity - got);
            append_area(failed, offset + got, offset + piece);
        } else {
            piece = got; // less only where the file ends
        }
        if (piece == 0)
            break;
        if (!sink.write(sink.context, offset, buffer, piece))
            return false;
        offset += piece;
        *done_total += piece;
        if (options.progress != nullptr)
            progress_update(options.progress, *done_total);
    }
    return true;
}

// The length of the device sector that holds file byte `offset`, from there, within
// `end`: the file's clusters need not start on the device's sectors.
size_t sector_piece(const FileMap *map, uint64_t offset, uint64_t end)
{
    uint32_t unit = std::max<uint32_t>(map->stream->sector, 4);
    auto run = std::upper_bound(map->runs.begin(), map->runs.end(), offset,
                                [](uint64_t at, const ClusterRun &r) { return at < r.offset; });
    --run;
    uint64_t position =
        map->data_position + uint64_t{run->first} * map->cluster_length + (offset - run->offset);
    uint64_t run_end = run->offset + uint64_t{run->count} * map->cluster_length;
    uint64_t piece = unit - position % unit;
    return static_cast<size_t>(std::min({piece, end - offset, run_end - offset}));
}

// Reads [offset, offset + length), a piece of one device sector, alone; hands it over
// when it reads.
bool read_sector(FileMap *map, uint64_t offset, size_t length, uint8_t *buffer,
                 const RescueSink &sink, bool *read)
{
    size_t got = 0;
    Error error;
    // At the file's end, the rest of its last 4-byte group comes too (the disk copy
    // writes whole groups); a group never crosses a sector.
    size_t asked = offset + length >= map->size ? (length + 3) & ~size_t{3} : length;
    *read = dfile_map_read(map, offset, buffer, asked, &got, &error);
    return !*read || sink.write(sink.context, offset, buffer, got);
}

// The later pass over the failed areas: every sector alone, once.
bool narrow(FileMap *map, const std::vector<ByteArea> &failed, uint8_t *buffer,
            const RescueSink &sink, std::vector<ByteArea> *unreadable)
{
    for (const ByteArea &area : failed) {
        for (uint64_t offset = area.begin; offset < area.end;) {
            size_t length = sector_piece(map, offset, area.end);
            bool read = false;
            if (!read_sector(map, offset, length, buffer, sink, &read))
                return false;
            if (!read)
                append_area(unreadable, offset, offset + length);
            offset += length;
        }
    }
    return true;
}

// One more try of every sector still unreadable.
bool retry(FileMap *map, uint8_t *buffer, const RescueSink &sink, std::vector<ByteArea> *unreadable)
{
    std::vector<ByteArea> still;
    if (!narrow(map, *unreadable, buffer, sink, &still))
        return false;
    *unreadable = std::move(still);
    return true;
}

} // namespace

bool dfile_rescue(FileMap *map, const std::vector<ByteArea> &areas, void *buffer, size_t capacity,
                  const RescueSink &sink, const RescueOptions &options,
                  std::vector<ByteArea> *unreadable)
{
    auto *bytes = static_cast<uint8_t *>(buffer);
    unreadable->clear();
    std::vector<ByteArea> failed;
    uint64_t done = 0;
    for (ByteArea area : areas) {
        area.end = std::min(area.end, map->size);
        if (!read_forward(map, area, bytes, capacity, sink, options, &done, &failed))
            return false;
    }
    if (failed.empty())
        return true;
    if (!narrow(map, failed, bytes, sink, unreadable))
        return false;
    for (unsigned i = 0; i < options.retries && !unreadable->empty(); ++i)
        if (!retry(map, bytes, sink, unreadable))
            return false;
    return true;
}

uint64_t rescue_bytes(const std::vector<ByteArea> &areas)
{
    uint64_t total = 0;
    for (const ByteArea &area : areas)
        total += area.end - area.begin;
    return total;
}
