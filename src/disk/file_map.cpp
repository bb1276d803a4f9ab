#include "disk/file_map.h"

#include <algorithm>
#include <cstring>

#include "disk/disk_io.h"
#include "disk/fat.h"

uint64_t dfile_readable_size(const PartitionInfo *partition, const DirEntry *entry)
{
    uint64_t chain = fat_chain_sectors_from(partition, dirent_get(entry, DIRENT_FIRST_SECTOR));
    uint64_t allocated = std::min<uint64_t>(dirent_get(entry, DIRENT_ALLOCATED_SECTORS), chain);
    return std::min(dirent_size(entry), allocated * SECTOR_SIZE);
}

void dfile_map(HumaxDisk *disk, int index, const DirEntry *entry, FileMap *map)
{
    const PartitionInfo *p = &disk->partitions[index];
    *map = FileMap{};
    map->stream = &disk->stream;
    map->data_position = sector_position(p->data_sector);
    map->cluster_length = static_cast<uint32_t>(cluster_bytes(p));
    map->size = dfile_readable_size(p, entry);
    uint32_t cluster;
    if (map->size == 0 ||
        !fat_cluster_of_sector(p, dirent_get(entry, DIRENT_FIRST_SECTOR), &cluster)) {
        map->size = 0;
        return;
    }
    // The readable size never exceeds the chain's distinct clusters, so this walk meets
    // each cluster once and ends before any loop closes.
    uint64_t needed = (map->size + map->cluster_length - 1) / map->cluster_length;
    uint64_t offset = 0;
    for (uint64_t taken = 0; taken < needed; ++taken) {
        if (!map->runs.empty() && map->runs.back().first + map->runs.back().count == cluster)
            ++map->runs.back().count;
        else
            map->runs.push_back({offset, cluster, 1});
        offset += map->cluster_length;
        uint32_t next = fat_get(p, cluster);
        if (next >= p->cluster_count)
            break;
        cluster = next;
    }
    map->size = std::min(map->size, offset);
}

namespace {

// One 4-byte group of the disk at `position`, in natural order.
bool read_group(const FileMap *map, uint64_t position, uint8_t group[4])
{
    if (!disk_read_at(map->stream, position, group, 4))
        return false;
    swap_words(group, 1);
    return true;
}

// Reads the file's bytes [offset, offset + length), which lie inside `run`. Groups
// start at multiples of 4 in the file, and runs start and end on group boundaries.
bool read_in_run(const FileMap *map, const ClusterRun &run, uint64_t offset, uint8_t *out,
                 size_t length)
{
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
        swap_words(out, whole / 4);
        out += whole;
        position += whole;
        length -= whole;
    }
    if (length > 0) {
        if (!read_group(map, position, group))
            return false;
        memcpy(out, group, length);
    }
    return true;
}

} // namespace

ssize_t dfile_map_read(const FileMap *map, uint64_t offset, void *destination, size_t length)
{
    if (offset >= map->size || length == 0)
        return 0;
    length = static_cast<size_t>(std::min<uint64_t>(length, map->size - offset));
    // The last run that begins at or before the offset holds it.
    auto run = std::upper_bound(map->runs.begin(), map->runs.end(), offset,
                                [](uint64_t at, const ClusterRun &r) { return at < r.offset; });
    --run;
    auto *out = static_cast<uint8_t *>(destination);
    size_t done = 0;
    while (done < length) {
        uint64_t run_end = run->offset + uint64_t{run->count} * map->cluster_length;
        size_t piece = static_cast<size_t>(std::min<uint64_t>(length - done, run_end - offset));
        if (!read_in_run(map, *run, offset, out + done, piece))
            return -1;
        done += piece;
        offset += piece;
        ++run;
    }
    return static_cast<ssize_t>(done);
}
