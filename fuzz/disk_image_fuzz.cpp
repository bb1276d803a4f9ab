// A damaged disk image through every path of diskwarden that only reads it: opening
// (partition table, descriptors, allocation tables, directories, record list), the
// listing and free space, the programme information of each recording, recovery mode's
// listing and information, copying small recordings to the host, and reading every file.
// Then the checker: the check, the guard of the writing commands, and the repair (when
// what it saves is small), after which a second check must find nothing the repair said
// it had mended.
//
// Input: one options byte (bit 0: recovery mode, bit 1: without programme information,
// bit 2: extended listing), then a compact image (fuzz_support.h).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "check/check_apply.h"
#include "check/check_plan.h"
#include "check/check_report.h"
#include "check/check_scan.h"
#include "check/check.h"
#include "diskwarden/get.h"
#include "diskwarden/recover.h"
#include "diskwarden/driver.h"
#include "common/error.h"
#include "common/run_options.h"
#include "fuzz_support.h"
#include "records/disk_open.h"
#include "records/info.h"
#include "records/listing.h"

namespace {

// Host copies and file reads stop here: a damaged table can make a file claim terabytes.
constexpr uint64_t FILE_BUDGET = 1u << 20;
constexpr int MOST_RECORDINGS = 16;
constexpr size_t MOST_SAVES = 4;

std::string numbered(unsigned number, const char *extension)
{
    return std::to_string(number) + extension;
}

bool recording_is_small(HumaxDisk *disk, unsigned number)
{
    return fuzz::small_or_absent(disk, PARTITION_AV, numbered(number, ".av").c_str(), FILE_BUDGET) &&
           fuzz::small_or_absent(disk, PARTITION_AV, numbered(number, ".elu").c_str(), FILE_BUDGET) &&
           fuzz::small_or_absent(disk, PARTITION_EPG, numbered(number, ".epg").c_str(), FILE_BUDGET);
}

void normal_mode(HumaxDisk *disk)
{
    reclist_walk(disk, 0, nullptr);
    cmd_show_free_space(disk);
    int last = std::min(disk->records.count + 1, MOST_RECORDINGS);
    for (int n = 0; n <= last; ++n) {
        Error error;
        if (!cmd_info(disk, n, &error))
            throw fuzz::ProgramExit{1};
        RecordEntry *entry = reclist_walk_to(disk, n, nullptr);
        if (entry != nullptr && recording_is_small(disk, entry_be16(entry, ENTRY_FILE_NUMBER)))
            cmd_get_recording(disk, n);
        cmd_get_header(disk, n);
    }
}

void recovery_mode(HumaxDisk *disk)
{
    InfoMode mode = run_options.no_info ? INFO_DISABLED : INFO_TITLES;
    cmd_recover_scan(disk, 0, mode);
    for (int n = 1; n <= MOST_RECORDINGS; ++n) {
        const char *name = cmd_recover_scan(disk, n, INFO_FULL);
        if (name == nullptr)
            break;
        std::string stem(name, std::string(name).find('.'));
        bool small = fuzz::small_or_absent(disk, PARTITION_AV, name, FILE_BUDGET) &&
                     fuzz::small_or_absent(disk, PARTITION_AV, (stem + ".elu").c_str(), FILE_BUDGET) &&
                     fuzz::small_or_absent(disk, PARTITION_EPG, (stem + ".epg").c_str(), FILE_BUDGET);
        if (small)
            cmd_recover_get(disk, std::to_string(n), mode);
    }
}

fuzz::DiskHandle open_for_check(MemoryImage *image, bool writable, CheckResult *result)
{
    DiskOpenOptions options;
    options.writable = writable;
    options.validation = Validation::None;
    HumaxDisk *opened = nullptr;
    Error error;
    if (!disk_open({"image", image}, options, &opened, &error))
        return nullptr;
    fuzz::DiskHandle disk(opened);
    check_volume(disk.get(), result);
    check_record_list(disk.get(), result);
    check_lost_chains(disk.get(), result);
    check_sort_findings(result);
    return disk;
}

uint64_t copy_bytes(const HumaxDisk *disk, const RepairPlan &plan)
{
    uint64_t bytes = 0;
    for (const CopyJob &copy : plan.copies)
        bytes += copy.from.size() * cluster_bytes(&disk->partitions[copy.partition]);
    return bytes;
}

void check_and_repair(MemoryImage *image)
{
    CheckResult first;
    fuzz::DiskHandle disk = open_for_check(image, true, &first);
    if (!disk)
        return;
    check_print_findings(stdout, first);
    check_print_summary(stdout, "image", check_tally(first));
    Error refusal;
    check_refuse_damaged(disk.get(), &refusal);
    RepairPlan plan = check_plan_repairs(disk.get(), first);
    // Every saved file and every commit is flushed to storage: a few per input.
    if (plan.repaired == 0 || plan.saves.size() > MOST_SAVES || check_plan_save_bytes(disk.get(), plan) > FILE_BUDGET ||
        copy_bytes(disk.get(), plan) > FILE_BUDGET)
        return;
    std::vector<std::string> lines;
    if (!check_save_contents(disk.get(), plan, &lines))
        return;
    Error error;
    if (!check_write_repairs(disk.get(), plan, &error))
        return;
    disk.reset();
    CheckResult second;
    disk = open_for_check(image, false, &second);
    if (!disk || !plan.remaining.empty())
        return;
    for (const Finding &f : second.findings) {
        if (check_repairable(second, f)) {
            fprintf(stderr, "the repair left a problem it had mended: %s\n", check_problem_info(f.problem).message);
            abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    fuzz::begin_input();
    fuzz::enter_host_dir();
    run_options.recovery = data[0] & 1;
    run_options.no_info = data[0] >> 1 & 1;
    run_options.extended = data[0] >> 2 & 1;
    MemoryImage image = fuzz::chunk_image(data + 1, size - 1);
    try {
        fuzz::DiskHandle disk = fuzz::open_disk({"image", &image}, false);
        if (run_options.recovery)
            recovery_mode(disk.get());
        else
            normal_mode(disk.get());
        fuzz::read_every_file(disk.get(), FILE_BUDGET);
    } catch (const fuzz::ProgramExit &) {
    }
    try {
        check_and_repair(&image);
    } catch (const fuzz::ProgramExit &) {
    }
    return 0;
}
