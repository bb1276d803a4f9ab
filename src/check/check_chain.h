#pragma once
// Walking allocation-table chains that may be damaged: every walk is bounded by the
// chain's distinct clusters, whatever the table holds (loops, values naming no cluster,
// free entries inside a chain). Shared by the checker, the writing guard and the
// unreadable-area report.
#include <cstdint>
#include <string>
#include <vector>

#include "disk/fat.h"
#include "disk/humax_disk.h"

// The cluster after `cluster` in its chain (the table's own rule, fat_next).
inline bool check_next_cluster(const PartitionInfo *partition, uint32_t cluster, uint32_t *next)
{
    return fat_next(partition, cluster, next);
}

// Calls visit(index, cluster) for each distinct cluster of the walked chain, in order;
// stops early when visit returns false.
template <typename Visit>
void check_for_each_cluster(const PartitionInfo *partition, const ChainWalk &walk, Visit visit)
{
    uint32_t cluster = walk.first;
    for (uint64_t i = 0; i < walk.length; ++i) {
        if (!visit(i, cluster))
            return;
        if (i + 1 < walk.length && !check_next_cluster(partition, cluster, &cluster))
            return;
    }
}

// The distinct clusters of a walked chain, at most `limit` of them.
std::vector<uint32_t> check_chain_clusters(const PartitionInfo *partition, const ChainWalk &walk,
                                           uint64_t limit = UINT64_MAX);

// One bit per cluster of a partition.
class ClusterSet {
  public:
    explicit ClusterSet(uint64_t clusters = 0) : bits_((clusters + 63) / 64, 0) {}
    bool has(uint32_t cluster) const { return bits_[cluster >> 6] >> (cluster & 63) & 1; }
    void add(uint32_t cluster) { bits_[cluster >> 6] |= uint64_t{1} << (cluster & 63); }

  private:
    std::vector<uint64_t> bits_;
};

// The cluster a directory entry's first sector lies in, when it lies in the data area.
// `aligned` tells whether the sector is the cluster's first.
bool check_first_cluster(const PartitionInfo *partition, uint32_t first_sector, uint32_t *cluster,
                         bool *aligned);

// The absolute sector of a cluster (fat_cluster_sector).
inline uint64_t check_cluster_sector(const PartitionInfo *partition, uint32_t cluster)
{
    return fat_cluster_sector(partition, cluster);
}

// "cluster 12", "clusters 12-15", "clusters 12-15, 40, 42-43 and 90 more": the runs of
// consecutive clusters, at most `most_runs` of them. `total` is the number of clusters
// the text stands for, when `clusters` holds only the first of them.
std::string check_cluster_runs(const std::vector<uint32_t> &clusters, uint64_t total = 0, unsigned most_runs = 8);

// The same for `count` clusters of a chain, from `first` on. At most CHAIN_TEXT_WALK of
// them are walked, so that a line costs the same for a chain of any length.
constexpr uint64_t CHAIN_TEXT_WALK = 4096;
std::string check_chain_runs(const PartitionInfo *partition, uint32_t first, uint64_t count);
