#include "checker/check_chain.h"

#include <string>

namespace {

constexpr uint32_t STOP = UINT32_MAX;

uint32_t step(const PartitionInfo *p, uint32_t cluster)
{
    uint32_t next;
    return check_next_cluster(p, cluster, &next) ? next : STOP;
}

} // namespace

ChainWalk check_walk_chain(const PartitionInfo *partition, uint32_t first)
{
    ChainWalk walk;
    walk.first = first;
    // Brent: `slow` waits at powers of two while `fast` runs; they meet only in a loop.
    uint64_t power = 1, loop = 1, walked = 1;
    uint32_t slow = first, last = first;
    uint32_t fast = step(partition, first);
    while (fast != STOP && fast != slow) {
        if (loop == power) {
            slow = fast;
            power *= 2;
            loop = 0;
        }
        last = fast;
        fast = step(partition, fast);
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
            ahead = step(partition, ahead);
        uint64_t lead_in = 0;
        while (behind != ahead) {
            behind = step(partition, behind);
            ahead = step(partition, ahead);
            ++lead_in;
        }
        walk.length = lead_in + loop;
        uint32_t cluster = first;
        for (uint64_t i = 1; i < walk.length; ++i)
            cluster = step(partition, cluster);
        walk.last = cluster;
    }
    walk.end_value = fat_get(partition, walk.last);
    if (walk.end_value == FAT_END)
        walk.end = ChainEnd::Marker;
    else if (walk.end_value == FAT_FREE)
        walk.end = ChainEnd::Free;
    else if (walk.end_value < partition->cluster_count)
        walk.end = ChainEnd::Loop;
    else
        walk.end = ChainEnd::Invalid;
    return walk;
}

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
    if (partition->cluster_sectors == 0 || first_sector < partition->data_sector)
        return false;
    uint32_t offset = first_sector - partition->data_sector;
    uint32_t c = offset / partition->cluster_sectors;
    if (c >= partition->cluster_count)
        return false;
    *cluster = c;
    *aligned = offset % partition->cluster_sectors == 0;
    return true;
}

std::string check_cluster_runs(const std::vector<uint32_t> &clusters, unsigned most_runs)
{
    std::string text;
    unsigned runs = 0;
    size_t i = 0;
    while (i < clusters.size()) {
        size_t end = i + 1;
        while (end < clusters.size() && clusters[end] == clusters[end - 1] + 1)
            ++end;
        if (runs < most_runs) {
            if (runs > 0)
                text += ", ";
            text += std::to_string(clusters[i]);
            if (end - i > 1)
                text += "-" + std::to_string(clusters[end - 1]);
        }
        ++runs;
        i = end;
    }
    if (runs > most_runs)
        text += " and " + std::to_string(runs - most_runs) + " more runs";
    return (clusters.size() == 1 ? "cluster " : "clusters ") + text;
}
