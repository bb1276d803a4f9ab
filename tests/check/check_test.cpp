// --check and --repair beyond the catalogue's outputs: exit statuses of a wrong command
// line, a disk that cannot be opened, read or locked; a declined repair; the question and
// a host that cannot take what the repair would free; the saved contents; and a repair cut
// at every write of the disk, which a second repair finishes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>

#include "corruptions.h"
#include "disk_fixture.h"

namespace {

namespace fs = std::filesystem;
using testimg::Bytes;
using testimg::RunResult;
using testing::HasSubstr;
using testing::Not;

class Checker : public testimg::DiskFixture {
  protected:
    void SetUp() override
    {
        DiskFixture::SetUp();
        expect_damaged(); // the images are damaged on purpose; checked explicitly
        testimg::build_catalogue_disk(path);
    }

    void damage(const std::string &name)
    {
        testimg::DiskImage image(path);
        testimg::corruption(name).damage(image);
    }
};

TEST_F(Checker, AWrongCommandLineEndsWithStatus16)
{
    const std::vector<std::vector<std::string>> wrong = {
        {"--check", "-l"}, {"--repair", "-g", "1"}, {"--check", "--repair"}, {"--check", "-r"}, {"--check", "--bogus"},
    };
    for (const auto &args : wrong) {
        RunResult r = run(args);
        EXPECT_EQ(r.status, 16) << ::testing::PrintToString(args) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    EXPECT_EQ(run({"--check"}, "", {path, path}).status, 16);
    RunResult none = run({"--check"}, "", {});
    EXPECT_EQ(none.status, 16);
    EXPECT_EQ(none.err, "Humax disk not found\n");
    // Abbreviated as getopt allows, the option still selects fsck's statuses.
    EXPECT_EQ(run({"--chec", "-l"}).status, 16);
    // Without --check or --repair, the map has nothing to do.
    RunResult map = run({"-l", "--bad-map", dir.file("map")});
    EXPECT_EQ(map.status, 1);
    EXPECT_THAT(map.err, HasSubstr("--bad-map works only with --check, --repair, -g or -b"));
}

TEST_F(Checker, ADiskThatCannotBeOpenedReadOrLockedIsAnOperationalError)
{
    RunResult missing = run({"--check"}, "", {dir.file("nothing.img")});
    EXPECT_EQ(missing.status, 8);
    EXPECT_EQ(missing.err, dir.file("nothing.img") + ": No such file or directory\n");

    // A read of opening fails (sector 0; then partition 0's descriptor, table, directory):
    // reported, and whatever can still be read is checked.
    const char *failing[] = {"Disk: the partition table (sector 0) cannot be read: Input/output error",
                             "AV: its descriptor (sector 64) cannot be read: Input/output error",
                             "AV: its allocation table cannot be read: Input/output error",
                             "AV: its directory cannot be read: Input/output error"};
    for (int k = 1; k <= 4; ++k) {
        RunResult unreadable = run_env({"DW_FAULT_IMAGE=" + path, "DW_FAULT_KIND=read", "DW_FAULT_ACTION=fail",
                                        "DW_FAULT_AT=" + std::to_string(k)},
                                       {"--check"});
        EXPECT_EQ(unreadable.status, 12) << unreadable.out;
        EXPECT_THAT(unreadable.out, HasSubstr(failing[k - 1]));
    }

    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    RunResult locked = run({"--check"});
    EXPECT_EQ(locked.status, 8);
    EXPECT_EQ(locked.err, path + " is in use by another process\n");
    ASSERT_EQ(flock(fd, LOCK_SH), 0);
    EXPECT_EQ(run({"--check"}).status, 0); // readers share
    EXPECT_EQ(run({"--repair", "-y"}).status, 8);
    close(fd);
}

TEST_F(Checker, ADeclinedRepairChangesNothing)
{
    damage("shared-clusters");
    Bytes before = image_bytes();
    RunResult r = run({"--repair"}, "no\n");
    EXPECT_EQ(r.status, 4);
    EXPECT_THAT(r.err, HasSubstr("1 problem can be repaired, which writes to the disk - do you wish to continue? [no]: "));
    EXPECT_THAT(r.err, HasSubstr("Aborting...\n"));
    EXPECT_TRUE(image_bytes() == before);
    EXPECT_TRUE(host_names().empty());
}

TEST_F(Checker, ADiskNormalOpeningRefusesOpensAgainOnceRepaired)
{
    damage("chain-ends-invalid");
    RunResult refused = run({"-l"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err, HasSubstr("error in file allocation table"));
    EXPECT_EQ(run({"--repair", "-y"}).status, 1);
    EXPECT_EQ(run({"-l"}).status, 0);
}

TEST_F(Checker, WhatARepairWouldFreeIsSavedWholeOrNothingIsWritten)
{
    damage("orphan-chain");
    Bytes before = image_bytes();
    // A host that takes no more than 2 KiB cannot take the 4 KiB cluster.
    RunResult full = run_limited(4, {"--repair", "-y"});
    EXPECT_EQ(full.status, 12) << full.out << full.err;
    EXPECT_THAT(full.err, HasSubstr("orphan-AV-5.ts: File too large"));
    EXPECT_THAT(full.err, HasSubstr("Nothing was written to the disk"));
    EXPECT_TRUE(image_bytes() == before);
    EXPECT_TRUE(host_names().empty()) << ::testing::PrintToString(host_names());

    // The orphan is 3.elu's cluster: its bytes in the host's order, the rest of the cluster
    // after them as the disk holds it (zeros here).
    Bytes elu = testimg::pattern_bytes(777, 103);
    ASSERT_EQ(run({"--repair", "-y"}).status, 1);
    Bytes saved = host_file("orphan-AV-5.ts");
    ASSERT_EQ(saved.size(), 4096u);
    EXPECT_TRUE(std::equal(elu.begin(), elu.end(), saved.begin()));
    EXPECT_TRUE(std::all_of(saved.begin() + 777, saved.end(), [](uint8_t b) { return b == 0; }));
}

// The question says what the host is to take; a repair refused when the host cannot take
// it all says what it saved, and never that anything was freed.
TEST_F(Checker, TheQuestionStatesTheSavesAndARefusalFreesNothing)
{
    {
        testimg::DiskImage image(path);
        image.set_fat_entry(2, 1000, testimg::FAT_END);
        for (uint32_t c = 1010; c < 1017; ++c)
            image.set_fat_entry(2, c, c + 1);
        image.set_fat_entry(2, 1017, testimg::FAT_END);
        image.set_fat_word0(2, image.fat_word0(2) - 9);
    }
    Bytes before = image_bytes();
    RunResult declined = run({"--repair"}, "no\n");
    EXPECT_THAT(declined.err, HasSubstr("2 problems can be repaired, which writes to the disk and saves what it frees "
                                        "to the current directory (2 files, 4608 bytes) - do you wish to continue?"));
    // 2 KiB per file: the 512-byte chain is saved, the 4 KiB one is not.
    RunResult refused = run_limited(4, {"--repair", "-y"});
    EXPECT_EQ(refused.status, 12) << refused.err;
    EXPECT_EQ(refused.out.substr(refused.out.find("\nMPEG/JPEG: 1 cluster from")),
              "\nMPEG/JPEG: 1 cluster from cluster 1000 saved as \"orphan-MPEG-JPEG-1000.bin\"\n");
    EXPECT_THAT(refused.err, HasSubstr("Nothing was written to the disk"));
    EXPECT_TRUE(image_bytes() == before);
}

// With less room in the current directory's file system than the saves need, the repair
// refuses before it asks or writes anything. (A small tmpfs: root only.)
TEST_F(Checker, ARepairRefusesBeforeAskingWhenTheHostHasNoRoom)
{
    std::string small = dir.file("small");
    fs::create_directory(small);
    if (geteuid() != 0 || mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    struct Unmount {
        std::string at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{small};
    {
        testimg::DiskImage image(path);
        for (uint32_t c = 200; c < 231; ++c)
            image.set_fat_entry(0, c, c + 1);
        image.set_fat_entry(0, 231, testimg::FAT_END);
        image.set_fat_word0(0, image.fat_word0(0) - 32);
    }
    Bytes before = image_bytes();
    RunResult r = testimg::run_program(testimg::diskwarden_path(), {"--repair", "-y", path}, "", small);
    EXPECT_EQ(r.status, 12) << r.out << r.err;
    EXPECT_THAT(r.err, HasSubstr("The repair saves 131072 bytes (1 file) to the current directory before it frees "
                                 "anything, but its file system has room for "));
    EXPECT_THAT(r.err, Not(HasSubstr("do you wish to continue")));
    EXPECT_TRUE(image_bytes() == before);
    EXPECT_TRUE(fs::is_empty(small));
}

TEST_F(Checker, AHostFileOfTheSameNameIsKeptUnlessItHoldsTheSameContents)
{
    damage("orphan-chain");
    testimg::write_host_file(host + "/orphan-AV-5.ts", {1, 2, 3});
    ASSERT_EQ(run({"--repair", "-y"}).status, 1);
    EXPECT_EQ(host_file("orphan-AV-5.ts"), (Bytes{1, 2, 3}));
    EXPECT_EQ(host_file("orphan-AV-5.1.ts").size(), 4096u);

    // A repair cut after saving (at its first write to the disk) finds its own copy the
    // next time and does not save it again.
    testimg::build_catalogue_disk(path);
    damage("orphan-chain");
    clear_host();
    EXPECT_EQ(run_env({"DW_FAULT_IMAGE=" + path, "DW_FAULT_AT=1"}, {"--repair", "-y"}).status, 99);
    EXPECT_EQ(host_names(), std::vector<std::string>{"orphan-AV-5.ts"});
    RunResult again = run({"--repair", "-y"});
    EXPECT_EQ(again.status, 1);
    EXPECT_THAT(again.out, HasSubstr("saved as \"orphan-AV-5.ts\""));
    EXPECT_EQ(host_names(), std::vector<std::string>{"orphan-AV-5.ts"});
}

// A repair cut at each of its writes to the disk (whole, or torn after one sector) leaves
// a disk that a second repair finishes: a clean check, every untouched file as it was.
class RepairCut : public Checker, public ::testing::WithParamInterface<testimg::Corruption> {};

TEST_P(RepairCut, ASecondRepairFinishesTheWork)
{
    const testimg::Corruption &c = GetParam();
    std::map<std::string, Bytes> before = testimg::readable_files(path);
    std::vector<std::string> count = {"DW_FAULT_IMAGE=" + path, "DW_FAULT_COUNT=" + dir.file("writes")};
    damage(c.name);
    ASSERT_EQ(run_env(count, {"--repair", "-y"}).status, c.repair_status);
    Bytes written = testimg::read_host_file(dir.file("writes"));
    unsigned long writes = std::stoul(std::string(written.begin(), written.end()));
    ASSERT_GT(writes, 0u);
    for (const char *torn : {"0", "1"}) {
        for (unsigned long k = 1; k <= writes; ++k) {
            std::string where = c.name + " cut at write " + std::to_string(k) + (torn[0] == '1' ? " (torn)" : "");
            testimg::build_catalogue_disk(path);
            damage(c.name);
            clear_host();
            std::vector<std::string> env = count;
            env.push_back("DW_FAULT_AT=" + std::to_string(k));
            env.push_back(std::string("DW_FAULT_TORN=") + torn);
            EXPECT_EQ(run_env(env, {"--repair", "-y"}).status, 99) << where;
            // Finished: what is left is what the uninterrupted repair leaves.
            RunResult second = run({"--repair", "-y"});
            EXPECT_EQ(second.status | 1, c.after_status | 1) << where << "\n" << second.out << second.err;
            RunResult check = run({"--check"});
            EXPECT_EQ(check.status, c.after_status) << where << "\n" << check.out;
            if (c.after_status == 0) {
                EXPECT_THAT(testimg::check_image(path, testimg::CATALOGUE_RECORD_LENGTH), testing::IsEmpty()) << where;
            }
            std::map<std::string, Bytes> after = testimg::readable_files(path);
            for (const auto &[name, contents] : before) {
                bool same = c.damaged_files.count(name) || (after.count(name) && after.at(name) == contents);
                EXPECT_TRUE(same) << where << ": " << name;
            }
        }
    }
}

std::vector<testimg::Corruption> mended_corruptions()
{
    std::vector<testimg::Corruption> list;
    for (const testimg::Corruption &c : testimg::corruption_catalogue())
        if (c.repair_status & 1)
            list.push_back(c);
    return list;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, RepairCut, ::testing::ValuesIn(mended_corruptions()), [](const auto &info) {
    std::string name = info.param.name;
    for (char &ch : name)
        if (ch == '-')
            ch = '_';
    return name;
});

} // namespace
