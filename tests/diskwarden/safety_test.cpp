// Data safety: one writer per disk, complete host copies, no link followed, refusals that
// change nothing, truncated images that say so.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "disk_fixture.h"

namespace {

namespace fs = std::filesystem;
using testimg::Bytes;
using testimg::DiskImage;
using testimg::RunResult;
using testing::HasSubstr;

class Safety : public testimg::DiskFixture {
  protected:
    void SetUp() override
    {
        DiskFixture::SetUp();
        make_disk({testimg::full_recording(5, "Alpha"), testimg::full_recording(6, "Bravo")});
    }

    // A recording ready to put from the host directory.
    void stage_put(const std::string &stem)
    {
        testimg::write_host_file(host + "/" + stem + ".ts", testimg::pattern_bytes(70000, 7));
        testimg::write_host_file(host + "/" + stem + ".hre", stored_entry(0));
    }

    // No temporary file of an interrupted copy is left in the host directory.
    void expect_no_temporaries()
    {
        for (const std::string &name : host_names())
            EXPECT_THAT(name, testing::Not(HasSubstr(".part"))) << name;
    }

    const std::string alpha = host_stem(0, "Alpha");
    const std::string bravo = host_stem(1, "Bravo");
};

// ---- One writer per disk ----

TEST_F(Safety, ADiskGivenAsSourceAndDestinationIsRefused)
{
    Bytes before = image_bytes();
    fs::create_symlink(path, dir.file("link.img"));
    std::string dotted = fs::path(path).parent_path().string() + "/./disk.img";
    for (const std::string &other : {path, dotted, dir.file("link.img")}) {
        RunResult r = run({"-y", "-d", "1", "-g", "2"}, "", {path, other});
        EXPECT_EQ(r.status, 1) << other;
        EXPECT_THAT(r.err, HasSubstr("are the same disk")) << other;
        EXPECT_THAT(r.err, testing::Not(HasSubstr("[no]"))) << "asked before refusing";
    }
    // Told apart before either is read: a source that cannot be read as a disk is still
    // refused as the same disk first.
    expect_damaged();
    Bytes unknown = before;
    unknown[444] = unknown[445] = 0; // the partition table's first marker
    testimg::write_host_file(path, unknown);
    RunResult r = run({"-y", "-g", "2"}, "", {path, dotted});
    EXPECT_EQ(image_bytes(), unknown);
    testimg::write_host_file(path, before);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, path + " and " + dotted + " are the same disk: copying a disk onto itself is refused\n");
}

TEST_F(Safety, ADiskLockedByAnotherProcessIsRefusedBeforeAnyQuestion)
{
    Bytes before = image_bytes();
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(flock(fd, LOCK_SH), 0);
    // Readers share; a writer is refused.
    EXPECT_EQ(run({"-l"}).status, 0);
    RunResult write = run({"-d", "1"}, "y\n");
    EXPECT_EQ(write.status, 1);
    EXPECT_EQ(write.err, path + " is in use by another process\n");
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    RunResult read = run({"-l"});
    EXPECT_EQ(read.status, 1);
    EXPECT_EQ(read.err, path + " is in use by another process\n");
    close(fd);
    EXPECT_EQ(image_bytes(), before);
}

TEST_F(Safety, ADeleteWaitingAtItsQuestionHoldsTheDiskAgainstAPut)
{
    stage_put("20130526 2100 Charlie");
    // The delete waits for an answer that never comes, then takes end of input as no.
    std::string command = "sleep 3 | exec \"" + testimg::diskwarden_path() + "\" -d 1 \"" + path + "\"";
    pid_t waiting = fork();
    ASSERT_GE(waiting, 0);
    if (waiting == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    // Held once an exclusive lock of our own is refused.
    int fd = open(path.c_str(), O_RDONLY);
    for (int i = 0; i < 200 && flock(fd, LOCK_EX | LOCK_NB) == 0; ++i) {
        flock(fd, LOCK_UN);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    close(fd);
    RunResult put = run({"-y", "-p", "*.ts"});
    EXPECT_EQ(put.status, 1);
    EXPECT_EQ(put.err, path + " is in use by another process\n");
    EXPECT_EQ(testimg::wait_for_exit(waiting), 0);
    EXPECT_EQ(DiskImage(path).record_list_entries(304).size(), 2u);
}

TEST_F(Safety, ABlockDeviceHeldExclusivelyIsRefusedForWriting)
{
    testimg::LoopDevice loop(path);
    if (loop.device.empty())
        GTEST_SKIP() << loop.why;
    const std::string &device = loop.device;
    int held = open(device.c_str(), O_RDONLY | O_EXCL); // as a mount holds it
    ASSERT_GE(held, 0) << device;
    RunResult r = run({"-y", "-d", "1"}, "", {device});
    close(held);
    // Whatever path reaches a device, it is the same disk.
    fs::create_symlink(device, dir.file("drive"));
    RunResult same = run({"-y", "-g", "1"}, "", {device, dir.file("drive")});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr(device + ": the drive is mounted, or another program holds it"));
    EXPECT_EQ(same.status, 1);
    EXPECT_THAT(same.err, HasSubstr("are the same disk"));
    EXPECT_EQ(DiskImage(path).record_list_entries(304).size(), 2u);
}

TEST_F(Safety, ALoopDeviceIsTheImageBehindIt)
{
    testimg::LoopDevice loop(path);
    if (loop.device.empty())
        GTEST_SKIP() << loop.why;
    const std::string &device = loop.device;
    Bytes before = image_bytes();
    // The same disk, in either order, also through a second loop device of the first.
    testimg::LoopDevice inner(device);
    for (const auto &[from, to] : std::vector<std::pair<std::string, std::string>>{
             {path, device}, {device, path}, {inner.device, path}}) {
        if (from.empty())
            continue;
        RunResult r = run({"-y", "-d", "1", "-g", "2"}, "", {from, to});
        EXPECT_EQ(r.status, 1) << from << " " << to;
        EXPECT_EQ(r.err, from + " and " + to + " are the same disk: copying a disk onto itself is refused\n");
    }
    EXPECT_EQ(image_bytes(), before);
    // The locks meet: a reader of the image keeps writers off the device ...
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(flock(fd, LOCK_SH), 0);
    EXPECT_EQ(run({"-l"}, "", {device}).status, 0);
    RunResult write = run({"-y", "-d", "1"}, "", {device});
    EXPECT_EQ(write.status, 1);
    EXPECT_EQ(write.err, device + " is in use by another process\n");
    close(fd);
    EXPECT_EQ(image_bytes(), before);
    // ... and a run waiting at its question on the device keeps writers off the image.
    stage_put("20130526 2100 Charlie");
    std::string command = "sleep 3 | exec \"" + testimg::diskwarden_path() + "\" -d 1 \"" + device + "\"";
    pid_t waiting = fork();
    ASSERT_GE(waiting, 0);
    if (waiting == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    fd = open(path.c_str(), O_RDONLY);
    for (int i = 0; i < 200 && flock(fd, LOCK_EX | LOCK_NB) == 0; ++i) {
        flock(fd, LOCK_UN);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    close(fd);
    RunResult put = run({"-y", "-p", "*.ts"});
    EXPECT_EQ(put.status, 1);
    EXPECT_EQ(put.err, path + " is in use by another process\n");
    EXPECT_EQ(testimg::wait_for_exit(waiting), 0);
    EXPECT_EQ(image_bytes(), before);
}

// ---- Copies to the host are complete or absent ----

TEST_F(Safety, ACopyCutByAFullHostDiskLeavesNothingUnderItsName)
{
    RunResult cut = run_limited(100, {"-g", "1"}); // 50 kB of a 100 kB stream
    EXPECT_EQ(cut.status, 1);
    EXPECT_THAT(cut.err, testing::EndsWith("Copying av file...\n" + alpha + ".ts: File too large\n"));
    EXPECT_TRUE(host_names().empty()) << host_names().front();
    // The natural way to resume copies it whole.
    RunResult resumed = run({"-b"});
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_EQ(host_file(alpha + ".ts"), testimg::pattern_bytes(100000, 5));
    expect_no_temporaries();
}

TEST_F(Safety, AnInterruptedCopyRemovesItsTemporaryFile)
{
    // Big enough that the copy is still running when it is interrupted.
    make_disk({testimg::full_recording(5, "Alpha", size_t{24} << 20)});
    // A closed terminal (SIGHUP) as well as Ctrl-C and a kill.
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (chdir(host.c_str()) != 0)
                _exit(127);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 2);
            execl(testimg::diskwarden_path().c_str(), "diskwarden", "-y", "-g", "1", path.c_str(),
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        // Interrupted while the stream is being copied to its temporary file.
        bool seen = false;
        for (int i = 0; i < 20000 && !seen; ++i) {
            for (const std::string &name : host_names())
                seen = seen || name.rfind(alpha + ".ts.diskwarden-", 0) == 0;
            if (!seen)
                std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        kill(child, signal_number);
        int status = testimg::wait_for_exit(child);
        EXPECT_TRUE(seen) << "no temporary file was seen";
        EXPECT_TRUE(status == 128 + signal_number || status == 0) << status;
        expect_no_temporaries();
        // The signal may come just after the stream took its name: then it is whole.
        if (fs::exists(host + "/" + alpha + ".ts")) {
            EXPECT_TRUE(host_file(alpha + ".ts") == testimg::pattern_bytes(size_t{24} << 20, 5));
        }
        for (const std::string &name : host_names())
            fs::remove(host + "/" + name);
    }
}

// The identifier of a process that has ended.
pid_t ended_process()
{
    pid_t child = fork();
    if (child == 0)
        _exit(0);
    testimg::wait_for_exit(child);
    return child;
}

TEST_F(Safety, TheTemporariesOfEndedRunsAreRemovedAndNothingElse)
{
    // What a run killed with SIGKILL leaves, beside what must stay: a live run's file, one
    // whose writer holds its lock (a run this host cannot see), a link, a directory and
    // names that only look alike.
    const std::string dead = std::to_string(ended_process());
    const std::string outside = dir.file("outside");
    testimg::write_host_file(outside, Bytes{1, 2, 3});
    const std::vector<std::string> abandoned = {alpha + ".ts.diskwarden-" + dead + ".part",
                                                "x.hre.diskwarden-" + dead + "-2.part",
                                                ".diskwarden-" + dead + ".part"};
    const std::vector<std::string> kept = {
        "live.ts.diskwarden-" + std::to_string(getpid()) + ".part", "locked.ts.diskwarden-" + dead + "-1.part",
        "link.ts.diskwarden-" + dead + "-3.part", "dir.diskwarden-" + dead + "-4.part",
        "mine.part", "x.diskwarden-" + dead + ".partial"};
    for (const std::string &name : abandoned)
        testimg::write_host_file(host + "/" + name, Bytes(100, 9));
    for (const std::string &name : kept) {
        if (name.rfind("link", 0) == 0)
            fs::create_symlink(outside, host + "/" + name);
        else if (name.rfind("dir", 0) == 0)
            fs::create_directory(host + "/" + name);
        else
            testimg::write_host_file(host + "/" + name, Bytes(100, 9));
    }
    int locked = open((host + "/" + kept[1]).c_str(), O_RDONLY);
    ASSERT_EQ(flock(locked, LOCK_EX), 0);
    // Reading, listing and copying only a header into another directory clear nothing here.
    EXPECT_EQ(run({"-l"}).status, 0);
    EXPECT_EQ(testimg::run_program(testimg::diskwarden_path(), {"-H", "1", path}, "", dir.path()).status, 0);
    EXPECT_TRUE(fs::exists(host + "/" + abandoned[0]));
    RunResult r = run({"-g", "1"});
    close(locked);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const std::string &name : abandoned)
        EXPECT_FALSE(fs::exists(fs::symlink_status(host + "/" + name))) << name;
    for (const std::string &name : kept)
        EXPECT_TRUE(fs::exists(fs::symlink_status(host + "/" + name))) << name;
    EXPECT_EQ(testimg::read_host_file(outside), (Bytes{1, 2, 3}));
    EXPECT_EQ(host_file(alpha + ".ts"), testimg::pattern_bytes(100000, 5));
}

// A crash in the middle of a copy leaves nothing under its name; a read that fails once
// is read again, alone, after the rest: the copy is whole.
TEST_F(Safety, ADiskReadErrorInTheMiddleOfACopyLeavesNothingUnderItsName)
{
    testimg::TestRecording r = testimg::full_recording(5, "Alpha", 10 * testimg::FIXTURE_CLUSTER);
    r.placement = testimg::Placement::Fragmented; // one read per cluster
    make_disk({r});
    std::vector<std::string> count = {"DW_FAULT_IMAGE=" + path, "DW_FAULT_KIND=read",
                                      "DW_FAULT_COUNT=" + dir.file("reads")};
    testimg::RunResult clean = testimg::run_program(testimg::diskwarden_path(), {"-H", "1", path}, "", host, count);
    ASSERT_EQ(clean.status, 0) << clean.err;
    Bytes reads = testimg::read_host_file(dir.file("reads"));
    unsigned long opening = std::stoul(std::string(reads.begin(), reads.end()));
    fs::remove(host + "/" + alpha + ".hre");
    for (const char *action : {"fail", "crash"}) {
        std::vector<std::string> env = count;
        env.push_back(std::string("DW_FAULT_ACTION=") + action);
        env.push_back("DW_FAULT_AT=" + std::to_string(opening + 5)); // the stream's fifth cluster
        RunResult cut = testimg::run_program(testimg::diskwarden_path(), {"-y", "-g", "1", path}, "",
                                             host, env);
        if (std::string(action) == "fail") {
            EXPECT_EQ(cut.status, 0) << cut.err;
            EXPECT_EQ(host_file(alpha + ".ts"), r.av);
            EXPECT_FALSE(fs::exists(host + "/" + alpha + ".ts.map"));
            for (const std::string &name : host_names())
                fs::remove(host + "/" + name);
            continue;
        }
        EXPECT_NE(cut.status, 0) << action;
        EXPECT_FALSE(fs::exists(host + "/" + alpha + ".ts")) << action;
    }
}

TEST_F(Safety, BackupGoesOnPastAMissingStreamAndEndsWithStatusOne)
{
    testimg::TestRecording gone = testimg::full_recording(5, "Gone");
    gone.av.clear();
    make_disk({gone, testimg::full_recording(6, "After")});
    record_length = 0; // the list names a missing stream on purpose
    RunResult r = run({"-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("Error opening 5.av\n"));
    EXPECT_EQ(host_file(host_stem(1, "After") + ".ts"), testimg::pattern_bytes(100000, 6));
    EXPECT_FALSE(fs::exists(host + "/" + host_stem(0, "Gone") + ".hre"));
}

// ---- Never write through links ----

TEST_F(Safety, LinksNamedLikeAnOutputAreReplacedNeverFollowed)
{
    std::string outside = dir.file("outside");
    fs::create_directory(outside);
    // A dangling link asks like an existing file, and no is no.
    fs::create_symlink(outside + "/planted.ts", host + "/" + alpha + ".ts");
    RunResult refused = run({"-g", "1"}, "n\n");
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err, HasSubstr("already exists, overwrite? [no]: "));
    EXPECT_FALSE(fs::exists(outside + "/planted.ts"));
    // A link to a file outside: yes replaces the link itself, the file is untouched.
    testimg::write_host_file(outside + "/keep", Bytes{1, 2, 3});
    fs::remove(host + "/" + alpha + ".ts");
    fs::create_symlink(outside + "/keep", host + "/" + alpha + ".ts");
    fs::create_symlink(outside + "/keep", host + "/" + alpha + ".hre");
    RunResult yes = run({"-y", "-g", "1"});
    EXPECT_EQ(yes.status, 0) << yes.err;
    EXPECT_EQ(testimg::read_host_file(outside + "/keep"), (Bytes{1, 2, 3}));
    EXPECT_FALSE(fs::is_symlink(host + "/" + alpha + ".ts"));
    EXPECT_EQ(host_file(alpha + ".ts"), testimg::pattern_bytes(100000, 5));
    EXPECT_EQ(host_file(alpha + ".hre"), stored_entry(0));
    // -H and the recovery copy replace links the same way; -b skips them as existing.
    fs::create_symlink(outside + "/keep", host + "/" + bravo + ".hre");
    fs::create_symlink(outside + "/keep", host + "/recover_0001.ts");
    EXPECT_EQ(run({"-H", "2"}).status, 0);
    EXPECT_EQ(run({"-r", "-y", "-g", "1"}).status, 0);
    fs::create_symlink(outside + "/none", host + "/" + bravo + ".ts");
    RunResult backup = run({"-b"});
    EXPECT_EQ(backup.status, 1);
    EXPECT_THAT(backup.err, HasSubstr("Keeping \"" + bravo + ".ts\", it already exists and is not a regular file"));
    EXPECT_EQ(testimg::read_host_file(outside + "/keep"), (Bytes{1, 2, 3}));
    EXPECT_EQ(fs::directory_iterator(outside)->path().filename(), "keep");
}

TEST_F(Safety, BackupSkipsOnlyWholeCopiesAndKeepsWhatItCannotTell)
{
    ASSERT_EQ(run({"-b"}).status, 0);
    // A short file under a stream's name, a directory under another's, and beside a whole
    // stream a header that is no longer the recording's as the disk has it.
    testimg::write_host_file(host + "/" + alpha + ".ts", Bytes(1000, 1));
    fs::remove(host + "/" + alpha + ".hre");
    fs::remove(host + "/" + bravo + ".epg");
    fs::create_directory(host + "/" + bravo + ".epg");
    Bytes old_header = stored_entry(1);
    ASSERT_EQ(run({"-M", "2", "-O", "105", "-V", "9"}).status, 0);
    RunResult r = run({"-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("Keeping file \"" + alpha + ".ts\", it already exists with 1000 bytes, "
                                 "not the 100000 of the recording: move it away and run -b again\n"));
    EXPECT_THAT(r.err, HasSubstr("Keeping \"" + bravo + ".epg\", it already exists and is not a regular file"));
    EXPECT_THAT(r.err, HasSubstr("Keeping file \"" + bravo + ".hre\", it is not the header of this recording"));
    EXPECT_EQ(host_file(alpha + ".ts"), Bytes(1000, 1));
    EXPECT_FALSE(fs::exists(host + "/" + alpha + ".hre")) << "a header beside a stream not its own";
    EXPECT_EQ(host_file(bravo + ".hre"), old_header);
    EXPECT_EQ(host_file(bravo + ".ts"), testimg::pattern_bytes(100000, 6));
    // Moved away, the short file is copied again whole.
    fs::remove(host + "/" + alpha + ".ts");
    fs::remove_all(host + "/" + bravo + ".epg");
    fs::remove(host + "/" + bravo + ".hre");
    RunResult again = run({"-b"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(host_file(alpha + ".ts"), testimg::pattern_bytes(100000, 5));
    EXPECT_EQ(host_file(bravo + ".hre"), stored_entry(1));
}

// ---- Refusals change nothing ----

TEST_F(Safety, APutThatTheDirectoryCannotTakeChangesNothing)
{
    testimg::ImageSpec spec = testimg::fixture_spec();
    spec.partitions[0].cluster_sectors = 8;
    spec.partitions[0].cluster_count = 4096;
    make_disk({testimg::full_recording(5, "Alpha")}, {}, spec);
    fill_directory(0, 1); // room for a stream, not for its companion too
    stage_put("20130526 2100 Charlie");
    testimg::write_host_file(host + "/20130526 2100 Charlie.elu", Bytes(100, 1));
    Bytes before = image_bytes();
    RunResult refused = run({"-y", "-p", "*.ts"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err, testing::EndsWith("No free directory entries available, aborting...\n"));
    EXPECT_EQ(image_bytes(), before);
    // Of several, the recordings before the one that does not fit stay.
    stage_put("20130526 2100 Beta");
    RunResult r = run({"-y", "-p", "*.ts"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, testing::EndsWith("No free directory entries available, aborting...\n"));
    EXPECT_THAT(r.err, testing::Not(HasSubstr("Copying file '20130526 2100 Charlie.ts'")));
    EXPECT_EQ(DiskImage(path).record_list_entries(304).size(), 2u);
}

TEST_F(Safety, AListSaveTheDirectoryCannotTakeLeavesEveryTableAsItWas)
{
    testimg::ImageSpec spec = testimg::fixture_spec();
    spec.partitions[1].cluster_count = 2048;
    make_disk({testimg::full_recording(5, "Alpha")}, {}, spec);
    fill_directory(1, 0); // the list has no backup yet, and saving it makes one
    Bytes before = table_bytes();
    RunResult r = run({"-M", "1", "-O", "20", "-V", "7"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, testing::EndsWith("No free directory entries available, aborting...\n"));
    EXPECT_TRUE(table_bytes() == before);
}

// ---- Damaged and truncated images say so ----

// Reading a file whose entry claims more than its clusters hold says so once, and leaves
// the entry as stored: a later commit of the same run writes it back unchanged.
TEST_F(Safety, AnEntryReadAsDamagedIsWrittenBackAsStored)
{
    testimg::TestRecording r = testimg::full_recording(5, "Alpha");
    r.is_protected = true;
    make_disk({r});
    DiskImage image(path);
    int slot = image.find(1, "5.epg")->slot;
    Bytes damaged = image.dir_slot(1, slot);
    testimg::put_le32(damaged, 36, testimg::get_le32(damaged, 36) + 3 * 4096);
    image.set_dir_slot(1, slot, damaged);
    expect_damaged();
    RunResult r1 = run({"-i", "1", "-i", "1", "-u", "1"});
    EXPECT_EQ(r1.status, 0) << r1.err;
    EXPECT_EQ(r1.err, "Warning file allocation error - truncating to 4096 bytes\n");
    EXPECT_EQ(DiskImage(path).dir_slot(1, DiskImage(path).find(1, "5.epg")->slot), damaged);
    EXPECT_FALSE(DiskImage(path).record_list_entries(304).empty());
}


TEST_F(Safety, ATruncatedImageIsReportedAndNeverWritten)
{
    DiskImage image(path);
    uint64_t end = uint64_t{image.data_sector(2) + image.geometry(2).data_sectors} * 512;
    fs::resize_file(path, end - 40 * 512);
    expect_damaged();
    RunResult list = run({"-l"});
    EXPECT_EQ(list.status, 0);
    EXPECT_THAT(list.err, HasSubstr("the disk ends 40 sectors before the end of its partitions"));
    Bytes before = image_bytes();
    RunResult write = run({"-y", "-d", "1"});
    EXPECT_EQ(write.status, 1);
    EXPECT_THAT(write.err, HasSubstr("Refusing to write to a truncated disk"));
    EXPECT_EQ(image_bytes(), before);

    // Cut before the last partition's descriptor: the opening's message, then a hint.
    fs::resize_file(path, uint64_t{image.start_sector(2)} * 512);
    RunResult cut = run({"-l"});
    EXPECT_EQ(cut.status, 1);
    EXPECT_THAT(cut.err, HasSubstr("Unsupported partition\nThe disk ends before the MPEG/JPEG "
                                   "partition begins: the image may be truncated."));
    EXPECT_THAT(cut.err, HasSubstr("(-r -n)"));
    RunResult rescue = run({"-r", "-n", "-l"});
    EXPECT_EQ(rescue.status, 0) << rescue.err;
    EXPECT_THAT(rescue.out, HasSubstr("  2: ***Info disabled***"));
}

} // namespace
