#pragma once
// Printing a check's findings: one line per finding, the disk first, then each partition,
// then the record list; then one summary line.
#include <cstdio>
#include <string>

#include "check/check_scan.h"

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

// Prints every finding ("AV: ...", with what helps for those the repair leaves).
void check_print_findings(FILE *out, const CheckResult &result);

// "disk.img: 3 problems (2 repairable), 8192 bytes leaked in 2 clusters".
void check_print_summary(FILE *out, const std::string &path, const CheckTally &tally);
