#pragma once
// Checking and repairing a recorder disk (--check, --repair).
//
// The check reads the disk as stored (opening split into reading and validating, so that
// a disk normal opening refuses is still checked) and reports every problem, grouped by
// partition and then the record list. The repair plans every change in memory, asks once,
// saves what it would free to the current directory, and then writes once, in the order
// of every commit (allocations, directory, freed clusters).
#include <functional>
#include <string>

#include "disk/humax_disk.h"

// Exit statuses, added together as fsck's are.
constexpr int CHECK_CLEAN = 0;
constexpr int CHECK_REPAIRED = 1;    // problems found, and repaired
constexpr int CHECK_LEFT = 4;        // problems found and left on the disk
constexpr int CHECK_OPERATIONAL = 8; // the disk, the map file or a host file failed
constexpr int CHECK_USAGE = 16;      // the command line was wrong

struct CheckRequest {
    std::string path;    // the disk (image or drive)
    bool repair = false; // --repair: mend what is safe after one question
    std::string bad_map; // --bad-map: a GNU ddrescue mapfile of the disk, or empty
    bool json = false;   // --json: the report as one JSON document (check_write_json)
    // How the disk is reached (direct I/O, a stream wrapper); the checker sets the rest.
    DiskOpenOptions open;
    // Puts the repair's one question (ending in "[no]: ") to the user and returns the
    // answer; without it nothing is repaired.
    std::function<bool(const std::string &question)> ask;
};

// Runs a check (and repair) of one disk: the report on standard output, errors (through
// the message sink) and the question (through request.ask) on standard error; with `json`
// the report is one JSON document, written at the end (none when the disk or the map
// cannot be read at all). Progress lines for a front-end (progress_report) mark the
// check's start and end, and the bytes a repair saves to the host. Returns the exit
// status. A repair whose reads or writes fail ends the process with status 1 after the
// library's message (error_end): nothing more is written to the disk.
int check_run(const CheckRequest &request);

// Writing commands call this on a disk they are about to change (its volume read,
// before any question; DiskOpenOptions::vet_volume): a disk with clusters in two files,
// or a name twice in a directory, is refused (false, *error: ErrorKind::Damaged) with a
// message that says to run --check, since deleting either file would free clusters the
// other still holds; so is a chain that runs into a cluster marked free, which the next
// allocation would take. Leaks and a wrong free count do not stop anything. Costs a walk
// of every chain, with one bit per cluster.
bool check_refuse_damaged(const HumaxDisk *disk, Error *error);
