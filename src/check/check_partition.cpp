// The walk of a partition's allocation table and directory: chains, clusters in two
// files, names, sizes, and the clusters no file holds.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "check/check_scan.h"
#include "disk/fat.h"

namespace {

constexpr unsigned INVALID_ENTRIES_LISTED = 8;
constexpr size_t ORPHAN_CHAINS_LISTED = 16;

Finding finding(Problem problem, int scope)
{
    Finding f;
    f.problem = problem;
    f.scope = scope;
    return f;
}

Finding file_finding(Problem problem, int scope, const FileState &file)
{
    Finding f = finding(problem, scope);
    f.file = {scope, file.name};
    return f;
}

// ---- files ----

std::vector<FileState> read_files(const PartitionInfo *p)
{
    std::vector<FileState> files;
    int slot = 0;
    for (DirEntry *e = p->dir_head; e != nullptr; e = e->next, ++slot) {
        FileState f;
        f.entry = e;
        f.slot = slot;
        f.name.assign(dirent_name(e), strnlen(dirent_name(e), DIR_NAME_LENGTH));
        f.first_sector = dirent_get(e, DIRENT_FIRST_SECTOR);
        f.size = dirent_size(e);
        f.needed = fat_clusters_needed(p, f.size);
        uint32_t first;
        f.placed = check_first_cluster(p, f.first_sector, &first, &f.aligned);
        if (f.placed)
            f.chain = fat_walk_chain(p, first);
        files.push_back(f);
    }
    return files;
}

// Claims every file's clusters in directory order; a file that meets a cluster an earlier
// file holds shares the rest of its chain with it (chains merge, they never part).
void claim_chains(const PartitionInfo *p, std::vector<FileState> &files, ClusterSet &claimed)
{
    for (FileState &f : files) {
        if (!f.placed)
            continue;
        check_for_each_cluster(p, f.chain, [&](uint64_t i, uint32_t cluster) {
            if (claimed.has(cluster)) {
                f.shared_at = i;
                f.shared_cluster = cluster;
                return false;
            }
            claimed.add(cluster);
            return true;
        });
    }
}

// Which earlier file holds each first shared cluster: a second walk, only on a disk that
// has shared clusters.
void find_sharers(const PartitionInfo *p, std::vector<FileState> &files)
{
    std::unordered_map<uint32_t, int> holder;
    for (const FileState &f : files)
        if (f.shared_at != NOT_SHARED)
            holder.emplace(f.shared_cluster, -1);
    if (holder.empty())
        return;
    for (size_t k = 0; k < files.size(); ++k) {
        const FileState &f = files[k];
        if (!f.placed)
            continue;
        uint64_t own = f.shared_at == NOT_SHARED ? f.chain.length : f.shared_at;
        check_for_each_cluster(p, f.chain, [&](uint64_t i, uint32_t cluster) {
            if (i >= own)
                return false;
            auto it = holder.find(cluster);
            if (it != holder.end() && it->second < 0)
                it->second = static_cast<int>(k);
            return true;
        });
    }
    for (FileState &f : files)
        if (f.shared_at != NOT_SHARED)
            f.shared_with = holder[f.shared_cluster];
}

void match_names(std::vector<FileState> &files)
{
    std::unordered_map<std::string, int> first_of;
    for (size_t k = 0; k < files.size(); ++k) {
        FileState &f = files[k];
        auto [it, fresh] = first_of.emplace(f.name, static_cast<int>(k));
        if (fresh)
            continue;
        f.same_name_as = it->second;
        f.duplicate = files[it->second].first_sector == f.first_sector;
    }
}

std::vector<uint32_t> clusters_from(const PartitionInfo *p, const FileState &f, uint64_t from)
{
    std::vector<uint32_t> out;
    check_for_each_cluster(p, f.chain, [&](uint64_t i, uint32_t cluster) {
        if (i >= from)
            out.push_back(cluster);
        return true;
    });
    return out;
}

void report_chain_end(const FileState &f, int scope, std::vector<Finding> *out)
{
    if (f.chain.end == ChainEnd::Marker)
        return;
    Problem kind = f.chain.end == ChainEnd::Free      ? Problem::ChainEndsFree
                   : f.chain.end == ChainEnd::Invalid ? Problem::ChainEndsInvalid
                                                      : Problem::ChainLoops;
    Finding x = file_finding(kind, scope, f);
    x.n[0] = f.chain.last;
    x.n[1] = f.chain.end_value;
    out->push_back(x);
}

void report_sharing(const PartitionInfo *p, const std::vector<FileState> &files, const FileState &f,
                    int scope, std::vector<Finding> *out)
{
    if (f.shared_at == NOT_SHARED || f.duplicate)
        return;
    const FileState &holder = files.at(static_cast<size_t>(f.shared_with));
    if (f.shared_at == 0 && holder.placed && holder.chain.first == f.shared_cluster) {
        Finding x = file_finding(Problem::SameStart, scope, f);
        x.other = {scope, holder.name};
        x.n[0] = f.shared_cluster;
        out->push_back(x);
        return;
    }
    Finding x = file_finding(Problem::SharedClusters, scope, f);
    x.other = {scope, holder.name};
    std::vector<uint32_t> shared = clusters_from(p, f, f.shared_at);
    x.n[0] = shared.size();
    x.text = check_cluster_runs(shared);
    out->push_back(x);
}

void report_size(const PartitionInfo *p, const FileState &f, int scope, std::vector<Finding> *out)
{
    uint64_t length = cluster_bytes(p);
    uint64_t held = f.chain.length * length;
    if (f.chain.length < f.needed) {
        Finding x = file_finding(Problem::ChainShort, scope, f);
        x.n[0] = f.size - held;
        x.n[1] = f.size;
        x.n[2] = held;
        out->push_back(x);
    } else if (f.chain.length > f.needed) {
        Finding x = file_finding(Problem::ChainLong, scope, f);
        std::vector<uint32_t> past = clusters_from(p, f, f.needed);
        x.n[0] = past.size();
        x.n[1] = f.size;
        x.text = check_cluster_runs(past);
        out->push_back(x);
    }
    // The entry's own record of its clusters, against what its contents keep.
    uint64_t keeps = std::min(f.chain.length, f.needed);
    uint64_t sectors = keeps * p->cluster_sectors;
    uint32_t allocated = dirent_get(f.entry, DIRENT_ALLOCATED_SECTORS);
    if (allocated != sectors) {
        Finding x = file_finding(Problem::AllocatedWrong, scope, f);
        x.n[0] = allocated;
        x.n[1] = sectors;
        out->push_back(x);
    }
    uint32_t last_cluster = f.chain.last;
    if (keeps < f.chain.length) {
        check_for_each_cluster(p, f.chain, [&](uint64_t i, uint32_t cluster) {
            last_cluster = cluster;
            return i + 1 < keeps;
        });
    }
    uint64_t last_sector = check_cluster_sector(p, last_cluster);
    uint32_t stored_last = dirent_get(f.entry, DIRENT_LAST_SECTOR);
    if (stored_last != last_sector) {
        Finding x = file_finding(Problem::LastSectorWrong, scope, f);
        x.n[0] = stored_last;
        x.n[1] = last_sector;
        out->push_back(x);
    }
}

void report_files(const PartitionInfo *p, const std::vector<FileState> &files, int scope,
                  std::vector<Finding> *out)
{
    for (const FileState &f : files) {
        if (f.same_name_as >= 0) {
            const FileState &earlier = files[static_cast<size_t>(f.same_name_as)];
            Finding x = file_finding(f.duplicate ? Problem::DuplicateEntry : Problem::NameClash, scope, f);
            x.n[0] = static_cast<uint64_t>(earlier.slot);
            x.n[1] = static_cast<uint64_t>(f.slot);
            out->push_back(x);
            // The second copy of one entry has nothing of its own to report.
            if (f.duplicate)
                continue;
        }
        if (!f.placed) {
            Finding x = file_finding(Problem::FirstOutside, scope, f);
            x.n[0] = f.first_sector;
            out->push_back(x);
            continue;
        }
        if (!f.aligned) {
            Finding x = file_finding(Problem::FirstUnaligned, scope, f);
            x.n[0] = f.first_sector;
            x.n[1] = f.chain.first;
            out->push_back(x);
        }
        // A chain that runs into another file's ends where that file's does: its end is
        // reported (and mended) with that file.
        if (f.shared_at == NOT_SHARED)
            report_chain_end(f, scope, out);
        report_sharing(p, files, f, scope, out);
        report_size(p, f, scope, out);
    }
}

// ---- the table ----

bool is_leak(const PartitionInfo *p, const ClusterSet &claimed, uint32_t cluster)
{
    return fat_get(p, cluster) != FAT_FREE && !claimed.has(cluster);
}

// Follows an orphan chain from `first` through leaked clusters not yet visited.
uint64_t walk_orphan(const PartitionInfo *p, const ClusterSet &claimed, ClusterSet &visited, uint32_t first)
{
    uint64_t length = 0;
    uint32_t cluster = first;
    while (is_leak(p, claimed, cluster) && !visited.has(cluster)) {
        visited.add(cluster);
        ++length;
        if (!check_next_cluster(p, cluster, &cluster))
            break;
    }
    return length;
}

void add_orphan(PartitionScan *scan, uint32_t first, uint64_t length)
{
    if (scan->orphans.size() < ORPHAN_CHAINS_KEPT + 1)
        scan->orphans.push_back({first, length});
    ++scan->orphan_chains;
}

// Groups the leaked clusters into chains: from each one that no leaked cluster links to,
// then what is left (rings of leaked clusters), each from its lowest cluster.
void group_orphans(const PartitionInfo *p, const ClusterSet &claimed, PartitionScan *scan)
{
    ClusterSet linked(p->cluster_count), visited(p->cluster_count);
    for (uint32_t c = 0; c < p->cluster_count; ++c) {
        uint32_t next;
        if (is_leak(p, claimed, c) && check_next_cluster(p, c, &next) && is_leak(p, claimed, next))
            linked.add(next);
    }
    for (uint32_t c = 0; c < p->cluster_count; ++c)
        if (is_leak(p, claimed, c) && !linked.has(c))
            add_orphan(scan, c, walk_orphan(p, claimed, visited, c));
    for (uint32_t c = 0; c < p->cluster_count; ++c)
        if (is_leak(p, claimed, c) && !visited.has(c))
            add_orphan(scan, c, walk_orphan(p, claimed, visited, c));
}

void report_table(const PartitionInfo *p, const ClusterSet &claimed, PartitionScan *scan,
                  std::vector<Finding> *out)
{
    int scope = scan->index;
    uint64_t free = 0, leaked = 0, invalid = 0;
    for (uint32_t c = 0; c < p->cluster_count; ++c) {
        uint32_t v = fat_get(p, c);
        if (v == FAT_FREE) {
            ++free;
            continue;
        }
        if (claimed.has(c))
            continue; // a chain's own end is reported with its file
        ++leaked;
        if (v != FAT_END && (v >= p->cluster_count || v == c)) {
            if (invalid++ < INVALID_ENTRIES_LISTED) {
                Finding x = finding(Problem::InvalidEntry, scope);
                x.n[0] = c;
                x.n[1] = v;
                out->push_back(x);
            }
        }
    }
    if (invalid > INVALID_ENTRIES_LISTED) {
        Finding x = finding(Problem::InvalidEntriesMore, scope);
        x.n[0] = invalid - INVALID_ENTRIES_LISTED;
        out->push_back(x);
    }
    scan->free_counted = free;
    scan->orphan_clusters = leaked;
    if (leaked > 0)
        group_orphans(p, claimed, scan);
    uint64_t bytes = cluster_bytes(p);
    if (scan->orphan_chains > ORPHAN_CHAINS_KEPT) {
        Finding x = finding(Problem::FatOverwritten, scope);
        x.n[0] = leaked;
        x.n[1] = scan->orphan_chains;
        x.leaked_clusters = leaked;
        x.leaked_bytes = leaked * bytes;
        out->push_back(x);
    } else {
        Finding more = finding(Problem::OrphanChainsMore, scope);
        for (size_t k = 0; k < scan->orphans.size(); ++k) {
            const OrphanChain &o = scan->orphans[k];
            if (k >= ORPHAN_CHAINS_LISTED) {
                ++more.n[0];
                more.n[1] += o.length;
                more.n[2] += o.length * bytes;
                more.leaked_clusters += o.length;
                more.leaked_bytes += o.length * bytes;
                continue;
            }
            Finding x = finding(Problem::OrphanChain, scope);
            x.n[0] = o.length;
            x.n[1] = o.length * bytes;
            x.n[2] = o.first;
            x.leaked_clusters = o.length;
            x.leaked_bytes = o.length * bytes;
            out->push_back(x);
        }
        if (more.n[0] > 0)
            out->push_back(more);
    }
    if (fat_word0(p) != free) {
        Finding x = finding(Problem::WrongFreeCount, scope);
        x.n[0] = fat_word0(p);
        x.n[1] = free;
        out->push_back(x);
    }
}

} // namespace

void check_scan_partition(HumaxDisk *disk, int index, PartitionScan *scan, std::vector<Finding> *findings)
{
    const PartitionInfo *p = &disk->partitions[index];
    bool in_doubt = scan->layout_in_doubt;
    *scan = PartitionScan{};
    scan->index = index;
    scan->layout_in_doubt = in_doubt;
    scan->scanned = true;
    scan->files = read_files(p);
    ClusterSet claimed(p->cluster_count);
    claim_chains(p, scan->files, claimed);
    find_sharers(p, scan->files);
    match_names(scan->files);
    report_files(p, scan->files, index, findings);
    report_table(p, claimed, scan, findings);
}

const FileState *check_find_file(const PartitionScan &scan, const std::string &name)
{
    for (const FileState &f : scan.files)
        if (f.name == name)
            return &f;
    return nullptr;
}

bool check_numbered_name(const std::string &name, const char *suffix, unsigned *number)
{
    size_t suffix_length = strlen(suffix);
    if (name.size() <= suffix_length || name.compare(name.size() - suffix_length, suffix_length, suffix) != 0)
        return false;
    std::string digits = name.substr(0, name.size() - suffix_length);
    if (digits.size() > 5 || (digits.size() > 1 && digits[0] == '0'))
        return false;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 0xFFFF)
        return false;
    *number = value;
    return true;
}
