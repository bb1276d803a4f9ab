#include "disk/file_map.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/error.h"
#include "common/fatal.h"
#include "common/shown_text.h"
#include "disk/disk_io.h"
#include "disk/fat.h"

namespace {

uint64_t chain_bytes(const PartitionInfo *partition, const DirEntry *entry)
{
    return fat_chain_sectors_from(partition, dirent_get(entry, DIRENT_FIRST_SECTOR)) * SECTOR_SIZE;
}

uint64_t extent_of(const PartitionInfo *partition, const DirEntry *entry, FileExtent extent)
{
    if (extent == FileExtent::Readable)
        return dfile_readable_size(partition, entry);
    return std::min(dirent_size(entry), chain_bytes(partition, entry));
}

// The bytes the entry's allocated sectors hold, as far as its chain has them.
uint64_t allocated_bytes(const PartitionInfo *partition, const DirEntry *entry)
{
    uint64_t allocated = uint64_t{dirent_get(entry, DIRENT_ALLOCATED_SECTORS)} * SECTOR_SIZE;
    return std::min(allocated, chain_bytes(partition, entry));
}

} // namespace

uint64_t dfile_readable_size(const PartitionInfo *partition, const DirEntry *entry)
{
    return std::min(dirent_size(entry), allocated_bytes(partition, entry));
}

void dfile_report_size(const PartitionInfo *partition, const DirEntry *entry)
{
    if (entry->size_reported)
        return;
    uint64_t allocated = allocated_bytes(partition, entry);
    if (dirent_size(entry) <= allocated)
        return;
    entry->size_reported = true;
    warn("Warning file allocation error - truncating to %llu bytes\n",
         static_cast<unsigned long long>(allocated));
}

void dfile_map(HumaxDisk *disk, int index, const DirEntry *entry, const FileMapOptions &options,
               FileMap *map)
{
    const PartitionInfo *p = &disk->partitions[index];
    *map = FileMap{};
    map->stream = &disk->stream;
    map->data_position = sector_position(p->data_sector);
    map->cluster_length = static_cast<uint32_t>(cluster_bytes(p));
    map->swap = options.swap;
    char name[DIR_NAME_LENGTH + 1];
    dirent_copy_name(entry, name);
    map->name = text_shown(name);
    if (options.report && options.extent == FileExtent::Readable)
        dfile_report_size(p, entry);
    map->size = extent_of(p, entry, options.extent);
    uint32_t cluster;
    if (map->size == 0 || !fat_cluster_of_sector(p, dirent_get(entry, DIRENT_FIRST_SECTOR), &cluster)) {
        map->size = 0;
        return;
    }
    // The extent never exceeds the chain's distinct clusters, so this walk meets each
    // cluster once and ends before any loop closes.
    uint64_t needed = (map->size + map->cluster_length - 1) / map->cluster_length;
    uint64_t offset = 0;
    for (uint64_t taken = 0; taken < needed; ++taken) {
        if (!map->runs.empty() && map->runs.back().first + map->runs.back().count == cluster)
            ++map->runs.back().count;
        else
            map->runs.push_back({offset, cluster, 1});
        offset += map->cluster_length;
        if (taken + 1 == needed) {
            // Where the file ends, its chain should end too, with the end marker.
            uint32_t value = fat_get(p, cluster);
            map->unmarked_end = options.report && value != FAT_END && value >= p->cluster_count;
        }
        if (!fat_next(p, cluster, &cluster))
            break;
    }
    map->size = std::min(map->size, offset);
}

bool dfile_map_name(HumaxDisk *disk, int index, const char *name, const FileMapOptions &options,
                    FileMap *map)
{
    DirEntry *entry = dir_find(&disk->partitions[index], name);
    if (entry == nullptr)
        return false;
    dfile_map(disk, index, entry, options, map);
    return true;
}

namespace {

// The system's error, then where the read that failed lay on the disk (the read of
// `length` bytes of `run` from file byte `offset`), so that the user can image that
// area with GNU ddrescue.
bool failed(const FileMap *map, const ClusterRun &run, uint64_t offset, size_t length, Error *error)
{
    int code = errno;
    error_set_errno(error, ErrorKind::Read, code, map->name.c_str());
    uint64_t position = map->data_position + uint64_t{run.first} * map->cluster_length + (offset - run.offset);
    auto first = static_cast<unsigned long long>(position / SECTOR_SIZE);
    auto last = static_cast<unsigned long long>((position + std::max<size_t>(length, 1) - 1) / SECTOR_SIZE);
    char sectors[64];
    if (first == last)
        snprintf(sectors, sizeof sectors, "sector %llu", first);
    else
        snprintf(sectors, sizeof sectors, "sectors %llu-%llu", first, last);
    char where[200];
    snprintf(where, sizeof where, "%s: reading %s of the disk (bytes %llu to %llu) failed\n", map->name.c_str(),
             sectors, first * SECTOR_SIZE, (last + 1) * SECTOR_SIZE - 1);
    error->text += where;
    return false;
}

// One 4-byte group of the disk at `position`, in the map's byte order.
bool read_group(const FileMap *map, uint64_t position, uint8_t group[4])
{
    if (!disk_read_at(map->stream, position, group, 4))
        return false;
    if (map->swap == Swap::Yes)
        swap_words(group, 1);
    return true;
}

// Reads the file's bytes [offset, offset + length), which lie inside `run`, into `out`,
// which has room for `room` bytes (at least `length`): a partial group at their end is
// stored whole as far as the room allows. Groups start at multiples of 4 in the file, and
// runs start and end on group boundaries.
bool read_in_run(const FileMap *map, const ClusterRun &run, uint64_t offset, uint8_t *out,
                 size_t length, size_t room)
{
    const size_t total = length;
    uint64_t position =
        map->data_position + uint64_t{run.first} * map->cluster_length + (offset - run.offset);
    uint8_t group[4];
    size_t skip = offset % 4;
    if (skip != 0) {
        if (!read_group(map, position - skip, group))
            return false;
        size_t take = std::min(4 - skip, length);
        memcpy(out, group + skip, take);
        out += take;
        position += take;
        length -= take;
    }
    size_t whole = length & ~size_t{3};
    if (whole > 0) {
        if (!disk_read_at(map->stream, position, out, whole))
            return false;
        if (map->swap == Swap::Yes)
            swap_words(out, whole / 4);
        out += whole;
        position += whole;
        length -= whole;
    }
    if (length > 0) {
        if (!read_group(map, position, group))
            return false;
        memcpy(out, group, std::min<size_t>(4, room - (total - length)));
    }
    return true;
}

// With report: the first byte of the last cluster is about to be read.
void report_end(const FileMap *map, uint64_t from, uint64_t to)
{
    if (!map->unmarked_end || map->size == 0)
        return;
    uint64_t last = (map->size - 1) / map->cluster_length * map->cluster_length;
    if (from <= last && last < to)
        warn("Missing end of file marker\n");
}

} // namespace

bool dfile_map_read(FileMap *map, uint64_t offset, void *destination, size_t length, size_t *done,
                    Error *error)
{
    *done = 0;
    if (offset >= map->size || length == 0)
        return true;
    size_t room = length;
    length = static_cast<size_t>(std::min<uint64_t>(length, map->size - offset));
    // The last run that begins at or before the offset holds it.
    auto run = std::upper_bound(map->runs.begin(), map->runs.end(), offset,
                                [](uint64_t at, const ClusterRun &r) { return at < r.offset; });
    --run;
    auto *out = static_cast<uint8_t *>(destination);
    while (*done < length) {
        uint64_t run_end = run->offset + uint64_t{run->count} * map->cluster_length;
        size_t piece = static_cast<size_t>(std::min<uint64_t>(length - *done, run_end - offset));
        report_end(map, offset, offset + piece);
        size_t span = piece, piece_room = piece;
        if (*done + piece == length) {
            // The last piece goes on to the end of its cluster when the caller has room:
            // whole clusters then move in one transfer, as the disk holds them.
            piece_room = room - *done;
            uint64_t end = offset + piece;
            uint64_t cluster_end = (end + map->cluster_length - 1) / map->cluster_length * map->cluster_length;
            uint64_t group_end = (end + 3) / 4 * 4;
            if (cluster_end - offset <= piece_room)
                span = static_cast<size_t>(cluster_end - offset);
            else if (group_end - offset <= piece_room)
                span = static_cast<size_t>(group_end - offset); // its last group in the same transfer
        }
        if (!read_in_run(map, *run, offset, out + *done, span, piece_room))
            return failed(map, *run, offset, span, error);
        *done += piece;
        offset += piece;
        ++run;
    }
    return true;
}

bool dfile_map_write(FileMap *map, uint64_t offset, const void *data, size_t length, Error *error)
{
    const auto *in = static_cast<const uint8_t *>(data);
    uint64_t limit = map->runs.empty() ? 0
                                       : map->runs.back().offset +
                                             uint64_t{map->runs.back().count} * map->cluster_length;
    length = static_cast<size_t>(std::min<uint64_t>(length, offset < limit ? limit - offset : 0));
    while (length > 0) {
        auto run = std::upper_bound(map->runs.begin(), map->runs.end(), offset,
                                    [](uint64_t at, const ClusterRun &r) { return at < r.offset; });
        --run;
        uint64_t run_end = run->offset + uint64_t{run->count} * map->cluster_length;
        size_t piece = static_cast<size_t>(std::min<uint64_t>(length, run_end - offset));
        uint64_t position =
            map->data_position + uint64_t{run->first} * map->cluster_length + (offset - run->offset);
        if (!disk_write_at(map->stream, position, in, piece))
            return error_set_errno(error, ErrorKind::Write, errno, map->name.c_str());
        in += piece;
        offset += piece;
        length -= piece;
    }
    return true;
}
