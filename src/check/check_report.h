#pragma once
// Printing a check's findings (or writing them as one JSON document): one line per
// finding, the disk first, then each partition, then the record list; then one summary
// line.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "check/check_scan.h"
#include "common/json.h"

struct CheckTally {
    unsigned problems = 0;   // findings that are faults of the disk
    unsigned repairable = 0; // ... that --repair mends where they are
    unsigned notices = 0;
    uint64_t leaked_clusters = 0;
    uint64_t leaked_bytes = 0;
};

// True when --repair mends this finding of `result` (its kind is repairable, it is not
// held, and its partition's layout, and the disk, are not in doubt).
bool check_repairable(const CheckResult &result, const Finding &finding);

CheckTally check_tally(const CheckResult &result);

// Sorts the findings into report order (stable within a scope).
void check_sort_findings(CheckResult *result);

// The report's line of a finding, without its newline: "AV: " and the message, and what
// helps for those the repair leaves.
std::string check_finding_line(const CheckResult &result, const Finding &finding, const FileDescriber &describe);

// Prints every finding (check_finding_line).
void check_print_findings(FILE *out, const CheckResult &result);

// The listed recording a finding is about (its number in the listing): the recording
// whose file it names (the first file, else the other), or the one it names by number (a
// missing stream, a file number used twice: the first of the two). None for findings
// about anything else.
std::optional<unsigned> check_finding_recording(const CheckResult &result, const Finding &finding);

// What a repair did, for the report.
struct RepairOutcome {
    bool written = false;            // the disk was written
    std::vector<std::string> lines;  // what it changed ("AV: ..."), then what it saved
    std::vector<std::string> notes;  // what it left and why, with what helps
    std::vector<Finding> remaining;  // repairable problems the repaired disk still has
};

// Writes the report as one JSON object (--json): "disk" (the path), "status" (the exit
// status), "findings" (each with "partition": "AV", "EPG", "MPEG/JPEG" or null for the
// disk, the record list and the map; "kind": the problem table's name; "message": the
// report's line; "recording": check_finding_recording or null; "repairable" and
// "repaired"; a bad-area-file finding also "file", "unreadable_bytes" and
// "unreadable_areas" (every one, {"first", "last"} bytes of the file); the map-summary
// "unreadable_bytes", "files_touched", "whole_recordings" and "listed_recordings"),
// "leaked_bytes", and for a repair "changes" (RepairOutcome::lines) and "notes"
// (RepairOutcome::notes).
void check_write_json(JsonWriter *json, const std::string &path, const CheckResult &result,
                      const CheckTally &tally, int status, const RepairOutcome *repair);

// "disk.img: 3 problems (2 repairable), 8192 bytes leaked in 2 clusters".
void check_print_summary(FILE *out, const std::string &path, const CheckTally &tally);
