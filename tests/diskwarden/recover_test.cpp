// Recovery mode end to end: recordings are the ".av" files of partition 0 in directory
// order, found without a record list, also on badly damaged disks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "diskwarden/recover.h"
#include "common/run_options.h"
#include "disk_opening.h"
#include "disk_fixture.h"

namespace {

using namespace testimg;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

constexpr uint32_t L = 4096;                  // cluster length of the default image
constexpr uint32_t BUFFER_ATTRIBUTES = 0x1004; // bit 0x4 marks a time-shift buffer
const std::string RULE = std::string(80, '=') + "\n";
const std::string SWAP_QUESTION = "WARNING swapping main and backup recording lists should only be "
                                  "done if the main list is corrupt - do you wish to continue? "
                                  "[no]: ";

const Bytes STREAM = pattern_bytes(3 * L + 123, 5);
const Bytes ELU = pattern_bytes(700, 6);
const Bytes OTHER_STREAM = pattern_bytes(L, 7);
const Bytes LAST_STREAM = pattern_bytes(2 * L, 8);
const Bytes LAST_ELU = pattern_bytes(40, 9);
const Bytes EPG = make_epg({{1000, 1800, "Alpha", "First synopsis."},
                            {2800, 600, "Beta", "Second synopsis."}});
const Bytes LAST_EPG = make_epg({{5000, 60, "Gamma", "Third."}});

// Damage may end a run with status 1, never with a signal or a sanitizer report.
void expect_clean_end(const RunResult &r)
{
    EXPECT_TRUE(r.status == 0 || r.status == 1) << "status " << r.status << "\n" << r.err;
    EXPECT_THAT(r.err, Not(HasSubstr("Sanitizer")));
    EXPECT_THAT(r.err, Not(HasSubstr("runtime error")));
    EXPECT_THAT(r.err, Not(HasSubstr("killed after")));
}

class Recovery : public DiskFixture {
  protected:
    // Partition 0 in slot order: 0.av and 1.av (buffers), 5.av, 5.elu, a second
    // extension, a name without dot, an upper-case extension, 6.av, 12.av, 12.elu.
    // Recordings: 1 = 0.av, 2 = 1.av, 3 = 5.av, 4 = 6.av, 5 = 12.av.
    DiskImage build(const ImageSpec &spec = default_spec())
    {
        DiskImage image(path, spec);
        image.add_file(0, "0.av", pattern_bytes(L, 1), BUFFER_ATTRIBUTES);
        image.add_file(0, "1.av", pattern_bytes(10, 2), BUFFER_ATTRIBUTES);
        image.add_file(0, "5.av", STREAM, 0x1000, Placement::Fragmented);
        image.add_file(0, "5.elu", ELU);
        image.add_file(0, "5.av.old", pattern_bytes(20, 3));
        image.add_file(0, "README", pattern_bytes(20, 4));
        image.add_file(0, "7.AV", pattern_bytes(20, 4));
        image.add_file(0, "6.av", OTHER_STREAM, 0x1002);
        image.add_file(0, "12.av", LAST_STREAM, 0x1000, Placement::Reversed);
        image.add_file(0, "12.elu", LAST_ELU);
        image.add_file(1, "5.epg", EPG);
        image.add_file(1, "12.epg", LAST_EPG);
        return image;
    }
};

TEST_F(Recovery, ListingCountsOnlyAvFilesWithBuffersMarked)
{
    build();
    RunResult r = run({"-r", "-n", "-l"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "  1: ***Buffer***\n"
                     "  2: ***Buffer***\n"
                     "  3: ***Info disabled***\n"
                     "  4: ***Info disabled***\n"
                     "  5: ***Info disabled***\n");
    EXPECT_EQ(r.err, "");

    r = run({"-r", "-n", "-x", "-l"});
    EXPECT_EQ(r.out, "  1 0.av: ***Buffer***\n"
                     "  2 1.av: ***Buffer***\n"
                     "  3 5.av: ***Info disabled***\n"
                     "  4 6.av: ***Info disabled***\n"
                     "  5 12.av: ***Info disabled***\n");
}

TEST_F(Recovery, ListingShowsProgrammeTitles)
{
    build();
    RunResult r = run({"-r", "-l"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "  1: ***Buffer***\n"
                     "  2: ***Buffer***\n"
                     "  3: Alpha : Beta\n"
                     "  4: ***Unknown***\n"
                     "  5: Gamma\n");
}

TEST_F(Recovery, InformationIsShownAndNothingCopied)
{
    build();
    RunResult r = run({"-r", "-i", "3,1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Rec: 3\n"
                     "\nAlpha\nFirst synopsis.\n"
                     "\nBeta\nSecond synopsis.\n" +
                         RULE + "Rec: 1\nNo further information available for this recording\n" +
                         RULE);
    EXPECT_THAT(host_names(), IsEmpty());
}

TEST_F(Recovery, GetCopiesStreamAndCompanionsUnderRecoverNames)
{
    DiskImage image = build();
    Bytes before = read_host_file(path);
    RunResult r = run({"-r", "-g", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Rec: 3\n  3: Alpha : Beta\n");
    EXPECT_EQ(r.err, "Copying av file...\nCopying elu file...\nCopying epg file...\n");
    EXPECT_EQ(host_names(),
              (std::vector<std::string>{"recover_0003.elu", "recover_0003.epg", "recover_0003.ts"}));
    EXPECT_EQ(host_file("recover_0003.ts"), STREAM);
    EXPECT_EQ(host_file("recover_0003.elu"), ELU);
    EXPECT_EQ(host_file("recover_0003.epg"), EPG);
    EXPECT_EQ(read_host_file(path), before); // no header, no list, nothing written
}

TEST_F(Recovery, GetWithoutInformationLeavesOutEpgAndPassesOverMissingCompanions)
{
    build();
    RunResult r = run({"-r", "-n", "-g", "4-5"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Rec: 4\n  4: ***Info disabled***\nRec: 5\n  5: ***Info disabled***\n");
    EXPECT_EQ(r.err, "Copying av file...\nError opening 6.elu\n"
                     "Copying av file...\nCopying elu file...\n");
    EXPECT_EQ(host_names(),
              (std::vector<std::string>{"recover_0004.ts", "recover_0005.elu", "recover_0005.ts"}));
    EXPECT_EQ(host_file("recover_0004.ts"), OTHER_STREAM);
    EXPECT_EQ(host_file("recover_0005.ts"), LAST_STREAM);
    EXPECT_EQ(host_file("recover_0005.elu"), LAST_ELU);
}

TEST_F(Recovery, MissingEpgCompanionIsReported)
{
    build();
    RunResult r = run({"-r", "-g", "4"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Copying av file...\nError opening 6.elu\nError opening 6.epg\n");
}

TEST_F(Recovery, NumberBeyondTheLastRecordingEndsTheRun)
{
    build();
    RunResult r = run({"-r", "-n", "-g", "2,9,3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, EndsWith("Rec: 9\n"));
    EXPECT_THAT(r.err, EndsWith("Recording 9 does not exist\n"));
    EXPECT_EQ(host_names(), (std::vector<std::string>{"recover_0002.ts"}));

    r = run({"-r", "-i", "6"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Rec: 6\n");
    EXPECT_EQ(r.err, "Recording 6 does not exist\n");
}

TEST_F(Recovery, NumberZeroNamesNoRecording)
{
    build();
    RunResult r = run({"-r", "-n", "-g", "1,0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Rec: 1\n  1: ***Buffer***\nRec: 0\n");
    EXPECT_THAT(r.err, EndsWith("Recording 0 does not exist\n"));

    r = run({"-r", "-i", "2,0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, EndsWith("Rec: 0\n"));
}

TEST_F(Recovery, ExistingHostFileIsKeptWhenOverwriteIsRefused)
{
    build();
    write_host_file(host + "/recover_0003.ts", {1, 2, 3});
    RunResult r = run({"-r", "-g", "3"}, "no\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "File \"recover_0003.ts\" already exists, overwrite? [no]: ");
    EXPECT_EQ(host_file("recover_0003.ts"), (Bytes{1, 2, 3}));
}

TEST_F(Recovery, TwoDisksAreRefused)
{
    build();
    RunResult r = run({"-r", "-l", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Not supported in recover mode\n");
}

class RecoverySwap : public Recovery {
  protected:
    Bytes main_list, backup_list;
    void SetUp() override
    {
        Recovery::SetUp();
        DiskImage image = build();
        Bytes a = make_entry(304, 5, 1000, 2800, "Main");
        Bytes b = make_entry(304, 12, 5000, 5060, "Backup");
        image.write_record_list({a}, 304);
        main_list = image.read_file(1, RECORD_LIST_NAME);
        backup_list = main_list;
        std::copy(b.begin() + 5, b.end(), backup_list.begin() + 5);
        image.add_file(1, "_RL_BACKUP_", backup_list);
    }
    void expect_lists(const Bytes &main, const Bytes &backup)
    {
        DiskImage image(path);
        EXPECT_EQ(image.read_file(1, RECORD_LIST_NAME), main);
        EXPECT_EQ(image.read_file(1, "_RL_BACKUP_"), backup);
        EXPECT_FALSE(image.find(1, "_RL_TMP_"));
    }
};

TEST_F(RecoverySwap, RefusalChangesNothing)
{
    RunResult r = run({"-r", "-s", "-l"}, "no\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, SWAP_QUESTION + "Aborting...\n");
    EXPECT_EQ(r.out, "");
    expect_lists(main_list, backup_list);
}

TEST_F(RecoverySwap, TwoSwapsRestoreTheNames)
{
    RunResult r = run({"-r", "-s", "-l", "-g", "3"}, "yes\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, SWAP_QUESTION + "Main and backup recording lists have been swapped\n");
    EXPECT_EQ(r.out, ""); // nothing else runs
    EXPECT_THAT(host_names(), IsEmpty());
    expect_lists(backup_list, main_list);

    r = run({"-r", "-s", "-y"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, SWAP_QUESTION + "yes\nMain and backup recording lists have been swapped\n");
    expect_lists(main_list, backup_list);
}

// Partition 0 at sector 16, where a disk without a usable table keeps it.
class UnknownTable : public Recovery {
  protected:
    void SetUp() override
    {
        Recovery::SetUp();
        expect_damaged();
        ImageSpec spec = default_spec();
        spec.first_start_sector = 16;
        build(spec);
        DiskImage(path).write_bytes(444, {0, 0});
    }
};

TEST_F(UnknownTable, NoInfoModeUsesPartitionZeroAtSector16)
{
    RunResult r = run({"-r", "-n", "-x", "-l"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Unknown partition table\nAV partition size mismatch\n");
    EXPECT_THAT(r.out, StartsWith("  1 0.av: ***Buffer***\n"));
    EXPECT_THAT(r.out, EndsWith("  5 12.av: ***Info disabled***\n"));

    r = run({"-r", "-n", "-g", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(host_file("recover_0003.ts"), STREAM);
    EXPECT_EQ(host_file("recover_0003.elu"), ELU);
}

TEST_F(UnknownTable, IsFatalWithoutNoInfoMode)
{
    for (auto args : {std::vector<std::string>{"-r", "-l"}, std::vector<std::string>{"-l"}}) {
        RunResult r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Unknown partition table\n");
        EXPECT_EQ(r.out, "");
    }
}

// Damaged disks. Each case must end cleanly; no case may crash, hang or write outside a
// buffer (the sanitizer build runs them too).
class DamagedDisk : public Recovery {
  protected:
    DiskImage image{build()};
};

TEST_F(DamagedDisk, GarbagePartitionsOneAndTwoAreNotReadUnderNoInfo)
{
    expect_damaged();
    for (int part = 1; part <= 2; ++part) {
        uint32_t start = image.start_sector(part);
        image.write_bytes(uint64_t{start} * 512, pattern_bytes(300 * 512, 20 + part));
    }
    RunResult r = run({"-r", "-n", "-l"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, EndsWith("  5: ***Info disabled***\n"));
    r = run({"-r", "-n", "-g", "3", "-i", "5"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(host_file("recover_0003.ts"), STREAM);
    EXPECT_THAT(r.out, EndsWith("Rec: 5\nNo further information available for this recording\n" + RULE));

    r = run({"-r", "-l"});
    expect_clean_end(r);
    EXPECT_EQ(r.status, 1);
}

TEST_F(DamagedDisk, NamesTooLongForTheBuffersArePassedOver)
{
    const std::string longest = "1234567890123456"; // 19 characters with ".av"
    image.add_file(0, longest + ".av", pattern_bytes(50, 30));
    image.add_file(0, longest + ".elu", pattern_bytes(60, 31));
    image.add_file(1, longest + ".epg", LAST_EPG);
    image.add_file(0, "12345678901234567.av", pattern_bytes(50, 32)); // 20 characters
    image.add_file(0, std::string(57, '9') + ".av", pattern_bytes(50, 33)); // no terminator
    RunResult r = run({"-r", "-x", "-l"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, EndsWith("  5 12.av: Gamma\n  6 " + longest + ".av: Gamma\n"));

    r = run({"-r", "-g", "6"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(host_file("recover_0006.ts"), pattern_bytes(50, 30));
    EXPECT_EQ(host_file("recover_0006.elu"), pattern_bytes(60, 31));
    EXPECT_EQ(host_file("recover_0006.epg"), LAST_EPG);
    r = run({"-r", "-n", "-g", "7"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Recording 7 does not exist\n");
}

TEST_F(DamagedDisk, LoopingChainIsReadToABoundedLength)
{
    expect_damaged();
    auto info = image.find(0, "5.av");
    ASSERT_TRUE(info);
    image.set_fat_entry(0, info->clusters.back(), info->clusters.front());
    // The entry claims far more than the chain could hold.
    Bytes slot = image.dir_slot(0, info->slot);
    put_le32(slot, 28, 0xFFFFFFF0);
    put_le32(slot, 32, 1);
    image.set_dir_slot(0, info->slot, slot);
    RunResult r = run({"-r", "-n", "-g", "3"});
    expect_clean_end(r);
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.err, HasSubstr("Warning file allocation error - truncating to "));
    Bytes copied = host_file("recover_0003.ts");
    EXPECT_LE(copied.size(), 256u * L);
    ASSERT_GE(copied.size(), STREAM.size());
    EXPECT_TRUE(std::equal(STREAM.begin(), STREAM.end(), copied.begin()));
}

TEST_F(DamagedDisk, FileOutsideThePartitionIsCopiedEmpty)
{
    expect_damaged();
    auto info = image.find(0, "6.av");
    ASSERT_TRUE(info);
    Bytes slot = image.dir_slot(0, info->slot);
    put_le32(slot, 12, image.data_sector(0) + 256 * 8 + 64); // beyond the last cluster
    image.set_dir_slot(0, info->slot, slot);
    info = image.find(0, "12.av");
    slot = image.dir_slot(0, info->slot);
    put_le32(slot, 12, 1); // before the data area
    image.set_dir_slot(0, info->slot, slot);
    RunResult r = run({"-r", "-n", "-g", "4,5"});
    expect_clean_end(r);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(host_file("recover_0004.ts"), Bytes{});
    EXPECT_EQ(host_file("recover_0005.ts"), Bytes{});
}

TEST_F(DamagedDisk, ChainEndingInAFreeClusterStopsThere)
{
    expect_damaged();
    auto info = image.find(0, "12.av");
    image.set_fat_entry(0, info->clusters.back(), FAT_FREE);
    RunResult r = run({"-r", "-n", "-g", "5"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("Missing end of file marker\n"));
    EXPECT_EQ(host_file("recover_0005.ts"), LAST_STREAM);
}

TEST_F(DamagedDisk, TableEntryOutsideThePartitionIsRefusedAtOpening)
{
    expect_damaged();
    auto info = image.find(0, "5.av");
    image.set_fat_entry(0, info->clusters.front(), 256 + 9);
    RunResult r = run({"-r", "-n", "-l"});
    expect_clean_end(r);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, StartsWith("AV partition - error in file allocation table"));
}

TEST_F(DamagedDisk, SlotsOfRandomBytesNamedAsRecordings)
{
    expect_damaged();
    for (int slot = 100; slot < 140; ++slot) {
        Bytes raw = pattern_bytes(128, 40 + slot);
        Bytes name(60, 0);
        std::string text = std::to_string(slot) + (slot % 3 ? ".av" : ".elu");
        std::copy(text.begin(), text.end(), name.begin());
        name = swapped_words(name);
        std::copy(name.begin(), name.end(), raw.begin() + 64);
        image.set_dir_slot(0, slot, raw);
    }
    RunResult r = run({"-r", "-n", "-x", "-l"});
    expect_clean_end(r);
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr(" 139.av: ***"));
    r = run({"-r", "-n", "-y", "-g", "1-31"});
    expect_clean_end(r);
}

// The scan's result names the selected recording.
TEST_F(Recovery, ScanReturnsTheNameOfTheRequestedRecording)
{
    build();
    run_options = RunOptions{};
    run_options.recovery = 1;
    HumaxDisk *disk = testimg::open_disk(path, false, DiskOpenPolicy{true, false});
    ::testing::internal::CaptureStdout();
    const char *third = cmd_recover_scan(disk, 3, INFO_DISABLED);
    EXPECT_STREQ(third, "5.av");
    EXPECT_STREQ(cmd_recover_scan(disk, 5, INFO_DISABLED), "12.av");
    EXPECT_EQ(cmd_recover_scan(disk, 0, INFO_DISABLED), nullptr);
    EXPECT_EQ(cmd_recover_scan(disk, 6, INFO_DISABLED), nullptr);
    EXPECT_EQ(cmd_recover_scan(disk, -1, INFO_DISABLED), nullptr);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, StartsWith("  3: ***Info disabled***\n  5: ***Info disabled***\n  1: "));
    disk_close(disk);
    run_options = RunOptions{};
}

} // namespace
