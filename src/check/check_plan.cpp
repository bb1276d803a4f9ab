// Repairs in steps, each on a fresh scan of the tables as the steps before left them:
//   1. chain ends: an end marker where a chain ends free, in a value naming no cluster, or
//      by looping back; first sectors moved to the start of their cluster, or back to the
//      chain in no file that is, by its size and last sector, the file's own;
//   2. lengths: a chain that runs past its size is cut after what its size needs (so that
//      the file whose chain runs past its size gives way to a file that needs those
//      clusters), unless another file needs the link cut; a size its entry's allocated and
//      last sectors contradict is raised to its chain;
//   3. names and shared clusters (check_separate.cpp);
//   4. sizes: a size lowered to what its chain holds, allocated and last sectors set from
//      the chain, and what step 2 could not cut yet;
//   5. clusters in no chain are saved to the host and freed (unless they are kept as
//      candidates for a missing stream, or are too many to be leaks); word 0 counts the
//      free ones.
// A listed recording's files are never cut, emptied or freed where their sizes need them.
#include "check/check_plan.h"

#include <algorithm>

#include "check/check_planner.h"
#include "check/check_report.h"
#include "disk/fat.h"

namespace {

const FoundChain *found_chain(const Planner &pl, const FileState &f)
{
    for (const FoundChain &c : pl.result.found)
        if (c.partition == pl.scan.index && c.name == f.name)
            return &c;
    return nullptr;
}

// ---- step 1 ----

void mend_chain_ends(Planner &pl)
{
    PartitionInfo *p = pl.partition();
    for (const FileState &f : pl.scan.files) {
        const FoundChain *found = f.duplicate ? nullptr : found_chain(pl, f);
        if (found != nullptr) {
            Finding d = pl.about(f);
            d.n[0] = check_sector_of(p, found->first);
            dirent_set(f.entry, DIRENT_FIRST_SECTOR, static_cast<uint32_t>(d.n[0]));
            pl.note("{file}: first sector set to {1}, where its chain starts", d);
            continue;
        }
        if (!f.placed || pl.is_held(f))
            continue;
        // Both copies of a doubled entry move, so that they still match as copies.
        if (!f.aligned) {
            dirent_set(f.entry, DIRENT_FIRST_SECTOR, check_sector_of(p, f.chain.first));
            Finding d = pl.about(f);
            d.n[0] = check_sector_of(p, f.chain.first);
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

// ---- steps 2 and 4 ----

// Cuts file k's chain after the clusters its size needs, unless another file needs the
// link there (it runs on through those clusters to clusters of its own).
void cut_past_size(Planner &pl, const RunNeeds &needs, size_t k)
{
    const FileState &f = pl.scan.files[k];
    if (needs.link_needed(f.kept_run, f.kept_at, static_cast<int>(k)))
        return;
    fat_set(pl.partition(), f.kept_last, FAT_END);
    Finding d = pl.about(f);
    d.n[0] = f.needed;
    pl.note("{file}: chain cut after the {1} cluster{s1} its size needs", d);
}

void settle_lengths(Planner &pl)
{
    RunNeeds needs(pl.scan.files);
    for (size_t k = 0; k < pl.scan.files.size(); ++k) {
        const FileState &f = pl.scan.files[k];
        if (!f.placed || f.duplicate || f.chain.length <= f.needed || pl.is_held(f))
            continue;
        if (!f.size_short) {
            cut_past_size(pl, needs, k);
            continue;
        }
        Finding d = pl.about(f);
        d.n[0] = f.chain.length * cluster_bytes(pl.partition());
        dirent_set_size(f.entry, d.n[0]);
        pl.note("{file}: size raised to the {1} bytes its chain holds", d);
    }
}

void fit_sizes(Planner &pl)
{
    PartitionInfo *p = pl.partition();
    RunNeeds needs(pl.scan.files);
    for (size_t k = 0; k < pl.scan.files.size(); ++k) {
        const FileState &f = pl.scan.files[k];
        // Files still sharing clusters are left as they are, with their sharing.
        if (!f.placed || f.duplicate || f.shared_at != NOT_SHARED || pl.is_held(f))
            continue;
        Finding d = pl.about(f);
        uint64_t keeps = std::min(f.chain.length, f.needed);
        if (f.chain.length > f.needed) {
            cut_past_size(pl, needs, k);
        } else if (f.chain.length < f.needed) {
            dirent_set_size(f.entry, f.chain.length * cluster_bytes(p));
            d.n[0] = f.chain.length * cluster_bytes(p);
            pl.note("{file}: size lowered to the {1} bytes its chain holds", d);
        }
        uint64_t sectors = keeps * p->cluster_sectors;
        uint32_t last_sector = check_sector_of(p, f.kept_last);
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

// ---- step 5 ----

// A file step 3 removed: its clusters are orphans now, saved under its name.
struct RemovedFile {
    uint32_t first = 0;
    std::string name;
    uint64_t size = 0;
};

void free_orphans(Planner &pl, const std::vector<RemovedFile> &removed_files)
{
    PartitionInfo *p = pl.partition();
    // Too many to be leaks (an overwritten table), or kept for a missing stream.
    if (pl.scan.orphan_chains > ORPHAN_CHAINS_KEPT || (pl.scan.index == PARTITION_AV && pl.result.records.orphans_kept))
        return;
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
    if (fat_word0(p) == free && fat_word0_on_disk(p) == free)
        return;
    fat_set_word0(p, free);
    Finding d;
    d.n[0] = free;
    pl.note("word 0 set to {1} free clusters", d);
}

// The first clusters of the files step 3 removes, for naming their saved contents.
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
    settle_lengths(pl);
    pl.rescan();
    PartitionScan before = pl.scan;
    check_separate_files(pl);
    pl.rescan();
    std::vector<RemovedFile> removed = removed_files(before, pl.scan);
    fit_sizes(pl);
    pl.rescan();
    free_orphans(pl, removed);
    count_free(pl);
}

} // namespace

void Planner::rescan()
{
    std::vector<Finding> ignored;
    check_scan_partition(disk, scan.index, &scan, &ignored);
}

void Planner::note(const char *message, const Finding &detail)
{
    plan.changes.push_back(std::string(check_scope_name(scan.index)) + ": " + check_format(message, detail, describe));
    plan.changed[scan.index] = true;
}

Finding Planner::about(const FileState &f) const
{
    Finding detail;
    detail.file = {scan.index, f.name};
    return detail;
}

bool Planner::is_protected(const FileState &f) const
{
    return check_protected(result, scan.index, f.name);
}

bool Planner::is_held(const FileState &f) const
{
    Finding probe;
    probe.scope = scan.index;
    probe.file = {scan.index, f.name};
    return check_held(result, probe);
}

std::vector<uint32_t> check_take_clusters(PartitionInfo *partition, uint64_t count)
{
    ClusterChain chain;
    if (!fat_take(partition, count, &chain))
        return {};
    return check_chain_clusters(partition, fat_walk_chain(partition, chain.first));
}

std::vector<uint32_t> check_take_leaked_cluster(Planner &pl)
{
    PartitionInfo *p = pl.partition();
    if (pl.scan.index == PARTITION_AV && pl.result.records.orphans_kept)
        return {};
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

uint32_t check_sector_of(const PartitionInfo *partition, uint32_t cluster)
{
    return static_cast<uint32_t>(check_cluster_sector(partition, cluster));
}

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
                if (check_problem_info(f.problem).remedy == Remedy::Repair && !check_held(result, f))
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
