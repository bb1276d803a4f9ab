// Repairs in steps, each on a fresh scan of the tables as the steps before left them:
//   1. chain ends: an end marker where a chain ends free, in a value naming no cluster, or
//      by looping back; first sectors moved to the start of their cluster;
//   2. names and shared clusters: the second of two identical entries goes, a second entry
//      of a name with its own chain is renamed, a file that runs into another's chain gets
//      a copy of the shared clusters its size covers (or is cut before them when there is
//      no room); companions without a recording and leftovers of -E go; a record list
//      lost in an interrupted save comes back from its backup;
//   3. sizes: a chain is cut to the clusters its size needs, a size lowered to what its
//      chain holds, allocated and last sectors set from the chain;
//   4. clusters in no chain are saved to the host and freed; word 0 counts the free ones.
#include "check/check_plan.h"

#include <algorithm>
#include <set>

#include "check/check_report.h"
#include "disk/fat.h"
#include "records/record_list.h"

namespace {

struct Planner {
    HumaxDisk *disk;
    const CheckResult &result;
    RepairPlan plan;
    FileDescriber describe;
    PartitionScan scan;

    PartitionInfo *partition() { return &disk->partitions[scan.index]; }

    void rescan()
    {
        std::vector<Finding> ignored;
        check_scan_partition(disk, scan.index, &scan, &ignored);
    }

    void note(const char *message, const Finding &detail)
    {
        plan.changes.push_back(std::string(check_scope_name(scan.index)) + ": " +
                               check_format(message, detail, describe));
        plan.changed[scan.index] = true;
    }

    Finding about(const FileState &f)
    {
        Finding detail;
        detail.file = {scan.index, f.name};
        return detail;
    }
};

// Clusters free both in the planned table and on the disk: clusters this repair frees
// still belong to their files on the disk until the directory is written.
std::vector<uint32_t> take_clusters(PartitionInfo *p, uint64_t count)
{
    ClusterChain chain;
    if (!fat_take(p, count, &chain))
        return {};
    return check_chain_clusters(p, fat_walk_chain(p, chain.first));
}

uint32_t sector_of(const PartitionInfo *p, uint32_t cluster)
{
    return static_cast<uint32_t>(check_cluster_sector(p, cluster));
}

// ---- step 1 ----

void mend_chain_ends(Planner &pl)
{
    PartitionInfo *p = pl.partition();
    for (const FileState &f : pl.scan.files) {
        if (!f.placed)
            continue;
        // Both copies of a doubled entry move, so that they still match as copies.
        if (!f.aligned) {
            dirent_set(f.entry, DIRENT_FIRST_SECTOR, sector_of(p, f.chain.first));
            Finding d = pl.about(f);
            d.n[0] = sector_of(p, f.chain.first);
            if (!f.duplicate)
                pl.note("{file}: first sector set to {1}", d);
        }
        if (f.duplicate || f.shared_at != NOT_SHARED || f.chain.end == ChainEnd::Marker)
            continue;
        fat_set(p, f.chain.last, FAT_END);
        Finding d = pl.about(f);
        d.n[0] = f.chain.last;
        pl.note("{file}: end marker set in cluster {1}", d);
    }
}

// ---- step 2 ----

std::string unused_name(const PartitionScan &scan, const std::string &name, std::set<std::string> &taken)
{
    for (const FileState &f : scan.files)
        taken.insert(f.name);
    size_t dot = name.find('.');
    std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    for (unsigned k = 1;; ++k) {
        std::string suffix = "_" + std::to_string(k);
        std::string candidate = stem + suffix + extension;
        if (candidate.size() > DIR_NAME_LENGTH) {
            size_t room = DIR_NAME_LENGTH - std::min<size_t>(DIR_NAME_LENGTH, suffix.size() + extension.size());
            candidate = stem.substr(0, room) + suffix + extension;
            candidate.resize(std::min<size_t>(candidate.size(), DIR_NAME_LENGTH));
        }
        if (taken.insert(candidate).second)
            return candidate;
    }
}

// With no free cluster left (a repair cut after its allocations leaks the clusters it took),
// the first cluster of a chain in no file, saved to the host before it is taken.
std::vector<uint32_t> take_leaked_cluster(Planner &pl)
{
    PartitionInfo *p = pl.partition();
    for (const OrphanChain &o : pl.scan.orphans) {
        uint32_t c = o.first;
        if (fat_get(p, c) == FAT_FREE || std::any_of(pl.plan.saves.begin(), pl.plan.saves.end(),
                                                      [&](const SaveJob &j) { return j.clusters.front() == c; }))
            continue;
        pl.plan.saves.push_back({pl.scan.index, {c}, cluster_bytes(p), ""});
        fat_set(p, c, FAT_END);
        return {c};
    }
    return {};
}

// A file that runs into an earlier file's chain at index k keeps its own clusters before
// k and gets copies of the shared ones its size covers.
void separate(Planner &pl, const FileState &f, const std::vector<uint32_t> &chain)
{
    PartitionInfo *p = pl.partition();
    const FileState &holder = pl.scan.files[static_cast<size_t>(f.shared_with)];
    uint64_t k = f.shared_at;
    uint64_t wanted = std::min<uint64_t>(f.needed, chain.size());
    Finding d = pl.about(f);
    d.other = {pl.scan.index, holder.name};
    d.n[0] = f.shared_cluster;
    if (wanted <= k) {
        fat_set(p, chain[k - 1], FAT_END);
        pl.note("{file}: cut before cluster {1}, which {other} holds and its size does not reach", d);
        return;
    }
    std::vector<uint32_t> copy = take_clusters(p, wanted - k);
    if (!copy.empty()) {
        if (k == 0)
            dirent_set(f.entry, DIRENT_FIRST_SECTOR, sector_of(p, copy[0]));
        else
            fat_set(p, chain[k - 1], copy[0]);
        pl.plan.copies.push_back({pl.scan.index, std::vector<uint32_t>(chain.begin() + k, chain.begin() + wanted), copy});
        d.n[1] = copy.size();
        d.text = check_cluster_runs(copy);
        pl.note("{file}: its {2} cluster{s2} shared with {other} copied to {text}", d);
        return;
    }
    if (k > 0) {
        fat_set(p, chain[k - 1], FAT_END);
        pl.note("{file}: no room for a copy: cut before cluster {1}, which stays with {other}", d);
        return;
    }
    std::vector<uint32_t> fresh = take_clusters(p, 1);
    if (fresh.empty())
        fresh = take_leaked_cluster(pl);
    if (fresh.empty())
        return; // nothing can be done: the problem stays
    dirent_set(f.entry, DIRENT_FIRST_SECTOR, sector_of(p, fresh[0]));
    dirent_set_size(f.entry, 0);
    pl.note("{file}: no room for a copy: emptied, its contents stay with {other}", d);
}

// The record-list findings that name files of this partition to remove or rename.
void settle_leftovers(Planner &pl, std::vector<DirEntry *> &removed, std::set<std::string> &taken)
{
    for (const Finding &finding : pl.result.findings) {
        if (finding.scope != pl.scan.index ||
            (finding.problem != Problem::StrayCompanion && finding.problem != Problem::LeftoverTmp &&
             finding.problem != Problem::ListMissing))
            continue;
        const FileState *f = check_find_file(pl.scan, finding.file.name);
        if (f == nullptr || std::find(removed.begin(), removed.end(), f->entry) != removed.end())
            continue;
        Finding d = pl.about(*f);
        if (finding.problem == Problem::ListMissing) {
            if (taken.insert(RECORD_LIST_NAME).second && check_find_file(pl.scan, RECORD_LIST_NAME) == nullptr) {
                dirent_set_name(f->entry, RECORD_LIST_NAME);
                pl.note("{file}: renamed to _RECORD_LIST_", d);
            }
            continue;
        }
        if (finding.problem == Problem::LeftoverTmp) {
            std::string epg = f->name.substr(0, f->name.size() - 4) + ".epg";
            // Without its .epg, the .tmp is the only (and complete) converted copy.
            if (check_find_file(pl.scan, epg) == nullptr && taken.insert(epg).second) {
                dirent_set_name(f->entry, epg.c_str());
                d.text = epg;
                pl.note("{file}: renamed to \"{text}\", the converted copy that was to replace it", d);
                continue;
            }
        }
        removed.push_back(f->entry);
        pl.note("{file}: removed (its contents are saved below)", d);
    }
}

void separate_files(Planner &pl)
{
    PartitionInfo *p = pl.partition();
    std::set<std::string> taken;
    std::vector<DirEntry *> removed;
    // Copies are taken from the chains as they are now, before any relinking.
    std::vector<std::vector<uint32_t>> chains(pl.scan.files.size());
    for (size_t k = 0; k < pl.scan.files.size(); ++k)
        if (pl.scan.files[k].shared_at != NOT_SHARED && !pl.scan.files[k].duplicate)
            chains[k] = check_chain_clusters(p, pl.scan.files[k].chain);
    for (size_t k = 0; k < pl.scan.files.size(); ++k) {
        const FileState &f = pl.scan.files[k];
        Finding d = pl.about(f);
        d.n[0] = static_cast<uint64_t>(f.slot);
        if (f.duplicate) {
            removed.push_back(f.entry);
            pl.note("{file}: its second entry (slot {1}) removed", d);
            continue;
        }
        if (f.same_name_as >= 0) {
            std::string name = unused_name(pl.scan, f.name, taken);
            dirent_set_name(f.entry, name.c_str());
            d.text = name;
            pl.note("{file} in slot {1}: renamed to \"{text}\"", d);
        }
        if (f.shared_at != NOT_SHARED && f.shared_with >= 0)
            separate(pl, f, chains[k]);
    }
    settle_leftovers(pl, removed, taken);
    for (DirEntry *entry : removed)
        dir_remove_entry(p, entry);
}

// ---- step 3 ----

void fit_sizes(Planner &pl)
{
    PartitionInfo *p = pl.partition();
    uint64_t length = cluster_bytes(p);
    for (const FileState &f : pl.scan.files) {
        if (!f.placed || f.duplicate)
            continue;
        Finding d = pl.about(f);
        uint64_t keeps = std::min(f.chain.length, f.needed);
        uint32_t last = f.chain.last;
        if (f.chain.length > f.needed) {
            std::vector<uint32_t> chain = check_chain_clusters(p, f.chain, f.needed);
            last = chain.back();
            fat_set(p, last, FAT_END);
            d.n[0] = f.needed;
            pl.note("{file}: chain cut after the {1} cluster{s1} its size needs", d);
        } else if (f.chain.length < f.needed) {
            dirent_set_size(f.entry, f.chain.length * length);
            d.n[0] = f.chain.length * length;
            pl.note("{file}: size lowered to the {1} bytes its chain holds", d);
        }
        uint64_t sectors = keeps * p->cluster_sectors;
        uint32_t last_sector = sector_of(p, last);
        if (dirent_get(f.entry, DIRENT_ALLOCATED_SECTORS) != sectors ||
            dirent_get(f.entry, DIRENT_LAST_SECTOR) != last_sector) {
            dirent_set(f.entry, DIRENT_ALLOCATED_SECTORS, static_cast<uint32_t>(sectors));
            dirent_set(f.entry, DIRENT_LAST_SECTOR, last_sector);
            d.n[0] = sectors;
            d.n[1] = last_sector;
            pl.note("{file}: allocated sectors set to {1}, last sector to {2}", d);
        }
    }
}

// ---- step 4 ----

// A file step 2 removed: its clusters are orphans now, saved under its name.
struct RemovedFile {
    uint32_t first = 0;
    std::string name;
    uint64_t size = 0;
};

void free_orphans(Planner &pl, const std::vector<RemovedFile> &removed_files)
{
    PartitionInfo *p = pl.partition();
    if (pl.scan.orphan_chains > ORPHAN_CHAINS_KEPT)
        return; // not a leak but an overwritten table: left alone
    std::vector<SaveJob> jobs;
    for (const OrphanChain &o : pl.scan.orphans) {
        SaveJob job;
        job.partition = pl.scan.index;
        uint32_t cluster = o.first;
        for (uint64_t i = 0; i < o.length; ++i) {
            job.clusters.push_back(cluster);
            if (i + 1 < o.length && !check_next_cluster(p, cluster, &cluster))
                break;
        }
        job.bytes = job.clusters.size() * cluster_bytes(p);
        for (const RemovedFile &gone : removed_files) {
            if (gone.first == o.first) {
                job.from_file = gone.name;
                job.bytes = std::min(job.bytes, gone.size);
            }
        }
        jobs.push_back(job);
    }
    for (const SaveJob &job : jobs) {
        for (uint32_t c : job.clusters)
            fat_set(p, c, FAT_FREE);
        pl.plan.changed[pl.scan.index] = true;
    }
    pl.plan.saves.insert(pl.plan.saves.end(), jobs.begin(), jobs.end());
}

void count_free(Planner &pl)
{
    PartitionInfo *p = pl.partition();
    uint32_t free = 0;
    for (uint32_t c = 0; c < p->cluster_count; ++c)
        free += fat_get(p, c) == FAT_FREE ? 1 : 0;
    if (fat_word0(p) == free && p->fat_on_disk[0] == free)
        return;
    fat_set_word0(p, free);
    Finding d;
    d.n[0] = free;
    pl.note("word 0 set to {1} free clusters", d);
}

// The first clusters of the files step 2 removes, for naming their saved contents.
std::vector<RemovedFile> removed_files(const PartitionScan &before, const PartitionScan &after)
{
    std::vector<RemovedFile> gone;
    for (const FileState &f : before.files) {
        bool kept = std::any_of(after.files.begin(), after.files.end(),
                                [&](const FileState &g) { return g.entry == f.entry; });
        if (!kept && f.placed && !f.duplicate)
            gone.push_back({f.chain.first, f.name, f.size});
    }
    return gone;
}

void repair_partition(Planner &pl, int index)
{
    pl.scan = pl.result.partitions[index];
    pl.rescan();
    mend_chain_ends(pl);
    pl.rescan();
    PartitionScan before = pl.scan;
    separate_files(pl);
    pl.rescan();
    std::vector<RemovedFile> removed = removed_files(before, pl.scan);
    fit_sizes(pl);
    pl.rescan();
    free_orphans(pl, removed);
    count_free(pl);
}

} // namespace

RepairPlan check_plan_repairs(HumaxDisk *disk, const CheckResult &result)
{
    Planner pl{disk, result, RepairPlan{}, check_describer(result), PartitionScan{}};
    CheckTally tally = check_tally(result);
    if (!result.disk_in_doubt) {
        for (int i = 0; i < disk->partition_count; ++i) {
            const PartitionScan &scan = result.partitions[i];
            bool wanted = std::any_of(result.findings.begin(), result.findings.end(), [&](const Finding &f) {
                return f.scope == i && check_repairable(result, f);
            });
            if (!scan.scanned || scan.layout_in_doubt || !wanted)
                continue;
            repair_partition(pl, i);
            // What the planned state still shows (a step that found no way, such as no
            // free cluster at all) stays a problem.
            PartitionScan check = pl.scan;
            std::vector<Finding> after;
            check_scan_partition(disk, i, &check, &after);
            for (const Finding &f : after)
                if (check_problem_info(f.problem).remedy == Remedy::Repair)
                    pl.plan.remaining.push_back(f);
        }
    }
    unsigned remaining = static_cast<unsigned>(pl.plan.remaining.size());
    pl.plan.repaired = tally.repairable > remaining ? tally.repairable - remaining : 0;
    pl.plan.left = tally.problems - pl.plan.repaired;
    return pl.plan;
}

uint64_t check_plan_save_bytes(const HumaxDisk *, const RepairPlan &plan)
{
    uint64_t bytes = 0;
    for (const SaveJob &job : plan.saves)
        bytes += job.bytes;
    return bytes;
}
