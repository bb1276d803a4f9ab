#pragma once
// The repair, planned in memory: the disk's tables and directories are changed in memory
// only, step by step with a fresh scan after each step, and what must happen outside the
// tables (contents saved to the host before their clusters are freed, shared clusters
// copied) is listed. Nothing reaches the disk or the host here.
#include <cstdint>
#include <string>
#include <vector>

#include "check/check_scan.h"

// Contents to save to the current directory before their clusters are freed.
struct SaveJob {
    int partition = 0;
    std::vector<uint32_t> clusters; // in chain order
    uint64_t bytes = 0;             // whole clusters (what no size bounds)
    std::string from_file;          // the removed file they belonged to, or empty
};

// Shared clusters copied into clusters of their own for the later file.
struct CopyJob {
    int partition = 0;
    std::vector<uint32_t> from;
    std::vector<uint32_t> to;
};

struct RepairPlan {
    std::vector<SaveJob> saves;
    std::vector<CopyJob> copies;
    std::vector<std::string> changes; // "AV: ..." lines, in the order planned
    std::vector<std::string> notes;   // what it leaves and why, with what helps
    bool changed[PARTITION_COUNT] = {};
    std::vector<Finding> remaining; // repairable problems the planned state still has
    unsigned repaired = 0;          // problems of the check that the plan mends
    unsigned left = 0;              // problems of the check that stay
};

// Plans every repair the check `result` allows, changing the disk's tables in memory.
RepairPlan check_plan_repairs(HumaxDisk *disk, const CheckResult &result);

// Bytes the saves will write to the host.
uint64_t check_plan_save_bytes(const HumaxDisk *disk, const RepairPlan &plan);
