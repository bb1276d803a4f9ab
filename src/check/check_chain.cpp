#include "check/check_chain.h"

#include <algorithm>
#include <string>

std::vector<uint32_t> check_chain_clusters(const PartitionInfo *partition, const ChainWalk &walk,
                                           uint64_t limit)
{
    std::vector<uint32_t> clusters;
    check_for_each_cluster(partition, walk, [&](uint64_t i, uint32_t cluster) {
        if (i >= limit)
            return false;
        clusters.push_back(cluster);
        return true;
    });
    return clusters;
}

bool check_first_cluster(const PartitionInfo *partition, uint32_t first_sector, uint32_t *cluster,
                         bool *aligned)
{
    if (partition->cluster_sectors == 0 || !fat_cluster_of_sector(partition, first_sector, cluster))
        return false;
    *aligned = fat_cluster_sector(partition, *cluster) == first_sector;
    return true;
}

std::string check_cluster_runs(const std::vector<uint32_t> &clusters, uint64_t total, unsigned most_runs)
{
    std::string text;
    unsigned runs = 0;
    size_t i = 0;
    while (i < clusters.size() && runs < most_runs) {
        size_t end = i + 1;
        while (end < clusters.size() && clusters[end] == clusters[end - 1] + 1)
            ++end;
        if (runs > 0)
            text += ", ";
        text += std::to_string(clusters[i]);
        if (end - i > 1)
            text += "-" + std::to_string(clusters[end - 1]);
        ++runs;
        i = end;
    }
    uint64_t all = std::max<uint64_t>(total, clusters.size());
    if (i < all)
        text += " and " + std::to_string(all - i) + " more";
    return (all == 1 ? "cluster " : "clusters ") + text;
}

std::string check_chain_runs(const PartitionInfo *partition, uint32_t first, uint64_t count)
{
    std::vector<uint32_t> clusters;
    uint32_t c = first;
    for (uint64_t i = 0; i < count && i < CHAIN_TEXT_WALK; ++i) {
        clusters.push_back(c);
        if (!check_next_cluster(partition, c, &c))
            break;
    }
    return check_cluster_runs(clusters, count);
}
