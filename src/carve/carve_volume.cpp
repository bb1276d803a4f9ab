#include "carve/carve_volume.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>

#include "disk/directory.h"
#include "disk/fat.h"

namespace {

constexpr const char *STREAM_EXTENSION = ".av";

// The layout of partition `index` as its descriptor gives it, bounded by the end of the
// disk (a damaged descriptor must not make the scan read terabytes of nothing). Scanning
// free clusters keeps to the clusters the allocation table covers.
bool partition_layout(const HumaxDisk *disk, int index, CarveScope scope, CarvePartition *out)
{
    const PartitionInfo &p = disk->partitions[index];
    const PartitionRead &read = disk->volume.partitions[index];
    if (index >= disk->partition_count || read.descriptor_errno != 0 || p.cluster_sectors == 0)
        return false;
    uint64_t length = uint64_t{p.cluster_sectors} * SECTOR_SIZE;
    uint64_t clusters = p.data_sectors / p.cluster_sectors;
    if (scope == CarveScope::Free)
        clusters = std::min<uint64_t>(clusters, p.cluster_count);
    uint64_t position = sector_position(p.data_sector);
    uint64_t disk_bytes = disk->volume.disk_bytes;
    if (disk_bytes != UINT64_MAX)
        clusters = std::min(clusters, disk_bytes > position ? (disk_bytes - position + length - 1) / length : 0);
    out->index = index;
    out->data_position = position;
    out->cluster_length = static_cast<uint32_t>(length);
    out->cluster_count = static_cast<uint32_t>(std::min<uint64_t>(clusters, UINT32_MAX));
    return out->cluster_count > 0;
}

bool tables_read(const HumaxDisk *disk, int index)
{
    return index < disk->partition_count && disk->volume.partitions[index].loaded &&
           !disk->volume.partitions[index].unsupported;
}

// Each chain walked until it leaves the partition, ends, or meets a cluster already
// marked (a loop, or a cluster two files share): every step marks a new cluster.
void mark_owned(const PartitionInfo &p, CarveBits *owned)
{
    for (const DirEntry *e = p.dir_head; e != nullptr; e = e->next) {
        uint32_t c;
        if (!fat_cluster_of_sector(&p, dirent_get(e, DIRENT_FIRST_SECTOR), &c))
            continue;
        while (c < owned->size && !carve_bit(*owned, c)) {
            carve_bit_set(owned, c, true);
            if (!fat_next(&p, c, &c))
                break;
        }
    }
}

// The clusters of the partition that no file holds (or all of them).
void choose_clusters(const HumaxDisk *disk, const CarvePartition &part, CarveScope scope, CarveBits *scan)
{
    carve_bits_make(scan, part.cluster_count, true);
    if (scope == CarveScope::All)
        return;
    const PartitionInfo &p = disk->partitions[part.index];
    CarveBits owned;
    carve_bits_make(&owned, p.cluster_count, false);
    mark_owned(p, &owned);
    for (uint32_t c = 0; c < part.cluster_count && c < owned.size; ++c) {
        if (carve_bit(owned, c))
            carve_bit_set(scan, c, false);
    }
}

bool is_stream_name(const char *name)
{
    const char *dot = strchr(name, '.');
    return dot != nullptr && strcmp(dot, STREAM_EXTENSION) == 0;
}

void find_live_files(const HumaxDisk *disk, std::vector<CarveLiveFile> *live)
{
    const PartitionInfo &p = disk->partitions[PARTITION_AV];
    for (const DirEntry *e = p.dir_head; e != nullptr; e = e->next) {
        char name[DIR_NAME_LENGTH + 1];
        dirent_copy_name(e, name);
        uint32_t first;
        if (!is_stream_name(name) || !fat_cluster_of_sector(&p, dirent_get(e, DIRENT_FIRST_SECTOR), &first))
            continue;
        CarveLiveFile file;
        file.name = name;
        file.size = dirent_size(e);
        file.first_cluster = first;
        file.last_cluster = fat_walk_chain(&p, first).last;
        live->push_back(file);
    }
}

} // namespace

void carve_bits_make(CarveBits *bits, uint32_t size, bool value)
{
    bits->size = size;
    bits->words.assign((uint64_t{size} + 63) / 64, value ? ~uint64_t{0} : 0);
    if (value && size % 64 != 0)
        bits->words.back() = (uint64_t{1} << (size % 64)) - 1;
}

uint32_t carve_bits_next(const CarveBits &bits, uint32_t from)
{
    if (from >= bits.size)
        return bits.size;
    size_t w = from >> 6;
    uint64_t word = bits.words[w] & (~uint64_t{0} << (from & 63));
    while (word == 0) {
        if (++w >= bits.words.size())
            return bits.size;
        word = bits.words[w];
    }
    uint64_t found = uint64_t{w} * 64 + static_cast<unsigned>(std::countr_zero(word));
    return found < bits.size ? static_cast<uint32_t>(found) : bits.size;
}

uint64_t carve_bits_count(const CarveBits &bits)
{
    uint64_t count = 0;
    for (uint64_t word : bits.words)
        count += static_cast<unsigned>(std::popcount(word));
    return count;
}

CarveVolumeProblem carve_volume_make(const HumaxDisk *disk, CarveScope scope, CarveVolume *volume)
{
    *volume = CarveVolume{};
    volume->scope = scope;
    if (disk->volume.table_errno != 0 || disk->volume.table_unknown || disk->partition_count == 0)
        return CarveVolumeProblem::NoPartitionTable;
    if (!partition_layout(disk, PARTITION_AV, scope, &volume->av))
        return CarveVolumeProblem::NoAvPartition;
    bool av_tables = tables_read(disk, PARTITION_AV);
    if (scope == CarveScope::Free && !av_tables)
        return CarveVolumeProblem::AvTablesUnread;
    choose_clusters(disk, volume->av, scope, &volume->av_scan);
    if (av_tables)
        find_live_files(disk, &volume->live);
    if (partition_layout(disk, PARTITION_EPG, scope, &volume->epg)) {
        if (scope == CarveScope::Free && !tables_read(disk, PARTITION_EPG)) {
            volume->epg_skipped = true;
        } else {
            volume->has_epg = true;
            choose_clusters(disk, volume->epg, scope, &volume->epg_scan);
        }
    }
    return CarveVolumeProblem::None;
}

std::vector<int> carve_live_owners(const HumaxDisk *disk, const CarveVolume &volume,
                                   const std::vector<uint32_t> &clusters)
{
    std::vector<int> owners(clusters.size(), -1);
    if (volume.live.empty())
        return owners;
    std::unordered_map<uint32_t, std::vector<size_t>> wanted;
    for (size_t i = 0; i < clusters.size(); ++i)
        wanted[clusters[i]].push_back(i);
    const PartitionInfo &p = disk->partitions[PARTITION_AV];
    CarveBits visited;
    carve_bits_make(&visited, p.cluster_count, false);
    for (size_t f = 0; f < volume.live.size(); ++f) {
        for (uint32_t c = volume.live[f].first_cluster; c < visited.size && !carve_bit(visited, c);) {
            carve_bit_set(&visited, c, true);
            auto found = wanted.find(c);
            if (found != wanted.end()) {
                for (size_t i : found->second)
                    owners[i] = static_cast<int>(f);
            }
            if (!fat_next(&p, c, &c))
                break;
        }
    }
    return owners;
}
