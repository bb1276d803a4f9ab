// A damaged disk image through every path of diskwarden that only reads it: opening
// (partition table, descriptors, allocation tables, directories, record list), the
// listing and free space, the programme information of each recording, recovery mode's
// listing and information, copying small recordings to the host, and reading every file.
//
// Input: one options byte (bit 0: recovery mode, bit 1: without programme information,
// bit 2: extended listing), then a compact image (fuzz_support.h).
#include <algorithm>
#include <string>

#include "commands/get.h"
#include "commands/recover.h"
#include "commands/driver.h"
#include "common/run_options.h"
#include "fuzz_support.h"
#include "records/info.h"
#include "records/listing.h"

namespace {

// Host copies and file reads stop here: a damaged table can make a file claim terabytes.
constexpr uint64_t FILE_BUDGET = 1u << 20;
constexpr int MOST_RECORDINGS = 16;

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
        cmd_info(disk, n);
        RecordEntry *entry = reclist_walk_to(disk, n, nullptr);
        if (entry != nullptr && recording_is_small(disk, entry_be16(entry, ENTRY_FILE_NUMBER)))
            cmd_get_recording(disk, n);
        cmd_get_header(disk, n);
    }
}

void recovery_mode(HumaxDisk *disk)
{
    int mode = run_options.no_info ? INFO_DISABLED : INFO_TITLES;
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
    const std::string image = fuzz::scratch_file("image");
    fuzz::write_chunk_image(image, data + 1, size - 1);
    try {
        fuzz::DiskHandle disk = fuzz::open_disk(image.c_str(), "rb");
        if (run_options.recovery)
            recovery_mode(disk.get());
        else
            normal_mode(disk.get());
        fuzz::read_every_file(disk.get(), FILE_BUDGET);
    } catch (const fuzz::ProgramExit &) {
    }
    return 0;
}
