// --check and --repair: open the disk without validating it, check, report, and for a
// repair plan, ask once, save, write.
#include <cstdio>
#include <memory>

#include "check/check_apply.h"
#include "check/check_badmap.h"
#include "check/check_plan.h"
#include "check/check_report.h"
#include "check/check_scan.h"
#include "check/check.h"
#include "common/error.h"
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

// Asks before anything is written.
bool confirmed(const CheckRequest &request, const RepairPlan &plan)
{
    char question[256];
    snprintf(question, sizeof question,
             "%u problem%s can be repaired, which writes to the disk%s - do you wish to continue? [no]: ",
             plan.repaired, plan.repaired == 1 ? "" : "s",
             plan.saves.empty() ? "" : " and saves what it frees to the current directory");
    return request.ask && request.ask(question);
}

int repair(const CheckRequest &request, HumaxDisk *disk, const CheckResult &result, int status)
{
    RepairPlan plan = check_plan_repairs(disk, result);
    bool anything = plan.changed[0] || plan.changed[1] || plan.changed[2];
    if (!anything || plan.repaired == 0)
        return status;
    if (!confirmed(request, plan)) {
        warn("Aborting...\n");
        return status;
    }
    std::vector<std::string> saved_lines;
    if (!check_save_contents(disk, plan, &saved_lines)) {
        for (const std::string &line : saved_lines)
            printf("%s\n", line.c_str());
        warn("Nothing was written to the disk: the contents it would free could not all be saved\n");
        return status | CHECK_OPERATIONAL;
    }
    check_write_repairs(disk, plan);
    for (const std::string &line : plan.changes)
        printf("%s\n", line.c_str());
    for (const std::string &line : saved_lines)
        printf("%s\n", line.c_str());
    printf("%s: %u problem%s repaired, %u left\n", check_inert(disk->path).c_str(), plan.repaired,
           plan.repaired == 1 ? "" : "s", plan.left);
    int repaired = (status & CHECK_OPERATIONAL) | CHECK_REPAIRED;
    return plan.left > 0 ? repaired | CHECK_LEFT : repaired;
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
    CheckResult result;
    check_volume(disk.get(), &result);
    check_record_list(disk.get(), &result);
    if (!request.bad_map.empty())
        check_bad_areas(disk.get(), map, &result);
    check_sort_findings(&result);
    check_print_findings(stdout, result);
    CheckTally tally = check_tally(result);
    check_print_summary(stdout, request.path, tally);
    int status = tally.problems > 0 ? CHECK_LEFT : CHECK_CLEAN;
    if (result.read_errors)
        status |= CHECK_OPERATIONAL;
    if (!request.repair || tally.repairable == 0)
        return status;
    fflush(stdout);
    return repair(request, disk.get(), result, status);
}
