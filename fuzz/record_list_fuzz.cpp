// Any bytes as the record list of an otherwise sound disk: the record-length detection,
// the load, the listing and information of each recording, then a change of one entry
// (which saves the list). After the save the tables must still be consistent, and on a
// disk of fixed record length the list must read back as it was in memory.
//
// Input: one byte choosing the disk format (detected length, the two fixed-length
// formats, an unknown one) and a byte offset for the edit, then the list file's bytes.
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/error.h"
#include "common/run_options.h"
#include "disk_image.h"
#include "fuzz_support.h"
#include "records/entry_edit.h"
#include "records/info.h"
#include "records/listing.h"
#include "records/record_list.h"

namespace {

constexpr uint32_t FORMATS[] = {0xE000000F, 0xE0000030, 0xE000000D, 0xE000000E};

testimg::ImageSpec small_spec(uint32_t format)
{
    testimg::ImageSpec spec = testimg::default_spec();
    for (auto &p : spec.partitions) {
        p.cluster_sectors = 2;
        p.cluster_count = 96;
    }
    spec.partitions[1].cluster_sectors = 4;
    spec.partitions[1].cluster_count = 160;
    spec.partitions[1].format_code = format;
    return spec;
}

// Built in memory: the fuzzer runs it for every input.
MemoryImage build_image(uint32_t format, const uint8_t *list, size_t size)
{
    testimg::Bytes bytes;
    testimg::DiskImage image(&bytes, small_spec(format));
    for (unsigned n : {2u, 3u}) {
        image.add_file(0, std::to_string(n) + ".av", testimg::pattern_bytes(1500 * n, n), 0x1002);
        image.add_file(1, std::to_string(n) + ".epg",
                       testimg::make_epg({{1000, 600, "Title", "Synopsis"}, {1600, 60, "Next", ""}}));
    }
    image.add_file(1, testimg::RECORD_LIST_NAME, testimg::Bytes(list, list + size));
    return memory_image_of(bytes.data(), bytes.size());
}

void check_saved(MemoryImage *saved, const HumaxDisk *before, bool fixed_length)
{
    testimg::Bytes bytes(saved->size);
    memory_image_read(saved, 0, bytes.data(), bytes.size());
    std::vector<testimg::ImageProblem> problems = testimg::check_image_problems(testimg::DiskImage(&bytes));
    if (!problems.empty()) {
        fprintf(stderr, "inconsistent after saving the list: %s\n", problems[0].text.c_str());
        abort();
    }
    if (!fixed_length)
        return;
    fuzz::DiskHandle after = fuzz::open_disk({"image", saved}, false);
    const RecordEntry *a = before->records.head;
    const RecordEntry *b = after->records.head;
    unsigned length = before->records.record_length;
    for (; a != nullptr && b != nullptr; a = a->next, b = b->next) {
        if (memcmp(a->bytes, b->bytes, length) != 0)
            break;
    }
    if (a != nullptr || b != nullptr) {
        fprintf(stderr, "the saved list reads back differently\n");
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || size > 48 * 1024)
        return 0;
    fuzz::begin_input();
    uint32_t format = FORMATS[data[0] & 3];
    unsigned offset = data[1];
    MemoryImage image = build_image(format, data + 2, size - 2);
    try {
        fuzz::DiskHandle disk = fuzz::open_disk({"image", &image}, true);
        reclist_walk(disk.get(), 0, nullptr);
        for (int n = 1; n <= 3; ++n)
            if (Error error; !cmd_info(disk.get(), n, &error))
                throw fuzz::ProgramExit{1};
        if (disk->records.head == nullptr)
            return 0;
        if (Error error; !cmd_modify_entry(disk.get(), 1, static_cast<int>(offset), 0x5A, &error))
            return 0;
        check_saved(&image, disk.get(), format != FORMATS[0]);
    } catch (const fuzz::ProgramExit &) {
    }
    return 0;
}
