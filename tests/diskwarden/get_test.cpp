// Getting recordings to the host (-g, -b with one disk, -H) and the listing's free space.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "diskwarden/driver.h"
#include "diskwarden/get.h"
#include "diskwarden/rescue.h"
#include "common/run_options.h"
#include "disk_fixture.h"
#include "disk_opening.h"

namespace {

namespace fs = std::filesystem;
using testimg::Bytes;
using testimg::DiskImage;
using testimg::Placement;
using testimg::RunResult;
using testing::HasSubstr;

using testimg::SUNDAY_2100;
constexpr uint32_t CLUSTER = testimg::FIXTURE_CLUSTER;
const std::string PREFIX("\x10\x69\x37", 3);
const std::string COPY_ALL =
    "Copying av file...\nCopying elu file...\nCopying epg file...\nCopying hre file...\n";

using Recording = testimg::TestRecording;

Bytes text_bytes(const std::string &text) { return Bytes(text.begin(), text.end()); }

class Get : public testimg::DiskFixture {
  protected:
    void SetUp() override
    {
        DiskFixture::SetUp();
        run_options = RunOptions{};
    }

    static Recording full(unsigned n, const std::string &title, size_t av_size = 100000)
    {
        return testimg::full_recording(n, title, av_size);
    }
};

const std::string SOME = "20130526 2100 Some title";

TEST_F(Get, CopiesStreamCompanionInformationAndHeader)
{
    Recording r = full(5, PREFIX + "Some title");
    make_disk({r});
    RunResult result = run({"-g", "1"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "  1: 20130526 2100  1:30:00 Some title - BBC ONE\n");
    EXPECT_EQ(result.err, COPY_ALL);
    EXPECT_EQ(host_names(), (std::vector<std::string>{SOME + ".elu", SOME + ".epg", SOME + ".hre",
                                                      SOME + ".ts"}));
    EXPECT_EQ(host_file(SOME + ".ts"), r.av);
    EXPECT_EQ(host_file(SOME + ".elu"), r.elu);
    EXPECT_EQ(host_file(SOME + ".epg"), r.epg);
    Bytes hre = host_file(SOME + ".hre");
    EXPECT_EQ(hre, stored_entry(0));
    EXPECT_EQ(Bytes(hre.begin(), hre.begin() + 5), (Bytes{1, 0, 0, 1, 1}));
}

TEST_F(Get, FragmentedAndLargeRecordingsArriveByteForByte)
{
    // Sizes across transfer-buffer and cluster boundaries, some not whole 4-byte groups.
    std::vector<Recording> recordings = {
        {11, "Contiguous", testimg::pattern_bytes(9 * 1024 * 1024 + 1234, 1)},
        {12, "Fragmented", testimg::pattern_bytes(2 * 1024 * 1024 + 3, 2), {}, {}, Placement::Fragmented},
        {13, "Reversed", testimg::pattern_bytes(40 * CLUSTER, 3), {}, {}, Placement::Reversed},
        {14, "Tiny", testimg::pattern_bytes(5, 4)},
        {15, "Empty", {}},
    };
    make_disk(recordings);
    // Runs of different lengths and single clusters, out of order, in the free middle of
    // the partition (the others take its start and its end).
    Bytes mixed = testimg::pattern_bytes(150 * CLUSTER - 1, 5);
    std::vector<uint32_t> clusters;
    for (uint32_t c = 700; c < 720; ++c)
        clusters.push_back(c);
    for (uint32_t c = 600; c < 700; ++c)
        clusters.push_back(c);
    clusters.push_back(799);
    for (uint32_t c = 798; c >= 790; --c)
        clusters.push_back(c);
    for (uint32_t c = 500; clusters.size() < 150; ++c)
        clusters.push_back(c);
    DiskImage(path).add_file_at(0, "15.av", mixed, clusters, 0x1002);
    recordings[4].av = mixed;

    RunResult result = run({"-g", "1-5"});
    ASSERT_EQ(result.status, 0) << result.err;
    const char *days[] = {"20130526", "20130527", "20130528", "20130529", "20130530"};
    for (size_t i = 0; i < recordings.size(); ++i) {
        std::string name = std::string(days[i]) + " 2100 " + recordings[i].title + ".ts";
        Bytes copied = host_file(name);
        EXPECT_EQ(copied.size(), recordings[i].av.size()) << name;
        EXPECT_TRUE(copied == recordings[i].av) << name;
    }
}

TEST_F(Get, ClustersLargerThanTheTransferBuffer)
{
    testimg::ImageSpec big = testimg::default_spec();
    big.partitions[0].cluster_sectors = 2048; // 1 MiB
    big.partitions[0].cluster_count = 16;
    DiskImage image(path, big);
    Bytes av = testimg::pattern_bytes(5 * 1024 * 1024 + 6, 7);
    image.add_file(0, "5.av", av, 0x1002, Placement::Fragmented);
    image.write_record_list({testimg::make_entry(304, 5, SUNDAY_2100, SUNDAY_2100, "Big")}, 304);
    RunResult result = run({"-g", "1"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(host_file("20130526 2100 Big.ts") == av);
}

TEST_F(Get, AnExistingHostFileIsReplacedOnlyAfterYes)
{
    Recording r = full(5, PREFIX + "Some title");
    make_disk({r});
    std::string question = "File \"" + SOME + ".ts\" already exists, overwrite? [no]: ";
    Bytes old = text_bytes("old contents");
    for (const char *answer : {"", "n\n", "no\n", "yes please\n"}) {
        testimg::write_host_file(host + "/" + SOME + ".ts", old);
        RunResult refused = run({"-g", "1"}, answer);
        EXPECT_EQ(refused.status, 1) << answer;
        EXPECT_EQ(refused.err, question) << answer;
        EXPECT_EQ(host_file(SOME + ".ts"), old);
        EXPECT_EQ(host_names().size(), 1u);
    }

    RunResult yes = run({"-g", "1"}, "Y\n");
    EXPECT_EQ(yes.status, 0) << yes.err;
    EXPECT_EQ(yes.err, question + COPY_ALL);
    EXPECT_EQ(host_file(SOME + ".ts"), r.av);

    // Under -y every question is answered at once, and the answer is shown.
    testimg::write_host_file(host + "/" + SOME + ".epg", old);
    RunResult all = run({"-y", "-g", "1"});
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(all.err, question + "yes\nCopying av file...\n"
                       "File \"" + SOME + ".elu\" already exists, overwrite? [no]: yes\nCopying elu file...\n"
                       "File \"" + SOME + ".epg\" already exists, overwrite? [no]: yes\nCopying epg file...\n"
                       "Copying hre file...\n");
    EXPECT_EQ(host_file(SOME + ".epg"), r.epg);
}

TEST_F(Get, BackupSkipsWholeCopiesAndWritesAMissingHeader)
{
    Recording a = full(5, "Alpha");
    Recording b = full(6, "Bravo", 3 * CLUSTER);
    make_disk({a, b});
    std::string alpha = "20130526 2100 Alpha";
    testimg::write_host_file(host + "/" + alpha + ".ts", a.av);
    testimg::write_host_file(host + "/" + alpha + ".elu", a.elu);
    testimg::write_host_file(host + "/" + alpha + ".epg", a.epg);

    RunResult result = run({"-b"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "  1: 20130526 2100  1:30:00 Alpha - BBC ONE\n"
                          "  2: 20130527 2100  1:30:00 Bravo - BBC ONE\n");
    EXPECT_EQ(result.err, "Skipping file \"" + alpha + ".ts\", it already exists\n"
                          "Skipping file \"" + alpha + ".elu\", it already exists\n"
                          "Skipping file \"" + alpha + ".epg\", it already exists\n"
                          "Copying hre file...\n" + COPY_ALL);
    EXPECT_EQ(host_file(alpha + ".hre"), stored_entry(0));
    EXPECT_EQ(host_file("20130527 2100 Bravo.ts"), b.av);
    EXPECT_EQ(host_file("20130527 2100 Bravo.hre"), stored_entry(1));
    // Run again, every piece is skipped, the headers too.
    RunResult again = run({"-b"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_THAT(again.err, testing::Not(HasSubstr("Copying")));
    EXPECT_THAT(again.err, HasSubstr("Skipping file \"" + alpha + ".hre\", it already exists\n"));
}

TEST_F(Get, BackupPassesPositionsThatHaveNoNumber)
{
    Bytes unusable = testimg::make_entry(304, 0, SUNDAY_2100, SUNDAY_2100, "Zero");
    Bytes after = testimg::make_entry(304, 6, SUNDAY_2100, SUNDAY_2100, "After");
    make_disk({full(5, "Alpha")}, {unusable, after});
    RunResult result = run({"-b"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, COPY_ALL + "File not found\nFile not found\n");
    EXPECT_EQ(host_names().size(), 4u);
}

TEST_F(Get, AMissingStreamEndsTheRun)
{
    Recording gone = full(5, "Gone");
    gone.av.clear();
    make_disk({gone, full(6, "Here")});
    record_length = 0; // the list names a missing stream on purpose
    RunResult result = run({"-g", "2,1,2"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "  2: 20130527 2100  1:30:00 Here - BBC ONE\n"
                          "{  1}: 20130526 2100  1:30:00 Gone - BBC ONE\n");
    EXPECT_EQ(result.err, COPY_ALL + "Error opening 5.av\n");
    for (const std::string &name : host_names())
        EXPECT_THAT(name, HasSubstr("Here"));
}

TEST_F(Get, MissingCompanionsArePassedOver)
{
    make_disk({{5, "Bare", testimg::pattern_bytes(70000, 9)}});
    RunResult result = run({"-g", "1"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "Copying av file...\nCopying hre file...\n");
    EXPECT_EQ(host_names(), (std::vector<std::string>{"20130526 2100 Bare.hre", "20130526 2100 Bare.ts"}));
}

TEST_F(Get, NumbersThatNameNoRecording)
{
    make_disk({full(5, "Alpha")});
    RunResult result = run({"-g", "2,,1,0"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "File not found\nFile not found\n" + COPY_ALL);
    EXPECT_EQ(result.out, "  1: 20130526 2100  1:30:00 Alpha - BBC ONE\n");

    RunResult header = run({"-H", "3,0"});
    EXPECT_EQ(header.status, 0);
    EXPECT_EQ(header.err, "File not found\nFile not found\n");
    EXPECT_EQ(header.out, "");
}

TEST_F(Get, HeaderAloneReplacesWithoutAsking)
{
    make_disk({full(5, "Alpha"), full(6, PREFIX + "Bra/vo")});
    std::string bravo = "20130527 2100 Bra_vo.hre";
    testimg::write_host_file(host + "/" + bravo, text_bytes("old header"));
    RunResult result = run({"-H", "2"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "  2: 20130527 2100  1:30:00 Bra/vo - BBC ONE\n");
    EXPECT_EQ(result.err, "Copying hre file...\n");
    EXPECT_EQ(host_names(), std::vector<std::string>{bravo});
    EXPECT_EQ(host_file(bravo), stored_entry(1));
}

TEST_F(Get, AHostNameTakenByADirectoryEndsTheRun)
{
    make_disk({full(5, "Alpha", 5 * CLUSTER + 17)});
    std::string ts = "20130526 2100 Alpha.ts";
    fs::create_directory(host + "/" + ts);
    RunResult directory = run({"-y", "-g", "1"});
    EXPECT_EQ(directory.status, 1);
    EXPECT_THAT(directory.err, testing::EndsWith("Copying av file...\n" + ts + ": Is a directory\n"));
}

// ---- in process ----

class GetInProcess : public Get {
  protected:
    HumaxDisk *disk = nullptr;
    void TearDown() override { disk_close(disk); }
};

TEST_F(GetInProcess, CopyOfOneFileAndItsResults)
{
    Recording r = full(5, "Alpha", 2 * CLUSTER + 2);
    make_disk({r});
    disk = testimg::open_disk(path);
    std::string target = host + "/copy.ts";

    testing::internal::CaptureStderr();
    EXPECT_EQ(cmd_get_file(disk, PARTITION_AV, "9.av", target.c_str()), 1);
    EXPECT_EQ(cmd_get_file(disk, PARTITION_EPG, "5.av", target.c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(fs::exists(target));

    testing::internal::CaptureStderr();
    EXPECT_EQ(cmd_get_file(disk, PARTITION_AV, "5.av", target.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Copying av file...\n");
    EXPECT_EQ(testimg::read_host_file(target), r.av);

    run_options.backup = 1;
    testimg::write_host_file(target, r.elu);
    testing::internal::CaptureStderr();
    EXPECT_EQ(cmd_get_file(disk, PARTITION_AV, "5.elu", target.c_str()), GET_FILE_SKIPPED);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Skipping file \"" + target + "\", it already exists\n");
    testimg::write_host_file(target, text_bytes("x"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(cmd_get_file(disk, PARTITION_AV, "5.elu", target.c_str()), GET_FILE_KEPT);
    EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::StartsWith("Keeping file \"" + target + "\""));
    EXPECT_EQ(testimg::read_host_file(target), text_bytes("x"));

    EXPECT_EXIT(cmd_get_file(disk, PARTITION_EPG, "5.epg", nullptr), testing::ExitedWithCode(1),
                "^Copying epg file...\nOutput file not defined... aborting\n$");
}

TEST_F(GetInProcess, ResultsOfTheRecordingCommands)
{
    make_disk({full(5, "Alpha", 1000)});
    disk = testimg::open_disk(path);
    std::string previous = fs::current_path();
    fs::current_path(host);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(cmd_get_recording(disk, 0), 0);
    EXPECT_EQ(cmd_get_recording(disk, 2), 0);
    EXPECT_EQ(cmd_get_header(disk, 0), 0);
    EXPECT_EQ(cmd_get_header(disk, 1), 1);
    EXPECT_EQ(cmd_get_recording(disk, 1), 1);
    std::string err = testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    fs::current_path(previous);
    EXPECT_EQ(err, "File not found\nFile not found\nFile not found\nCopying hre file...\n" + COPY_ALL);
    EXPECT_EQ(host_names().size(), 4u);
}

// ---- free space after the listing ----

std::string free_space(uint32_t cluster_sectors, uint32_t free_clusters)
{
    HumaxDisk disk;
    disk.partitions[PARTITION_AV].cluster_sectors = cluster_sectors;
    disk.partitions[PARTITION_AV].free_clusters = free_clusters;
    testing::internal::CaptureStdout();
    cmd_show_free_space(&disk);
    return testing::internal::GetCapturedStdout();
}

TEST(FreeSpace, DecimalUnitsWithOneTruncatedDecimal)
{
    // Free space is a whole number of sectors: these are the counts nearest each boundary.
    EXPECT_EQ(free_space(1, 0), "\nFree Space: 0.0 B\n");
    EXPECT_EQ(free_space(1, 1), "\nFree Space: 512.0 B\n");
    EXPECT_EQ(free_space(1, 2), "\nFree Space: 1.0 kB\n");        // 1024
    EXPECT_EQ(free_space(1, 1953), "\nFree Space: 999.9 kB\n");   // 999936
    EXPECT_EQ(free_space(1, 1954), "\nFree Space: 1.0 MB\n");     // 1000448
    EXPECT_EQ(free_space(1, 2051), "\nFree Space: 1.0 MB\n");     // 1050112
    EXPECT_EQ(free_space(1, 2411265), "\nFree Space: 1.2 GB\n");  // 1234567680
    EXPECT_EQ(free_space(64, 0xFFFFFFFF), "\nFree Space: 140.7 TB\n");
    EXPECT_EQ(free_space(0xFFFF, 0xFFFFFFFF), "\nFree Space: 144.1 PB\n");
}

TEST_F(Get, ListingEndsWithTheFreeSpace)
{
    make_disk({full(5, PREFIX + "Some title", 3 * CLUSTER), full(6, "Other", 100)});
    uint32_t free_clusters = DiskImage(path).fat_word0(0);
    ASSERT_EQ(free_clusters, 1024u - 6u);
    RunResult result = run({"-l"});
    EXPECT_EQ(result.status, 0) << result.err;
    // (1024 - 6) x 32768 bytes = 33357824
    EXPECT_EQ(result.out, "  1: Sun 26/05/13 21:00  1:30:00 Some title - BBC ONE\n"
                          "  2: Mon 27/05/13 21:00  1:30:00 Other - BBC ONE\n"
                          "\nFree Space: 33.3 MB\n");
}

// A failing drive: one sector inside recording 2 cannot be read. Everything else comes
// out whole, the damaged copy keeps its name with its map, and a later run completes it.
TEST_F(Get, AnUnreadableSectorCostsOnlyItselfAndALaterRunCompletesTheCopy)
{
    Recording one = full(5, "One", 5 * CLUSTER + 7);
    Recording two = testimg::broadcast_recording(6, "Two", 40, SUNDAY_2100 + 86400);
    Recording three = full(7, "Three", 4 * CLUSTER);
    make_disk({one, two, three});
    const uint64_t hole = 20 * CLUSTER + 1024; // some 14 seconds in
    const uint64_t sector = file_sector(0, "6.av", hole);
    fail_sectors(std::to_string(sector));
    const std::string first = host_stem(0, "One"), second = host_stem(1, "Two"),
                      third = host_stem(2, "Three");
    auto lost = lost_areas(0, "6.av", two.av.size(), {{sector * 512, sector * 512 + 512}});
    Bytes damaged = with_zeros(two.av, lost);
    std::string map = map_blocks(two.av.size(), lost);
    const std::string bytes = std::to_string(lost[0].second - lost[0].first);

    for (const std::vector<std::string> &args : {std::vector<std::string>{"-g", "1-3"}, {"-b"}}) {
        for (const std::string &name : host_names())
            fs::remove(host + "/" + name);
        RunResult result = run(args);
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_EQ(host_file(first + ".ts"), one.av);
        EXPECT_EQ(host_file(third + ".ts"), three.av);
        EXPECT_EQ(host_file(second + ".ts"), damaged);
        Bytes map_file = host_file(second + ".ts.map");
        EXPECT_THAT(std::string(map_file.begin(), map_file.end()), HasSubstr(map));
        EXPECT_THAT(result.err, testing::ContainsRegex("\n  2 \"" + second + ".ts\": " + bytes +
                                                       " bytes unreadable, at 0:1[0-9]\n"));
        EXPECT_EQ(host_names().size(), 13u); // 3 x 4 pieces and the map
        EXPECT_LE(fault_reads().second, 2u); // the transfer that failed, and once alone
    }
    // Still unreadable: -b reads only the hole again and keeps the map.
    RunResult again = run({"-b"});
    EXPECT_EQ(again.status, 1);
    EXPECT_THAT(again.err, HasSubstr("Reading the missing parts of \"" + second + ".ts\" again...\n"));
    EXPECT_THAT(again.err, testing::Not(HasSubstr("Copying av")));
    EXPECT_TRUE(fs::exists(host + "/" + second + ".ts.map"));
    // The sector reads again: the copy is completed in place and its map removed.
    fail_sectors("");
    RunResult healed = run({"-b"});
    EXPECT_EQ(healed.status, 0) << healed.err;
    EXPECT_EQ(host_file(second + ".ts"), two.av);
    EXPECT_FALSE(fs::exists(host + "/" + second + ".ts.map"));
    // Recovery mode goes on past the sector too.
    fail_sectors(std::to_string(sector));
    RunResult recovered = run({"-r", "-g", "1-3"});
    EXPECT_EQ(recovered.status, 1) << recovered.err;
    EXPECT_EQ(host_file("recover_0002.ts"), damaged);
    EXPECT_THAT(recovered.err, HasSubstr("\n  2 \"recover_0002.ts\": " + bytes + " bytes unreadable, at 0:1"));
    EXPECT_TRUE(fs::exists(host + "/recover_0002.ts.map"));
    EXPECT_EQ(host_file("recover_0003.ts"), three.av);
}

// From a partial rescue image: what its ddrescue map does not mark finished, and what
// lies past the end of an image shorter than its partitions, count as unreadable.
TEST_F(Get, APartialRescueImageCopiesOnlyWhatWasRescued)
{
    Recording one = full(5, "One", 6 * CLUSTER);
    make_disk({one});
    const uint64_t hole = file_sector(0, "5.av", 2 * CLUSTER + 512) * 512;
    const uint64_t image_size = fs::file_size(path);
    char map[300];
    snprintf(map, sizeof map, "# Mapfile\n0x0 +\n0x0 0x%llx +\n0x%llx 0x400 *\n0x%llx 0x%llx +\n",
             static_cast<unsigned long long>(hole), static_cast<unsigned long long>(hole),
             static_cast<unsigned long long>(hole + 1024),
             static_cast<unsigned long long>(image_size - hole - 1024));
    testimg::write_host_file(dir.file("rescue.map"), Bytes(map, map + strlen(map)));
    RunResult result = run({"-g", "1", "--bad-map", dir.file("rescue.map")});
    EXPECT_EQ(result.status, 1) << result.err;
    auto lost = lost_areas(0, "5.av", one.av.size(), {{hole, hole + 1024}});
    EXPECT_EQ(host_file(SOME.substr(0, 14) + "One.ts"), with_zeros(one.av, lost));
    EXPECT_THAT(result.err, HasSubstr(": " + std::to_string(lost[0].second - lost[0].first) +
                                      " bytes unreadable, at byte " + std::to_string(lost[0].first) + "\n"));
    EXPECT_THAT(run({"-l", "--bad-map", dir.file("rescue.map")}).err,
                HasSubstr("--bad-map works only with --check, --repair, -g or -b\n"));

    // The image ends inside the recording's last cluster (partition 0 alone is left).
    const uint64_t end = file_sector(0, "5.av", 5 * CLUSTER + 4096) * 512;
    expect_damaged();
    fs::resize_file(path, end);
    result = run({"-r", "-n", "-g", "1"});
    EXPECT_EQ(result.status, 1) << result.err;
    lost = lost_areas(0, "5.av", one.av.size(), {{end, UINT64_MAX}});
    EXPECT_EQ(host_file("recover_0001.ts"), with_zeros(one.av, lost));
    EXPECT_THAT(result.err, HasSubstr(": " + std::to_string(lost[0].second - lost[0].first) + " bytes unreadable"));
}

// An unreadable sector in a structure: the message names it and its sectors, nothing is
// written; --check reports it (status 8) and goes on with the other partitions.
TEST_F(Get, AnUnreadableDirectoryIsNamedWithItsSectors)
{
    make_disk({full(5, "One")});
    testimg::PartitionGeometry g = DiskImage(path).geometry(0);
    fail_sectors(std::to_string(g.dir_sector + 3));
    RunResult result = run({"-g", "1"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Directory of the AV partition (sectors " + std::to_string(g.dir_sector) + "-" +
                              std::to_string(g.dir_sector + g.dir_sectors - 1) + "): Input/output error\n");
    EXPECT_TRUE(host_names().empty());
    RunResult checked = run({"--check"});
    EXPECT_EQ(checked.status & 8, 8) << checked.out;
}

// An unreadable record list or programme information: the message names the sectors
// whose read failed (for ddrescue), and --check says the list cannot be read rather than
// blaming its size; a sector after the list's end, in its last cluster, is none of the
// list's. Recovery mode passes over one unreadable .epg, and when the information
// partition stops it, points to -n, which reads the recordings without it.
TEST_F(Get, UnreadableInformationNamesItsSectorsAndRecoveryTheWayPast)
{
    Recording two = full(6, "Two");
    make_disk({full(5, "One"), two, full(7, "Three")}); // a list of 917 bytes
    const uint64_t list = file_sector(1, "_RECORD_LIST_", 0);
    fail_sectors(std::to_string(list + 1));
    RunResult result = run({"-l"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "_RECORD_LIST_: Input/output error\n_RECORD_LIST_: reading sectors " + std::to_string(list) +
                              "-" + std::to_string(list + 1) + " of the disk (bytes " + std::to_string(list * 512) +
                              " to " + std::to_string(list * 512 + 1023) + ") failed\n");
    RunResult checked = run({"--check"});
    EXPECT_EQ(checked.status, 12) << checked.out;
    EXPECT_THAT(checked.out, HasSubstr("_RECORD_LIST_ cannot be read whole: the drive fails after 0 of its 917 bytes"));
    EXPECT_THAT(checked.out, testing::Not(HasSubstr("not whole"))); // not blamed on its size
    const char *direct = getenv("DISKWARDEN_DIRECT");
    fail_sectors(std::to_string(list + 5));
    if (direct == nullptr || std::string(direct) != "1") { // else the drive's 4 KiB sector holds both
        EXPECT_EQ(run({"-l"}).status, 0);
    }

    // One unreadable .epg is said and marked in its line; the listing goes on, and the
    // recording is still copied (its .epg with zeros and a map).
    fail_sectors(std::to_string(file_sector(1, "6.epg", 0)));
    result = run({"-r", "-l"});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, testing::ContainsRegex("6.epg: reading sectors? " + std::to_string(file_sector(1, "6.epg", 0)) +
                                                   "[-0-9]* of the disk"));
    EXPECT_THAT(result.out, HasSubstr("  2: ***Info unreadable***\n  3:"));
    result = run({"-r", "-g", "2"});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(host_file("recover_0002.ts"), two.av);
    EXPECT_EQ(host_file("recover_0002.elu"), two.elu);
    EXPECT_THAT(host_names(), testing::Contains("recover_0002.epg.map"));
    for (const std::string &name : host_names())
        fs::remove(host + "/" + name);
    const std::string past = "Recovery mode without information (-r -n) can still read the recordings";

    testimg::PartitionGeometry g = DiskImage(path).geometry(1);
    fail_sectors(std::to_string(g.dir_sector));
    result = run({"-r", "-g", "2"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Directory of the EPG partition (sectors " + std::to_string(g.dir_sector) + "-" +
                              std::to_string(g.dir_sector + g.dir_sectors - 1) + "): Input/output error\n" + past +
                              ": it reads the recordings partition alone\n");
    EXPECT_TRUE(host_names().empty());
    result = run({"-r", "-n", "-g", "2"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(host_file("recover_0002.ts"), two.av);
}

// Where a hole falls in the programme: from the first clock reference of the stream to
// the last one before the hole, on the first PID that carries them, across the clock's
// wrap; nothing without references.
TEST_F(Get, AHolesProgrammeTimeComesFromTheClockReferences)
{
    auto packets = [](std::vector<std::pair<unsigned, uint64_t>> clocks) {
        std::vector<uint8_t> bytes;
        for (auto [pid, base] : clocks) {
            uint8_t p[188] = {0x47, static_cast<uint8_t>(pid >> 8), static_cast<uint8_t>(pid), 0x20, 183, 0x10};
            p[6] = static_cast<uint8_t>(base >> 25);
            p[7] = static_cast<uint8_t>(base >> 17);
            p[8] = static_cast<uint8_t>(base >> 9);
            p[9] = static_cast<uint8_t>(base >> 1);
            p[10] = static_cast<uint8_t>((base & 1) << 7);
            bytes.insert(bytes.end(), p, p + 188);
        }
        return bytes;
    };
    const uint64_t second = 90000, wrap = uint64_t{1} << 33;
    auto start = packets({{0x100, 10 * second}, {0x100, 11 * second}, {0x200, 0}});
    EXPECT_EQ(rescue_programme_time(start, packets({{0x100, 93 * second}, {0x200, 5}, {0x100, 94 * second}})), "1:24");
    auto late = packets({{0x100, wrap - 5 * second}, {0x100, wrap - 4 * second}, {0x100, wrap - 3 * second}});
    EXPECT_EQ(rescue_programme_time(late, packets({{0x100, 3600 * second}, {0x100, 3601 * second}, {0x100, 3602 * second}})),
              "60:07");
    EXPECT_EQ(rescue_programme_time(start, std::vector<uint8_t>(3 * 188, 0xFF)), "");
}

} // namespace
