// --check and --repair: open the disk without validating it, check, report, and for a
// repair plan, ask once, save, write.
#include <cstdio>
#include <memory>
#include <string>

#include "check/check_apply.h"
#include "check/check_badmap.h"
#include "check/check_plan.h"
#include "check/check_report.h"
#include "check/check_scan.h"
#include "check/check.h"
#include "common/error.h"
#include "common/fatal.h"
#include "common/json.h"
#include "common/progress.h"
#include "platform/host_space.h"
#include "records/disk_open.h"

namespace {

struct DiskCloser {
    void operator()(HumaxDisk *disk) const { disk_close(disk); }
};
using DiskHandle = std::unique_ptr<HumaxDisk, DiskCloser>;

// Opens and locks the disk, reading it without judging it; null after a message when it
// cannot be used.
DiskHandle open_for_check(const CheckRequest &request)
{
    DiskOpenOptions options = request.open;
    options.writable = request.repair;
    options.lock = true;
    options.validation = Validation::None;
    options.list = RecordListLoad::Skip;
    HumaxDisk *disk = nullptr;
    Error error;
    if (!disk_open({request.path}, options, &disk, &error))
        error_warn(error);
    return DiskHandle(disk);
}

// Asks before anything is written, saying what the host is to take.
bool confirmed(const CheckRequest &request, const RepairPlan &plan, const SaveSize &size)
{
    std::string saves;
    if (!plan.saves.empty())
        saves = " and saves what it frees to the current directory (" + std::to_string(size.files) + " file" +
                (size.files == 1 ? "" : "s") + ", " + std::to_string(size.bytes) + " bytes)";
    std::string question = std::to_string(plan.repaired) + " problem" + (plan.repaired == 1 ? "" : "s") +
                           " can be repaired, which writes to the disk" + saves +
                           " - do you wish to continue? [no]: ";
    return request.ask && request.ask(question);
}

// The bytes of the partitions a check covers (what its progress lines count).
uint64_t covered_bytes(const HumaxDisk *disk)
{
    uint64_t bytes = 0;
    for (int i = 0; i < disk->partition_count; ++i)
        bytes += uint64_t{disk->partitions[i].sector_count} * SECTOR_SIZE;
    return bytes;
}

// False, after a message, when the current directory's file system has less room than
// the saves need: better refused before the question than after hours of copying.
bool room_for_saves(const SaveSize &size)
{
    uint64_t room;
    if (size.bytes == 0 || !host_free_space(".", &room) || room >= size.bytes)
        return true;
    warn("The repair saves %llu bytes (%llu file%s) to the current directory before it frees anything, "
         "but its file system has room for %llu: nothing was written (run the repair from a directory "
         "with room)\n",
         static_cast<unsigned long long>(size.bytes), static_cast<unsigned long long>(size.files),
         size.files == 1 ? "" : "s", static_cast<unsigned long long>(room));
    return false;
}

// Prints the report's lines (when `kept` is null) or keeps them for the JSON document.
void report_lines(const std::vector<std::string> &lines, std::vector<std::string> *kept, const char *suffix = "")
{
    for (const std::string &line : lines) {
        if (kept != nullptr)
            kept->push_back(line + suffix);
        else
            printf("%s%s\n", line.c_str(), suffix);
    }
}

// Plans, asks, saves and writes. With `outcome` (--json) nothing goes to standard output:
// what it did and what it left is kept there instead.
int repair(const CheckRequest &request, HumaxDisk *disk, const CheckResult &result, int status,
           RepairOutcome *outcome)
{
    std::vector<std::string> *changes = outcome != nullptr ? &outcome->lines : nullptr;
    std::vector<std::string> *notes = outcome != nullptr ? &outcome->notes : nullptr;
    RepairPlan plan = check_plan_repairs(disk, result);
    bool anything = plan.changed[0] || plan.changed[1] || plan.changed[2];
    if (!anything || plan.repaired == 0) {
        report_lines(plan.notes, notes);
        return status;
    }
    SaveSize size = check_save_size(plan);
    if (!room_for_saves(size))
        return status | CHECK_OPERATIONAL;
    if (!confirmed(request, plan, size)) {
        warn("Aborting...\n");
        return status;
    }
    if (size.bytes > 0)
        progress_report("save", 0, size.bytes, disk->path);
    std::vector<std::string> saved_lines;
    if (!check_save_contents(disk, plan, &saved_lines)) {
        report_lines(saved_lines, changes);
        warn("Nothing was written to the disk: the contents it would free could not all be saved\n");
        return status | CHECK_OPERATIONAL;
    }
    if (size.bytes > 0)
        progress_report("save", size.bytes, size.bytes, disk->path);
    Error error;
    if (!check_write_repairs(disk, plan, &error))
        error_end(error); // the disk is as an interrupted repair leaves it
    report_lines(plan.changes, changes);
    report_lines(saved_lines, changes, " and freed");
    report_lines(plan.notes, notes);
    if (outcome != nullptr) {
        outcome->written = true;
        outcome->remaining = plan.remaining;
    } else {
        printf("%s: %u problem%s repaired, %u left\n", check_inert(disk->path).c_str(), plan.repaired,
               plan.repaired == 1 ? "" : "s", plan.left);
    }
    int repaired = (status & CHECK_OPERATIONAL) | CHECK_REPAIRED;
    return plan.left > 0 ? repaired | CHECK_LEFT : repaired;
}

void print_json(const std::string &path, const CheckResult &result, const CheckTally &tally, int status,
                const RepairOutcome *outcome)
{
    JsonWriter json;
    check_write_json(&json, path, result, tally, status, outcome);
    json_print(&json);
}

} // namespace

int check_run(const CheckRequest &request)
{
    BadMap map;
    if (!request.bad_map.empty()) {
        std::string error;
        if (!check_read_bad_map(request.bad_map, &map, &error)) {
            warn("%s\n", error.c_str());
            return CHECK_OPERATIONAL;
        }
    }
    DiskHandle disk = open_for_check(request);
    if (!disk)
        return CHECK_OPERATIONAL;
    uint64_t covered = covered_bytes(disk.get());
    progress_report("check", 0, covered, request.path);
    CheckResult result;
    check_volume(disk.get(), &result);
    check_record_list(disk.get(), &result);
    check_lost_chains(disk.get(), &result);
    if (!request.bad_map.empty())
        check_bad_areas(disk.get(), map, &result);
    progress_report("check", covered, covered, request.path);
    check_sort_findings(&result);
    CheckTally tally = check_tally(result);
    if (!request.json) {
        check_print_findings(stdout, result);
        check_print_summary(stdout, request.path, tally);
    }
    int status = tally.problems > 0 ? CHECK_LEFT : CHECK_CLEAN;
    if (result.read_errors)
        status |= CHECK_OPERATIONAL;
    RepairOutcome outcome;
    RepairOutcome *kept = request.json ? &outcome : nullptr;
    if (request.repair && tally.repairable > 0) {
        fflush(stdout);
        status = repair(request, disk.get(), result, status, kept);
    }
    if (request.json)
        print_json(request.path, result, tally, status, request.repair ? &outcome : nullptr);
    return status;
}
