// A failing drive from outside: a FUSE file system serves the disk image with one
// unreadable sector inside recording 2, as an image path and behind a loop device (read
// with direct I/O). Recordings 1 and 3 must come out byte for byte, recording 2 whole but
// for that sector.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "disk_fixture.h"
#include "fuse_mount.h"

namespace {

namespace fs = std::filesystem;
using testimg::Bytes;
using testimg::RunResult;
using testing::HasSubstr;

constexpr uint32_t CLUSTER = testimg::FIXTURE_CLUSTER;

class FailingDrive : public testimg::DiskFixture {
  protected:
    std::string mount = dir.file("drive");
    std::string log_path = dir.file("drive.log");
    std::unique_ptr<testimg::FuseDaemon> daemon;
    std::streamoff log_from = 0; // the log's lines before this run's are not counted
    testimg::TestRecording one = testimg::full_recording(5, "One", 5 * CLUSTER + 7);
    testimg::TestRecording two = testimg::broadcast_recording(6, "Two", 30, testimg::SUNDAY_2100 + 86400);
    testimg::TestRecording three = testimg::full_recording(7, "Three", 4 * CLUSTER);
    const uint64_t hole = 9 * CLUSTER + 3 * 512;

    void TearDown() override
    {
        if (daemon)
            daemon->unmount();
        DiskFixture::TearDown();
    }

    // Serves the image with `sectors` unreadable as MOUNT/disk.img.
    bool serve(const std::string &sectors)
    {
        fs::create_directory(mount);
        daemon = std::make_unique<testimg::FuseDaemon>(DW_BIN_DIR "/failing_disk",
                                                       std::vector<std::string>{path, sectors, mount},
                                                       mount, log_path);
        return daemon->wait_mounted();
    }

    // The most reads any unreadable sector had in this run, from the daemon's log.
    unsigned most_reads() const
    {
        std::ifstream in(log_path);
        in.seekg(log_from);
        std::map<unsigned long long, unsigned> reads;
        unsigned most = 0;
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            std::string word;
            unsigned long long sector = 0;
            if (fields >> word >> sector && word == "read")
                most = std::max(most, ++reads[sector]);
        }
        return most;
    }

    void expect_one_sector_lost(const std::string &disk)
    {
        for (const std::string &name : host_names())
            fs::remove(host + "/" + name);
        log_from = static_cast<std::streamoff>(fs::file_size(log_path));
        RunResult result = run({"-g", "1-3"}, "", {disk});
        EXPECT_EQ(result.status, 1) << result.err;
        Bytes damaged = two.av;
        std::fill(damaged.begin() + hole, damaged.begin() + hole + 512, 0);
        EXPECT_EQ(host_file(host_stem(0, "One") + ".ts"), one.av) << disk;
        EXPECT_EQ(host_file(host_stem(1, "Two") + ".ts"), damaged) << disk;
        EXPECT_EQ(host_file(host_stem(2, "Three") + ".ts"), three.av) << disk;
        EXPECT_THAT(result.err, HasSubstr(".ts\": 512 bytes unreadable, at 0:")) << disk;
        EXPECT_TRUE(fs::exists(host + "/" + host_stem(1, "Two") + ".ts.map"));
        unsigned reads = most_reads();
        EXPECT_GE(reads, 1u) << disk;
        EXPECT_LE(reads, 2u) << disk << daemon->log(); // the transfer that failed, and once alone
    }
};

TEST_F(FailingDrive, AnImagePathAndALoopDeviceLoseTheOneSectorOnly)
{
    std::string why;
    if (!testimg::fuse_available(&why))
        GTEST_SKIP() << why;
    make_disk({one, two, three});
    ASSERT_TRUE(serve(std::to_string(file_sector(0, "6.av", hole)))) << daemon->log();
    expect_one_sector_lost(mount + "/disk.img");
    testimg::LoopDevice loop(mount + "/disk.img");
    if (loop.device.empty()) {
        GTEST_SKIP() << "the loop device half: " << loop.why;
    }
    expect_one_sector_lost(loop.device);
}

// Rescue what matters first: a domain map of the structures and recording 3, GNU
// ddrescue with it from the failing drive, then the partial image lists, gives
// recording 3 byte for byte, and its check names what is not whole.
TEST_F(FailingDrive, DdrescueWithADomainMapRescuesTheStructuresAndTheChosenRecording)
{
    std::string why;
    std::string ddrescue = testimg::find_on_path("ddrescue"), ddrescuelog = testimg::find_on_path("ddrescuelog");
    if (!testimg::fuse_available(&why))
        GTEST_SKIP() << why;
    if (ddrescue.empty() || ddrescuelog.empty())
        GTEST_SKIP() << "needs GNU ddrescue (Debian gddrescue)";
    make_disk({one, two, three});
    ASSERT_TRUE(serve(std::to_string(file_sector(0, "6.av", hole)))) << daemon->log();
    const std::string drive = mount + "/disk.img", domain = dir.file("domain.map");
    const std::string partial = dir.file("partial.img"), rescue = dir.file("rescue.map");
    RunResult made = testimg::run_program(testimg::diskwarden_path(), {"--domain-map", domain, "-g", "3", drive});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(testimg::run_program(ddrescuelog, {"-t", domain}).status, 0);
    testimg::write_host_file(partial, {});
    fs::resize_file(partial, fs::file_size(path));
    RunResult imaged = testimg::run_program(ddrescue, {"--domain-mapfile=" + domain, drive, partial, rescue});
    ASSERT_EQ(imaged.status, 0) << imaged.err;
    EXPECT_EQ(most_reads(), 0u); // the bad sector lies outside what was asked for

    // A second domain map, for recording 1, from the partial image alone.
    RunResult second = testimg::run_program(testimg::diskwarden_path(),
                                            {"--domain-map", dir.file("more.map"), "-g", "1", partial});
    EXPECT_EQ(second.status, 0) << second.err;
    RunResult listed = testimg::run_program(testimg::diskwarden_path(), {"-l", partial});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_THAT(listed.out, HasSubstr("  3: "));
    RunResult got = run({"-g", "3", "--bad-map", rescue}, "", {partial});
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(host_file(host_stem(2, "Three") + ".ts"), three.av);
    RunResult checked = testimg::run_program(testimg::diskwarden_path(), {"--check", "--bad-map", rescue, partial});
    EXPECT_EQ(checked.status, 4) << checked.out << checked.err;
    EXPECT_THAT(checked.out, HasSubstr("whole: 1 of the 3 listed recordings"));
}

} // namespace
