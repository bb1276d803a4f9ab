// The check every writing command makes first: one bit per cluster and one walk of every
// chain, so that it costs little next to opening the disk. It refuses clusters in two
// files, a name twice, and a chain that runs into a cluster marked free (a cut write can
// leave a last cluster without its end marker; an allocation would take that cluster).
#include <cstring>
#include <string>
#include <unordered_set>

#include "check/check_chain.h"
#include "check/check_problems.h"
#include "check/check.h"
#include "common/error.h"

namespace {

const char *const SHARED = "Refusing to write to a disk with clusters in two files or a name twice in a directory: "
                          "deleting one file would free what the other still holds.";
const char *const MEETS_FREE = "Refusing to write to a disk with a chain that runs into a cluster marked free: a new "
                              "file would be given that cluster and overwrite what the chain holds.";

bool refuse(const HumaxDisk *disk, int index, const std::string &what, const char *why, Error *error)
{
    std::string shown_path = check_inert(disk->path);
    return error_set(error, ErrorKind::Damaged, "%s: %s partition: %s\n%s Run diskwarden --check %s, then --repair.\n",
                     shown_path.c_str(), partition_name(index), what.c_str(), why, shown_path.c_str());
}

// True when `cluster` is among the first `steps` clusters of the chain from `first`.
bool walked_before(const PartitionInfo *p, uint32_t first, uint32_t cluster, uint64_t steps)
{
    uint32_t at = first;
    for (uint64_t i = 0; i < steps; ++i) {
        if (at == cluster)
            return true;
        if (!check_next_cluster(p, at, &at))
            return false;
    }
    return false;
}

bool guard_partition(const HumaxDisk *disk, int index, Error *error)
{
    const PartitionInfo *p = &disk->partitions[index];
    ClusterSet claimed(p->cluster_count);
    std::unordered_set<std::string> names;
    for (const DirEntry *e = p->dir_head; e != nullptr; e = e->next) {
        std::string name(dirent_name(e), strnlen(dirent_name(e), DIR_NAME_LENGTH));
        std::string shown = "\"" + check_inert(name) + "\"";
        if (!names.insert(name).second)
            return refuse(disk, index, "the name " + shown + " is in its directory twice", SHARED, error);
        uint32_t first;
        bool aligned;
        if (!check_first_cluster(p, dirent_get(e, DIRENT_FIRST_SECTOR), &first, &aligned))
            continue;
        // One pass: a cluster met a second time ends a loop of this chain, or is another's.
        uint32_t cluster = first;
        for (uint64_t steps = 0;; ++steps) {
            if (claimed.has(cluster)) {
                if (!walked_before(p, first, cluster, steps))
                    return refuse(disk, index,
                                  "cluster " + std::to_string(cluster) + " of " + shown + " is also in another file",
                                  SHARED, error);
                break;
            }
            claimed.add(cluster);
            if (fat_get(p, cluster) == FAT_FREE)
                return refuse(disk, index,
                              "the chain of " + shown + " runs into cluster " + std::to_string(cluster) +
                                  ", which is marked free",
                              MEETS_FREE, error);
            if (!check_next_cluster(p, cluster, &cluster))
                break;
        }
    }
    return true;
}

} // namespace

bool check_refuse_damaged(const HumaxDisk *disk, Error *error)
{
    for (int i = 0; i < disk->partition_count; ++i)
        if (disk->volume.partitions[i].loaded && !guard_partition(disk, i, error))
            return false;
    return true;
}
