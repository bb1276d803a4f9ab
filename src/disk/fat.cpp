#include "disk/fat.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/byte_order.h"
#include "common/error.h"
#include "common/fatal.h"
#include "disk/humax_disk.h"

namespace {

constexpr uint32_t WORDS_PER_SECTOR = SECTOR_SIZE / 4;
// A table this large cannot belong to a real disk; refusing it keeps a corrupt
// descriptor from exhausting memory.
constexpr uint64_t FAT_MAX_BYTES = uint64_t{4} << 30;

// Sectors of the table that hold word 0 and the entries of the usable clusters.
uint32_t loaded_sectors(const PartitionInfo *p)
{
    uint64_t needed = (uint64_t{p->cluster_count} + 1 + WORDS_PER_SECTOR - 1) / WORDS_PER_SECTOR;
    return static_cast<uint32_t>(needed < p->fat_sectors ? needed : p->fat_sectors);
}

} // namespace

uint32_t fat_get(const PartitionInfo *partition, uint32_t cluster)
{
    return partition->fat[cluster + 1];
}

void fat_set(PartitionInfo *partition, uint32_t cluster, uint32_t value)
{
    partition->fat[cluster + 1] = value;
}

uint32_t fat_word0(const PartitionInfo *partition)
{
    return partition->fat[0];
}

void fat_set_word0(PartitionInfo *partition, uint32_t value)
{
    partition->fat[0] = value;
}

uint32_t fat_word0_on_disk(const PartitionInfo *partition)
{
    return partition->fat_on_disk != nullptr ? partition->fat_on_disk[0] : partition->fat[0];
}

uint64_t fat_sectors_held(const PartitionInfo *partition)
{
    return partition->fat_words / WORDS_PER_SECTOR;
}

bool fat_next(const PartitionInfo *partition, uint32_t cluster, uint32_t *next)
{
    uint32_t value = fat_get(partition, cluster);
    if (value >= partition->cluster_count || value == cluster)
        return false;
    *next = value;
    return true;
}

uint64_t fat_cluster_sector(const PartitionInfo *partition, uint32_t cluster)
{
    return uint64_t{partition->data_sector} + uint64_t{cluster} * partition->cluster_sectors;
}

uint64_t fat_cluster_position(const PartitionInfo *partition, uint32_t cluster)
{
    return fat_cluster_sector(partition, cluster) * SECTOR_SIZE;
}

namespace {

// The table region's words that are on the disk: a damaged descriptor must not make a
// small image claim a table of gigabytes.
uint64_t words_on_disk(const HumaxDisk *disk, const PartitionInfo *p)
{
    uint64_t region_words = uint64_t{p->fat_sectors} * WORDS_PER_SECTOR;
    uint64_t table_start = sector_position(p->fat_sector);
    uint64_t disk_bytes = disk->volume.disk_bytes;
    uint64_t available = disk_bytes > table_start ? (disk_bytes - table_start) / 4 : 0;
    return region_words < available ? region_words : available;
}

bool table_too_large(const PartitionInfo *p)
{
    uint64_t region_words = uint64_t{p->fat_sectors} * WORDS_PER_SECTOR;
    return std::min(region_words, uint64_t{p->cluster_count} + 1) * 4 > FAT_MAX_BYTES;
}

// Notes the entries that name no cluster of the partition, or their own cluster.
void note_invalid_entries(const PartitionInfo *p, PartitionRead *found)
{
    for (uint32_t c = 0; c < p->cluster_count; ++c) {
        uint32_t v = fat_get(p, c);
        bool valid = (v < p->cluster_count && v != c) || v == FAT_END || v == FAT_FREE;
        if (valid)
            continue;
        if (found->invalid_entries++ == 0) {
            found->first_invalid_cluster = c;
            found->first_invalid_value = v;
        }
    }
}

// Room for `words` words and one more; null when memory cannot hold them.
uint32_t *table_memory(uint64_t words)
{
    return static_cast<uint32_t *>(calloc(words + 1, 4));
}

// The table of a partition left without clusters: word 0 alone.
uint32_t *empty_table()
{
    uint32_t *memory = table_memory(1);
    if (memory == nullptr)
        fatal_errno("malloc");
    return memory;
}

} // namespace

void fat_read(HumaxDisk *disk, int index, PartitionRead *found)
{
    PartitionInfo *p = &disk->partitions[index];
    found->declared_clusters = p->cluster_count;
    uint64_t region_words = words_on_disk(disk, p);
    if (table_too_large(p)) {
        // Not loaded: the partition is left with no clusters (and its word 0 at zero).
        found->table_too_large = true;
        region_words = 0;
    }
    // Entries beyond the table region are not on the disk: those clusters are unusable.
    if (region_words == 0)
        p->cluster_count = 0;
    else if (p->cluster_count > region_words - 1) {
        p->cluster_count = static_cast<uint32_t>(region_words - 1);
        found->table_clamped = true;
    }
    uint64_t bytes = std::max<uint64_t>(uint64_t{loaded_sectors(p)} * SECTOR_SIZE, 4);
    p->fat = table_memory(bytes / 4);
    if (p->fat == nullptr) {
        // As good as too large: memory cannot hold it.
        found->table_too_large = true;
        p->cluster_count = 0;
        bytes = 4;
        p->fat = empty_table();
    }
    if (!found->table_too_large &&
        !disk_read_at(&disk->stream, sector_position(p->fat_sector), p->fat,
                      uint64_t{loaded_sectors(p)} * SECTOR_SIZE)) {
        found->fat_errno = errno;
        p->cluster_count = 0;
    }
    // A table that was not read is never written back.
    bool read = !found->table_too_large && found->fat_errno == 0;
    p->fat_words = read ? uint64_t{loaded_sectors(p)} * WORDS_PER_SECTOR : 0;
    for (uint64_t w = 0; w < bytes / 4; ++w)
        p->fat[w] = load_le32(reinterpret_cast<const uint8_t *>(&p->fat[w]));
    // What the disk holds is kept apart only where it can change: a disk opened for
    // reading needs one copy of its table, which on a large disk is hundreds of MiB.
    if (disk->stream.writable) {
        p->fat_on_disk = table_memory(bytes / 4);
        if (p->fat_on_disk == nullptr) {
            found->table_too_large = true;
            p->cluster_count = 0;
            p->fat_words = 0;
            bytes = 4;
            p->fat_on_disk = empty_table();
        }
        memcpy(p->fat_on_disk, p->fat, (bytes / 4 + 1) * 4);
    }
    note_invalid_entries(p, found);
}

bool fat_validate(const HumaxDisk *disk, int index, const PartitionRead &found, Error *error)
{
    const PartitionInfo *p = &disk->partitions[index];
    if (found.table_too_large)
        return error_set_errno(error, ErrorKind::Volume, ENOMEM, "FAT Memory allocation");
    if (found.fat_errno != 0) {
        // Which structure, and where: on a failing drive the user images those sectors.
        char label[96];
        snprintf(label, sizeof label, "FAT of the %s partition (sectors %u-%u)", partition_name(index),
                 p->fat_sector, p->fat_sector + p->fat_sectors - 1);
        return error_set_errno(error, ErrorKind::Volume, found.fat_errno, label);
    }
    if (found.table_clamped)
        warn("%s partition - allocation table holds %llu of %u clusters\n", partition_name(index),
             static_cast<unsigned long long>(p->cluster_count), found.declared_clusters);
    if (found.invalid_entries > 0)
        return error_set(error, ErrorKind::Volume,
                         "%s partition - error in file allocation table %08x %08x %08x\n",
                         partition_name(p->index), p->cluster_count, found.first_invalid_cluster,
                         found.first_invalid_value);
    return true;
}

uint32_t fat_free_count(const PartitionInfo *partition)
{
    uint32_t used = 0;
    for (uint32_t c = 0; c < partition->cluster_count; ++c) {
        if (fat_get(partition, c) != FAT_FREE)
            ++used;
    }
    uint32_t counted = partition->cluster_count - used;
    uint32_t stored = fat_word0(partition);
    return counted < stored ? counted : stored;
}

uint64_t fat_clusters_needed(const PartitionInfo *partition, uint64_t size)
{
    uint64_t length = cluster_bytes(partition);
    uint64_t count = size / length + (size % length != 0 ? 1 : 0);
    return count == 0 ? 1 : count;
}

namespace {

bool allocatable(const PartitionInfo *p, uint32_t cluster)
{
    return p->fat[cluster + 1] == FAT_FREE &&
           (p->fat_on_disk == nullptr || p->fat_on_disk[cluster + 1] == FAT_FREE);
}

uint32_t allocatable_count(const PartitionInfo *p)
{
    uint32_t count = 0;
    for (uint32_t c = 0; c < p->cluster_count; ++c)
        count += allocatable(p, c) ? 1 : 0;
    uint32_t stored = fat_word0(p);
    return count < stored ? count : stored;
}

} // namespace

bool fat_take(PartitionInfo *partition, uint64_t count, ClusterChain *chain)
{
    // Counted first, so that a shortage changes nothing.
    uint64_t found = 0;
    for (uint32_t c = 0; c < partition->cluster_count && found < count; ++c)
        found += allocatable(partition, c) ? 1 : 0;
    if (count == 0 || found < count)
        return false;
    *chain = ClusterChain{};
    for (uint32_t c = 0; c < partition->cluster_count && chain->count < count; ++c) {
        if (!allocatable(partition, c))
            continue;
        if (chain->count == 0)
            chain->first = c;
        else
            fat_set(partition, chain->last, c);
        fat_set(partition, c, FAT_END);
        chain->last = c;
        ++chain->count;
    }
    return true;
}

bool fat_allocate(PartitionInfo *partition, uint64_t size, ClusterChain *chain, Error *error)
{
    uint64_t needed = fat_clusters_needed(partition, size);
    partition->free_clusters = fat_free_count(partition);
    if (partition->free_clusters < needed || allocatable_count(partition) < needed ||
        !fat_take(partition, needed, chain))
        return error_set(error, ErrorKind::Space, "Insufficient space\n");
    fat_set_word0(partition, fat_word0(partition) - chain->count);
    return true;
}

bool fat_cluster_of_sector(const PartitionInfo *partition, uint32_t sector, uint32_t *cluster)
{
    if (sector < partition->data_sector)
        return false;
    uint32_t c = (sector - partition->data_sector) / partition->cluster_sectors;
    if (c >= partition->cluster_count)
        return false;
    *cluster = c;
    return true;
}

namespace {

constexpr uint32_t STOP = UINT32_MAX;

// fat_next for the walk: the next cluster, or STOP.
uint32_t chain_step(const PartitionInfo *p, uint32_t cluster)
{
    uint32_t next;
    return fat_next(p, cluster, &next) ? next : STOP;
}

} // namespace

ChainEnd fat_chain_end(const PartitionInfo *partition, uint32_t value)
{
    if (value == FAT_END)
        return ChainEnd::Marker;
    if (value == FAT_FREE)
        return ChainEnd::Free;
    return value < partition->cluster_count ? ChainEnd::Loop : ChainEnd::Invalid;
}

ChainWalk fat_walk_chain(const PartitionInfo *partition, uint32_t first)
{
    ChainWalk walk;
    walk.first = first;
    // Brent: `slow` waits at powers of two while `fast` runs; they meet only in a loop.
    uint64_t power = 1, loop = 1, walked = 1;
    uint32_t slow = first, last = first;
    uint32_t fast = chain_step(partition, first);
    while (fast != STOP && fast != slow) {
        if (loop == power) {
            slow = fast;
            power *= 2;
            loop = 0;
        }
        last = fast;
        fast = chain_step(partition, fast);
        ++loop;
        ++walked;
    }
    if (fast == STOP) {
        walk.length = walked;
        walk.last = last;
    } else {
        // A loop of `loop` clusters: two walkers `loop` apart meet at its first cluster,
        // after as many steps as clusters lead into it.
        uint32_t behind = first, ahead = first;
        for (uint64_t i = 0; i < loop; ++i)
            ahead = chain_step(partition, ahead);
        uint64_t lead_in = 0;
        while (behind != ahead) {
            behind = chain_step(partition, behind);
            ahead = chain_step(partition, ahead);
            ++lead_in;
        }
        walk.length = lead_in + loop;
        uint32_t cluster = first;
        for (uint64_t i = 1; i < walk.length; ++i)
            cluster = chain_step(partition, cluster);
        walk.last = cluster;
    }
    walk.end_value = fat_get(partition, walk.last);
    walk.end = fat_chain_end(partition, walk.end_value);
    return walk;
}

uint64_t fat_chain_sectors_from(const PartitionInfo *partition, uint32_t first_sector)
{
    uint32_t c;
    if (!fat_cluster_of_sector(partition, first_sector, &c))
        return 0;
    return fat_walk_chain(partition, c).length * partition->cluster_sectors;
}

namespace {

// A table is written only to a disk opened for writing (which alone keeps what the disk
// holds apart from what changed in memory).
bool require_writable(const PartitionInfo *p, Error *error)
{
    if (p->fat_on_disk == nullptr)
        return error_set_errno(error, ErrorKind::Write, EBADF, "FAT");
    return true;
}

// Writes the sectors of `wanted` that differ from what the disk holds, in runs of
// adjacent sectors, and records them as written. A run that fails is not recorded: the
// disk may hold part of it.
bool write_changed_sectors(HumaxDisk *disk, PartitionInfo *p, const uint32_t *wanted, bool *wrote, Error *error)
{
    uint64_t sectors = p->fat_words / WORDS_PER_SECTOR;
    uint64_t s = 0;
    while (s < sectors) {
        auto differs = [&](uint64_t sector) {
            return memcmp(wanted + sector * WORDS_PER_SECTOR, p->fat_on_disk + sector * WORDS_PER_SECTOR,
                          SECTOR_SIZE) != 0;
        };
        if (!differs(s)) {
            ++s;
            continue;
        }
        uint64_t end = s + 1;
        while (end < sectors && differs(end))
            ++end;
        uint64_t words = (end - s) * WORDS_PER_SECTOR;
        std::vector<uint32_t> out(wanted + s * WORDS_PER_SECTOR, wanted + s * WORDS_PER_SECTOR + words);
        for (uint32_t &w : out)
            store_le32(reinterpret_cast<uint8_t *>(&w), w);
        if (!disk_write_at(&disk->stream, sector_position(p->fat_sector) + s * SECTOR_SIZE,
                           out.data(), words * 4))
            return error_set_errno(error, ErrorKind::Write, errno, "FAT");
        memcpy(p->fat_on_disk + s * WORDS_PER_SECTOR, wanted + s * WORDS_PER_SECTOR, words * 4);
        *wrote = true;
        s = end;
    }
    return true;
}

} // namespace

bool fat_write_allocations(HumaxDisk *disk, PartitionInfo *partition, bool *wrote, Error *error)
{
    // Allocations only: clusters free on the disk take their new values; clusters the disk
    // still shows as used keep them until the directory no longer names their file.
    *wrote = false;
    if (partition->fat_words == 0)
        return true;
    if (!require_writable(partition, error))
        return false;
    std::vector<uint32_t> staged(partition->fat_on_disk, partition->fat_on_disk + partition->fat_words);
    uint32_t taken = 0;
    for (uint64_t w = 1; w < partition->fat_words; ++w) {
        if (staged[w] == FAT_FREE && partition->fat[w] != FAT_FREE) {
            staged[w] = partition->fat[w];
            ++taken;
        }
    }
    staged[0] = partition->fat_on_disk[0] - taken;
    return write_changed_sectors(disk, partition, staged.data(), wrote, error);
}

bool fat_write(HumaxDisk *disk, PartitionInfo *partition, bool *wrote, Error *error)
{
    *wrote = false;
    if (partition->fat_words > 0 && !require_writable(partition, error))
        return false;
    return write_changed_sectors(disk, partition, partition->fat, wrote, error);
}

void fat_release(PartitionInfo *partition)
{
    free(partition->fat);
    free(partition->fat_on_disk);
    partition->fat = nullptr;
    partition->fat_on_disk = nullptr;
}

uint64_t disk_free_space(const HumaxDisk *disk, int index)
{
    const PartitionInfo *p = &disk->partitions[index];
    return uint64_t{p->free_clusters} * cluster_bytes(p);
}
