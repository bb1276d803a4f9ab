#pragma once
// Carrying out a planned repair, in the order that keeps every step safe to interrupt:
// first the contents of clusters to be freed go to the current directory (complete host
// files, or nothing); then private copies of shared clusters are written into clusters
// that are free on the disk; then each changed partition is committed as every command
// commits (allocations, directory, freed clusters, each flushed).
#include <string>
#include <vector>

#include "check/check_plan.h"

// What the saves of a plan write to the current directory: files and bytes. A file that
// an earlier, interrupted repair saved under the same name and size is not counted.
struct SaveSize {
    uint64_t files = 0;
    uint64_t bytes = 0;
};
SaveSize check_save_size(const RepairPlan &plan);

// Saves every SaveJob of the plan to the current directory. A host file of the same name
// and the same contents (left by an earlier, interrupted repair) counts as saved; any
// other existing name gets a numbered variant. Appends an "AV: ... saved as ..." line for
// each (what becomes of the clusters is the caller's to add). False, after a message on
// standard error, when the host cannot take them all or the disk cannot be read: the
// disk must then not be written at all.
bool check_save_contents(HumaxDisk *disk, const RepairPlan &plan, std::vector<std::string> *lines);

// Writes the copies of shared clusters, then commits every changed partition. False, with
// *error set ("Disk: ..." with the system's error: ErrorKind::Read for a cluster that
// could not be read, Write for a copy that could not be written; disk_write_tables'
// errors), at the first step that fails; nothing is written after it. The disk is then as
// an interrupted repair leaves it: the copies went to clusters free on the disk, and the
// commits already made are whole, so a second --repair finishes the work.
bool check_write_repairs(HumaxDisk *disk, const RepairPlan &plan, Error *error);
