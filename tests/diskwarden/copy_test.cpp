#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "diskwarden/copy.h"
#include "common/run_options.h"
#include "disk/directory.h"
#include "disk_fixture.h"
#include "disk_opening.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;
using testimg::ImageSpec;
using testimg::make_entry;
using testimg::pattern_bytes;
using testimg::read_host_file;

constexpr unsigned LENGTH = 304;
const std::string WARNING =
    "WARNING this may corrupt your Humax hard disk - do you wish to continue? [no]: ";
const std::string COPY_MESSAGES = "Copying av file...\nCopying elu file...\nCopying epg file...\n";
// A destination without a record list says so when opened, and its first save finds no
// list to keep as the backup.
const std::string NO_LIST = "Record list is empty\n";
const std::string FIRST_SAVE = "Oldname _RECORD_LIST_ does not exist\n";

ImageSpec spec_with(uint16_t av_cluster_sectors, uint32_t av_clusters = 256)
{
    ImageSpec spec = testimg::default_spec();
    spec.partitions[0].cluster_sectors = av_cluster_sectors;
    spec.partitions[0].cluster_count = av_clusters;
    return spec;
}

// One recording's files as put on a source disk.
struct Recording {
    unsigned number;
    Bytes av, elu, epg;
};

Recording recording(unsigned number, size_t av_size)
{
    return {number, pattern_bytes(av_size, number), pattern_bytes(1023, number + 100),
            pattern_bytes(333, number + 200)};
}

void add_files(DiskImage &image, const Recording &r, bool with_elu = true)
{
    std::string n = std::to_string(r.number);
    image.add_file(0, n + ".av", r.av, 0x1006, testimg::Placement::Fragmented);
    if (with_elu)
        image.add_file(0, n + ".elu", r.elu, 0x1000);
    image.add_file(1, n + ".epg", r.epg, 0x1002);
}

Bytes entry_for(unsigned number, const std::string &title = "Title")
{
    return make_entry(LENGTH, number, 1700000000 + number, 1700003600 + number, title);
}

unsigned file_number(const Bytes &entry) { return entry[5] << 8 | entry[6]; }

void expect_unchanged(const std::string &path, const Bytes &before)
{
    EXPECT_TRUE(read_host_file(path) == before) << path << " has changed";
}

// The destination's files `to` hold exactly what the source's files `from` hold, stored
// bytes and logical contents, with the same sizes and attribute words.
void expect_copied(const DiskImage &source, unsigned from, const DiskImage &destination,
                   unsigned to)
{
    const struct { int part; const char *ext; } files[] = {{0, ".av"}, {0, ".elu"}, {1, ".epg"}};
    for (auto f : files) {
        std::string src = std::to_string(from) + f.ext, dst = std::to_string(to) + f.ext;
        auto a = source.find(f.part, src);
        auto b = destination.find(f.part, dst);
        ASSERT_TRUE(a && b) << src << " -> " << dst;
        EXPECT_EQ(b->size, a->size) << dst;
        EXPECT_EQ(b->attributes, a->attributes) << dst;
        // Compared whole (a failure would otherwise print megabytes).
        EXPECT_TRUE(destination.read_file_raw(f.part, dst) == source.read_file_raw(f.part, src))
            << "stored bytes of " << dst;
        EXPECT_TRUE(destination.read_file(f.part, dst) == source.read_file(f.part, src))
            << "contents of " << dst;
    }
}

// The source disk is the fixture's disk; both are checked after every run.
class Copy : public testimg::DiskFixture {
  protected:
    std::string src = path, dst = dir.file("dst.img");

    void SetUp() override
    {
        DiskFixture::SetUp();
        add_image(dst);
        run_options = RunOptions{};
    }
};

TEST_F(Copy, RecordingGetsTheFirstFreeNumberAndItsStoredBytes)
{
    DiskImage source(src, testimg::default_spec());
    Recording r = recording(5, 3 * 4096 + 1234 + 1); // ends inside a 4-byte group
    add_files(source, r);
    source.write_record_list({entry_for(5)}, LENGTH);
    DiskImage destination(dst, testimg::default_spec());
    destination.add_file(0, "2.av", pattern_bytes(100, 7));
    destination.add_file(0, "3.av", pattern_bytes(100, 8));
    destination.write_record_list({entry_for(2, "A"), entry_for(3, "B")}, LENGTH);
    Bytes source_image = read_host_file(src);

    auto result = run({"-y", "-g", "1"}, "", {src, dst});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, COPY_MESSAGES);
    EXPECT_EQ(result.out.substr(0, 4), "  1:");

    DiskImage after(dst);
    expect_copied(source, 5, after, 4);
    auto entries = after.record_list_entries(LENGTH);
    ASSERT_EQ(entries.size(), 3u);
    Bytes expected = source.record_list_entries(LENGTH)[0];
    expected[6] = expected[10] = 4;
    EXPECT_EQ(entries[2], expected);
    EXPECT_EQ(file_number(entries[0]), 2u);
    expect_unchanged(src, source_image);

    // The copy reads back to the host like the original.
    result = run({"-g", "3"}, "", {dst});
    ASSERT_EQ(result.status, 0) << result.err;
    std::vector<std::string> streams;
    for (const auto &file : std::filesystem::directory_iterator(host))
        if (file.path().extension() == ".ts")
            streams.push_back(file.path());
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_TRUE(read_host_file(streams[0]) == r.av);
}

// Pairs of sectors per cluster (source, destination) for the AV partition.
class CopyClusterSizes : public Copy,
                     public ::testing::WithParamInterface<std::pair<uint16_t, uint16_t>> {};

TEST_P(CopyClusterSizes, StreamLargerThanOneTransferCopiesExactly)
{
    auto [from, to] = GetParam();
    const uint64_t size = (9u << 20) + 4099; // several transfer pieces, a partial last group
    DiskImage source(src, spec_with(from, static_cast<uint32_t>(2 * size / (from * 512) + 64)));
    Recording r = recording(7, size);
    add_files(source, r);
    source.write_record_list({entry_for(7)}, LENGTH);
    DiskImage destination(dst, spec_with(to, static_cast<uint32_t>(2 * size / (to * 512) + 16)));
    // A file on every other cluster at the start leaves the free space in single clusters.
    destination.add_file(0, "2.av", pattern_bytes(64 * to * 512, 3), 0x1000,
                         testimg::Placement::Fragmented);
    destination.write_record_list({entry_for(2)}, LENGTH);
    Bytes source_image = read_host_file(src);

    auto result = run({"-y", "-g", "1"}, "", {src, dst});
    EXPECT_EQ(result.status, 0) << result.err;
    DiskImage after(dst);
    expect_copied(source, 7, after, 3);
    expect_unchanged(src, source_image);
}

// A failing source drive: the copy holds zeros for its unreadable sectors (the recorder
// plays through them), says so, and ends with status 1.
TEST_P(CopyClusterSizes, UnreadableSectorsOfTheSourceBecomeZeros)
{
    auto [from, to] = GetParam();
    const uint64_t size = (5u << 20) + 4099;
    DiskImage source(src, spec_with(from, static_cast<uint32_t>(2 * size / (from * 512) + 64)));
    Recording r = recording(7, size);
    add_files(source, r);
    source.write_record_list({entry_for(7)}, LENGTH);
    DiskImage destination(dst, spec_with(to, static_cast<uint32_t>(2 * size / (to * 512) + 16)));
    destination.write_record_list({entry_for(2)}, LENGTH);
    // A sector in the middle, and the last one, which ends inside a 4-byte group.
    testimg::FileInfo av = *source.find(0, "7.av");
    uint64_t cluster = uint64_t{from} * 512, data = source.geometry(0).data_sector;
    auto sector_of = [&](uint64_t at) { return data + (av.clusters[at / cluster] * cluster + at % cluster) / 512; };
    const uint64_t middle = (3u << 20) + 512, last = size / 512 * 512;
    fail_sectors(std::to_string(sector_of(middle)) + "," + std::to_string(sector_of(last)), src);

    auto result = run({"-y", "-g", "1"}, "", {src, dst});
    EXPECT_EQ(result.status, 1) << result.err;
    // Under direct I/O a failed read is narrowed to the 4 KiB unit: the bytes of the bad
    // sector's unit that lie in its cluster are lost (here every cluster is a run).
    const char *direct = getenv("DISKWARDEN_DIRECT");
    const uint64_t unit = direct != nullptr && std::string(direct) == "1" ? 4096 : 512;
    Bytes expected = source.read_file_raw(0, "7.av");
    uint64_t lost = 0;
    for (uint64_t at = 0; at < size; at += 512) {
        uint64_t unit_of = sector_of(at) * 512 / unit;
        bool lost_here = false;
        for (uint64_t bad : {middle, last})
            lost_here = lost_here || (unit_of == sector_of(bad) * 512 / unit && at / cluster == bad / cluster);
        if (!lost_here)
            continue;
        uint64_t end = std::min<uint64_t>(at + 512, size);
        std::fill(expected.begin() + at, expected.begin() + end, 0);
        lost += end - at;
    }
    EXPECT_NE(result.err.find("7.av (copied as 2.av): " + std::to_string(lost) + " bytes unreadable"),
              std::string::npos) << result.err;
    DiskImage after(dst);
    EXPECT_TRUE(after.read_file_raw(0, "2.av") == expected);
}

INSTANTIATE_TEST_SUITE_P(Pairs, CopyClusterSizes,
                         ::testing::Values(std::pair<uint16_t, uint16_t>{16, 8},
                                           std::pair<uint16_t, uint16_t>{8, 16},
                                           std::pair<uint16_t, uint16_t>{16, 4},
                                           std::pair<uint16_t, uint16_t>{3, 8}));

TEST_F(Copy, SameRecordingTwiceAndAMissingCompanionFile)
{
    DiskImage source(src, testimg::default_spec());
    Recording r = recording(9, 10001);
    add_files(source, r, false);
    source.write_record_list({entry_for(9)}, LENGTH);
    DiskImage destination(dst, testimg::default_spec());

    for (unsigned to : {2u, 3u}) {
        auto result = run({"-y", "-g", "1"}, "", {src, dst});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, (to == 2 ? NO_LIST : "") +
                                  "Copying av file...\nFile 9.elu does not exist\n"
                                  "Copying epg file...\n" + (to == 2 ? FIRST_SAVE : ""));
        DiskImage after(dst);
        EXPECT_TRUE(after.find(0, std::to_string(to) + ".av"));
        EXPECT_FALSE(after.find(0, std::to_string(to) + ".elu"));
        EXPECT_EQ(after.read_file(1, std::to_string(to) + ".epg"), r.epg);
    }
    auto entries = DiskImage(dst).record_list_entries(LENGTH);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(file_number(entries[0]), 2u);
    EXPECT_EQ(file_number(entries[1]), 3u);
}

TEST_F(Copy, MissingRecordingsArePassedOverAndAMissingStreamStops)
{
    DiskImage source(src, testimg::default_spec());
    add_files(source, recording(5, 5000));
    source.write_record_list({entry_for(5), entry_for(6)}, LENGTH); // 6.av is missing
    DiskImage destination(dst, testimg::default_spec());
    expect_damaged(src);

    auto result = run({"-y", "-g", "4,1"}, "", {src, dst});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, NO_LIST + "Recording 4 does not exist\n" + COPY_MESSAGES + FIRST_SAVE);
    EXPECT_EQ(DiskImage(dst).record_list_entries(LENGTH).size(), 1u);

    Bytes before = read_host_file(dst);
    result = run({"-y", "-g", "2"}, "", {src, dst});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "File 6.av does not exist\n");
    expect_unchanged(dst, before);
}

TEST_F(Copy, IncompatibleRecordLengthsAreRefusedBeforeTheQuestion)
{
    DiskImage source(src, testimg::default_spec());
    add_files(source, recording(5, 5000));
    source.write_record_list({entry_for(5)}, LENGTH);
    ImageSpec spec = testimg::default_spec();
    spec.partitions[1].format_code = 0xE000000F;
    DiskImage destination(dst, spec);
    destination.add_file(0, "2.av", pattern_bytes(100, 2));
    destination.write_record_list({make_entry(316, 2, 0, 60, "Long")}, 316);
    add_image(dst, 316);
    Bytes before = read_host_file(dst);

    auto result = run({"-g", "1"}, "y\n", {src, dst});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error - incompatible disk formats\n");
    EXPECT_EQ(result.out, "");
    expect_unchanged(dst, before);
}

TEST_F(Copy, QuestionPerRecordingWithGetOnceWithBackup)
{
    DiskImage source(src, testimg::default_spec());
    for (unsigned n : {5u, 6u, 7u})
        add_files(source, recording(n, 3000 + n));
    source.write_record_list({entry_for(5), entry_for(6), entry_for(7)}, LENGTH);
    DiskImage destination(dst, testimg::default_spec());

    auto result = run({"-b"}, "y\n", {src, dst});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, NO_LIST + WARNING + COPY_MESSAGES + FIRST_SAVE + COPY_MESSAGES + COPY_MESSAGES);
    DiskImage after(dst);
    for (unsigned i = 0; i < 3; ++i)
        expect_copied(source, 5 + i, after, 2 + i);

    DiskImage again(dst, testimg::default_spec());
    result = run({"-g", "1-3"}, "y\nn\n", {src, dst});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, NO_LIST + WARNING + COPY_MESSAGES + FIRST_SAVE + WARNING + "Aborting...\n");
    auto entries = DiskImage(dst).record_list_entries(LENGTH);
    ASSERT_EQ(entries.size(), 1u); // the first copy is complete and kept
}

TEST_F(Copy, BackupPositionsAfterAnEntryWithoutNumber)
{
    DiskImage source(src, testimg::default_spec());
    add_files(source, recording(5, 3000));
    add_files(source, recording(6, 3000));
    source.write_record_list({entry_for(5), entry_for(0), entry_for(6)}, LENGTH);
    DiskImage destination(dst, testimg::default_spec());

    auto result = run({"-y", "-b"}, "", {src, dst});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, NO_LIST + COPY_MESSAGES + FIRST_SAVE +
                              "Recording 2 does not exist\nRecording 3 does not exist\n");
    EXPECT_EQ(DiskImage(dst).record_list_entries(LENGTH).size(), 1u);

    // With one disk the same positions are looked up as files to get.
    result = run({"-y", "-b"}, "", {src});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, COPY_MESSAGES + "Copying hre file...\nFile not found\nFile not found\n");
}

// Refusals that leave the destination exactly as it was.
TEST_F(Copy, DestinationThatCannotTakeTheRecordingIsNotTouched)
{
    DiskImage source(src, spec_with(8, 1024));
    add_files(source, recording(5, 200 * 4096));
    source.write_record_list({entry_for(5)}, LENGTH);

    DiskImage taken(dst, testimg::default_spec());
    taken.add_file(0, "2.elu", pattern_bytes(10, 1)); // left behind without 2.av
    Bytes before = read_host_file(dst);
    auto result = run({"-y", "-g", "1"}, "", {src, dst});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, NO_LIST + "File \"2.elu\" already exists ...aborting\n");
    expect_unchanged(dst, before);

    DiskImage small(dst, spec_with(8, 200)); // room for the stream, not for its companion
    before = read_host_file(dst);
    result = run({"-y", "-g", "1"}, "", {src, dst});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, NO_LIST + "Insufficient space\n");
    expect_unchanged(dst, before);
}

TEST_F(Copy, NoFreeNumberAndRecordingZero)
{
    DiskImage source(src, testimg::default_spec());
    add_files(source, recording(5, 3000));
    source.write_record_list({entry_for(5)}, LENGTH);
    DiskImage destination(dst, testimg::default_spec());
    Bytes before = read_host_file(dst);

    HumaxDisk *from = testimg::open_disk(src);
    HumaxDisk *to = testimg::open_disk(dst, true);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(cmd_copy_recording(from, to, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Recording 0 does not exist\n");

    // A directory can hold fewer names than there are numbers, so all numbers can only
    // be taken in memory.
    for (unsigned n = 2; n <= 2047; ++n)
        dirent_set_name(dir_new_entry(&to->partitions[0]), (std::to_string(n) + ".av").c_str());
    run_options.ask = 0;
    EXPECT_EXIT(cmd_copy_recording(from, to, 1), testing::ExitedWithCode(1),
                "No free recording number on the destination disk");
    expect_unchanged(dst, before);
    disk_close(to);
    disk_close(from);
}

} // namespace
