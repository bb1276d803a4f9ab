#pragma once
// The repair planner's working state, shared by its steps (check_plan.cpp, and the
// separation of files that share clusters in check_separate.cpp). Internal to the
// checker.
#include <string>
#include <vector>

#include "check/check_plan.h"
#include "check/check_runs.h"

struct Planner {
    HumaxDisk *disk;
    const CheckResult &result;
    RepairPlan plan;
    FileDescriber describe;
    PartitionScan scan;

    PartitionInfo *partition() { return &disk->partitions[scan.index]; }

    // Scans the partition again as the steps so far left its tables.
    void rescan();
    // Records a change ("AV: ...") in the plan's report.
    void note(const char *message, const Finding &detail);
    // A finding about file f of the current scan, for note().
    Finding about(const FileState &f) const;
    // True when the file's size needs may not be cut, emptied or freed (see
    // check_protected).
    bool is_protected(const FileState &f) const;
    // True when the file is a misplaced stream the repair leaves as it is.
    bool is_held(const FileState &f) const;
};

// Clusters free both in the planned table and on the disk (clusters this repair frees
// still belong to their files on the disk until the directory is written), linked into a
// chain by the allocator (fat_take); none when there are fewer than `count`.
std::vector<uint32_t> check_take_clusters(PartitionInfo *partition, uint64_t count);

// With no free cluster left, the first cluster of a chain in no file, saved to the host
// before it is taken (never one kept as a candidate for a stream). None when there is no
// such chain.
std::vector<uint32_t> check_take_leaked_cluster(Planner &pl);

// The sector a cluster starts at.
uint32_t check_sector_of(const PartitionInfo *partition, uint32_t cluster);

// Step 3: entries twice, names twice, garbage entries and leftovers, then the files that
// share clusters, until no sharing is left that a rule can settle.
void check_separate_files(Planner &pl);
