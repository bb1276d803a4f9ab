// Any bytes as the programme information (N.epg) of a recording: the information
// display in all its modes, recovery mode's listing, then the update to the newer
// 332-byte records (-E), which rewrites the file. After the update the tables must be
// consistent and every other file must be as it was.
//
// Input: one byte for the recording's length (its entry's end time), then the file.
#include <cstdlib>
#include <string>

#include "common/error.h"
#include "common/run_options.h"
#include "disk_image.h"
#include "fuzz_support.h"
#include "records/epg_update.h"
#include "records/info.h"
#include "diskwarden/recover.h"

namespace {

// Already in the newer form, so that the update leaves it alone.
const testimg::Bytes OTHER_EPG =
    testimg::make_epg({{5000, 1800, "Other", "Kept as it is"}, {6800, 1800, "After", ""}}, 332);
const testimg::Bytes STREAM = testimg::pattern_bytes(3000, 7);

// Built in memory: the fuzzer runs it for every input.
MemoryImage build_image(uint8_t length, const uint8_t *epg, size_t size)
{
    testimg::ImageSpec spec = testimg::default_spec();
    for (auto &p : spec.partitions) {
        p.cluster_sectors = 2;
        p.cluster_count = 96;
    }
    spec.partitions[1].cluster_count = 400;
    testimg::Bytes bytes;
    testimg::DiskImage image(&bytes, spec);
    image.add_file(0, "2.av", STREAM, 0x1002);
    image.add_file(0, "3.av", STREAM, 0x1002);
    image.add_file(1, "2.epg", testimg::Bytes(epg, epg + size));
    image.add_file(1, "3.epg", OTHER_EPG);
    uint32_t start = 1000;
    image.write_record_list({testimg::make_entry(304, 2, start, start + 60u * length, "Fuzzed"),
                             testimg::make_entry(304, 3, 5000, 8600, "Other")},
                            304);
    return memory_image_of(bytes.data(), bytes.size());
}

void fail(const char *what)
{
    fprintf(stderr, "%s\n", what);
    abort();
}

void check_update(const MemoryImage &updated)
{
    testimg::Bytes bytes(updated.size);
    memory_image_read(&updated, 0, bytes.data(), bytes.size());
    testimg::DiskImage image(&bytes);
    if (!testimg::check_image_problems(image, 304).empty())
        fail("inconsistent after the update");
    if (image.read_file(1, "3.epg") != OTHER_EPG || image.read_file(0, "2.av") != STREAM ||
        image.read_file(0, "3.av") != STREAM)
        fail("the update changed another file");
    if (!image.find(1, "2.epg") || image.find(1, "2.tmp"))
        fail("the update left the file under another name");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 64 * 1024)
        return 0;
    fuzz::begin_input();
    MemoryImage image = build_image(data[0], data + 1, size - 1);
    try {
        fuzz::DiskHandle disk = fuzz::open_disk({"image", &image}, true);
        Error error;
        if (!cmd_info(disk.get(), 1, &error) ||
            info_show(stdout, disk.get(), "2.epg", nullptr, INFO_TITLES, &error) == InfoShown::Failed ||
            info_show(stdout, disk.get(), "2.epg", nullptr, INFO_FULL, &error) == InfoShown::Failed ||
            !epg_update_all(disk.get(), &error))
            throw fuzz::ProgramExit{1};
    } catch (const fuzz::ProgramExit &) {
    }
    check_update(image);
    try {
        run_options.recovery = 1;
        fuzz::DiskHandle disk = fuzz::open_disk({"image", &image}, false);
        cmd_recover_scan(disk.get(), 0, INFO_TITLES);
        cmd_recover_scan(disk.get(), 1, INFO_FULL);
    } catch (const fuzz::ProgramExit &) {
    }
    return 0;
}
