// The walk of a partition's allocation table and directory: chains, clusters in two
// files, names, sizes, and the clusters no file holds.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "check/check_runs.h"
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
        f.placed = check_first_cluster(p, f.first_sector, &f.chain.first, &f.aligned);
        files.push_back(f);
    }
    return files;
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

// A chain that ends properly under an entry whose allocated and last sectors count all of
// it: the size alone is wrong (what a damaged size field leaves), not the chain.
void find_short_sizes(const PartitionInfo *p, std::vector<FileState> &files)
{
    for (FileState &f : files) {
        if (!f.placed || f.duplicate || f.shared_at != NOT_SHARED || f.chain.end != ChainEnd::Marker ||
            f.chain.length <= f.needed)
            continue;
        f.size_short = dirent_get(f.entry, DIRENT_ALLOCATED_SECTORS) == f.chain.length * p->cluster_sectors &&
                       dirent_get(f.entry, DIRENT_LAST_SECTOR) == check_cluster_sector(p, f.chain.last);
    }
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
    x.n[0] = f.chain.length - f.shared_at;
    x.text = check_chain_runs(p, f.shared_cluster, x.n[0]);
    out->push_back(x);
}

void report_size(const PartitionInfo *p, const FileState &f, int scope, std::vector<Finding> *out)
{
    uint64_t length = cluster_bytes(p);
    uint64_t held = f.chain.length * length;
    if (f.size_short) {
        Finding x = file_finding(Problem::SizeShort, scope, f);
        x.n[0] = f.size;
        x.n[1] = f.chain.length;
        out->push_back(x);
        return;
    }
    if (f.chain.length < f.needed) {
        Finding x = file_finding(Problem::ChainShort, scope, f);
        x.n[0] = f.size - held;
        x.n[1] = f.size;
        x.n[2] = held;
        out->push_back(x);
    } else if (f.chain.length > f.needed) {
        Finding x = file_finding(Problem::ChainLong, scope, f);
        uint32_t past = f.kept_last;
        check_next_cluster(p, f.kept_last, &past);
        x.n[0] = f.chain.length - f.needed;
        x.n[1] = f.size;
        x.text = check_chain_runs(p, past, x.n[0]);
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
    uint64_t last_sector = check_cluster_sector(p, f.kept_last);
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

// The files with clusters past the end of a truncated disk (they read as zeros), each
// counted in its own run.
void report_past_end(const HumaxDisk *disk, const PartitionInfo *p, const std::vector<FileState> &files,
                     int scope, std::vector<Finding> *out)
{
    uint64_t disk_sectors = disk->volume.disk_bytes / SECTOR_SIZE;
    if (disk->volume.disk_bytes == UINT64_MAX || p->cluster_sectors == 0 ||
        check_cluster_sector(p, p->cluster_count) <= disk_sectors)
        return;
    for (const FileState &f : files) {
        if (!f.placed || f.duplicate)
            continue;
        uint64_t past = 0;
        ChainWalk run;
        run.first = f.chain.first;
        run.length = f.own;
        check_for_each_cluster(p, run, [&](uint64_t, uint32_t c) {
            past += check_cluster_sector(p, c) + p->cluster_sectors > disk_sectors ? 1 : 0;
            return true;
        });
        if (past == 0)
            continue;
        Finding x = file_finding(Problem::FilePastEnd, scope, f);
        x.n[0] = past;
        x.n[1] = f.own;
        out->push_back(x);
    }
}

// ---- the table ----

bool is_leak(const PartitionInfo *p, const ClusterSet &claimed, uint32_t cluster)
{
    return fat_get(p, cluster) != FAT_FREE && !claimed.has(cluster);
}

// Follows an orphan chain from `first` through leaked clusters not yet visited.
OrphanChain walk_orphan(const PartitionInfo *p, const ClusterSet &claimed, ClusterSet &visited, uint32_t first)
{
    OrphanChain o;
    o.first = first;
    uint32_t cluster = first;
    while (is_leak(p, claimed, cluster) && !visited.has(cluster)) {
        visited.add(cluster);
        ++o.length;
        o.last = cluster;
        if (!check_next_cluster(p, cluster, &cluster))
            break;
    }
    o.end_value = fat_get(p, o.last);
    return o;
}

void add_orphan(PartitionScan *scan, const OrphanChain &orphan)
{
    if (scan->orphans.size() < ORPHAN_CHAINS_KEPT + 1)
        scan->orphans.push_back(orphan);
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
            add_orphan(scan, walk_orphan(p, claimed, visited, c));
    for (uint32_t c = 0; c < p->cluster_count; ++c)
        if (is_leak(p, claimed, c) && !visited.has(c))
            add_orphan(scan, walk_orphan(p, claimed, visited, c));
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
        uint32_t next;
        if (v != FAT_END && !check_next_cluster(p, c, &next)) {
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
    check_claim_runs(p, scan->files, claimed);
    match_names(scan->files);
    find_short_sizes(p, scan->files);
    report_files(p, scan->files, index, findings);
    report_past_end(disk, p, scan->files, index, findings);
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
