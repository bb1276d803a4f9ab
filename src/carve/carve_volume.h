#pragma once
// What the carver scans: the data areas of the AV and EPG partitions as their descriptors
// lay them out, and in each the clusters to read. Scanning the free clusters trusts the
// allocation table and directory (what no file's chain holds is what a delete freed);
// scanning every cluster needs only the partition table and the descriptors, for a disk
// whose tables are zeroed, unreadable or overwritten.
#include <cstdint>
#include <string>
#include <vector>

#include "disk/humax_disk.h"

enum class CarveScope { Free, All };

// One bit per cluster.
struct CarveBits {
    std::vector<uint64_t> words;
    uint32_t size = 0;
};

void carve_bits_make(CarveBits *bits, uint32_t size, bool value);
inline bool carve_bit(const CarveBits &bits, uint32_t i)
{
    return bits.words[i >> 6] >> (i & 63) & 1;
}
inline void carve_bit_set(CarveBits *bits, uint32_t i, bool value)
{
    uint64_t mask = uint64_t{1} << (i & 63);
    bits->words[i >> 6] = value ? bits->words[i >> 6] | mask : bits->words[i >> 6] & ~mask;
}
// The first set bit at or after `from`, or bits.size.
uint32_t carve_bits_next(const CarveBits &bits, uint32_t from);
uint64_t carve_bits_count(const CarveBits &bits);

struct CarvePartition {
    int index = 0;
    uint64_t data_position = 0; // byte position of cluster 0
    uint32_t cluster_length = 0;
    uint32_t cluster_count = 0;
};

// A recording's stream file on the disk (a ".av" file of the AV partition).
struct CarveLiveFile {
    std::string name;
    uint64_t size = 0;
    uint32_t first_cluster = 0;
    uint32_t last_cluster = 0; // of its chain, however damaged
};

enum class CarveVolumeProblem {
    None,
    NoPartitionTable, // sector 0 unread or without the partition markers
    NoAvPartition,    // the AV descriptor is unread or gives no clusters
    AvTablesUnread,   // (free clusters only) the AV allocation table or directory was not read
};

struct CarveVolume {
    CarveScope scope = CarveScope::Free;
    CarvePartition av;
    CarveBits av_scan; // clusters to scan
    bool has_epg = false;
    bool epg_skipped = false; // an EPG partition whose tables were not read (free clusters only)
    CarvePartition epg;
    CarveBits epg_scan;
    // The AV partition's ".av" files, when its table and directory were read: a found
    // stream may be one of them, a copy of one, or its lost continuation.
    std::vector<CarveLiveFile> live;
};

// Works out what to scan from a disk whose volume was read (disk_read_volume), whether or
// not opening would accept it. Returns what stops the scan, or None.
CarveVolumeProblem carve_volume_make(const HumaxDisk *disk, CarveScope scope, CarveVolume *volume);

// The ".av" file whose chain holds `cluster` for each of `clusters` (index into
// volume.live, or -1), walking every live chain once.
std::vector<int> carve_live_owners(const HumaxDisk *disk, const CarveVolume &volume,
                                   const std::vector<uint32_t> &clusters);
