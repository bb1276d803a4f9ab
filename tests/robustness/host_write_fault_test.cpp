// Host write errors: every command that writes host files meets a full disk (the host
// file is a link to /dev/full). The run must end with the C library's report for that
// file and status 1, and the recorder disk must be exactly as it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include "disk_image.h"

namespace {

using testimg::Bytes;

constexpr uint32_t START = 1369600000;
const char *const NO_SPACE = ": No space left on device\n";

class HostWriteFault : public ::testing::Test {
  protected:
    void SetUp() override
    {
        if (access("/dev/full", W_OK) != 0)
            GTEST_SKIP() << "no /dev/full";
        testimg::DiskImage image(image_path, testimg::default_spec());
        image.add_file(0, "2.av", testimg::pattern_bytes(50000, 3), 0x1002);
        image.add_file(0, "2.elu", testimg::pattern_bytes(900, 4));
        image.add_file(1, "2.epg", testimg::make_epg({{START, 1800, "Title", "Synopsis"}}));
        image.write_record_list({testimg::make_entry(304, 2, START, START + 1800, "Title")}, 304);
        before = testimg::read_host_file(image_path);
    }

    // The host name of the recording: start time (UTC) and title.
    static std::string host_stem()
    {
        time_t when = START;
        struct tm parts {};
        gmtime_r(&when, &parts);
        char date[32];
        strftime(date, sizeof date, "%Y%m%d %H%M", &parts);
        return std::string(date) + " Title";
    }

    void fill_up(const std::string &host_name)
    {
        ASSERT_EQ(symlink("/dev/full", dir.file(host_name).c_str()), 0);
    }

    void expect_full_disk_report(const testimg::RunResult &r, const std::string &host_name)
    {
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(host_name + NO_SPACE), std::string::npos) << r.err;
        EXPECT_TRUE(testimg::read_host_file(image_path) == before) << "the disk image changed";
    }

    testimg::RunResult run(const std::vector<std::string> &args)
    {
        std::vector<std::string> all = args;
        all.push_back(image_path);
        return testimg::run_program(testimg::diskwarden_path(), all, "", dir.path());
    }

    testimg::TempDir dir;
    testimg::TempDir disk_dir;
    std::string image_path = disk_dir.file("disk.img");
    Bytes before;
};

TEST_F(HostWriteFault, GetStopsAtTheStream)
{
    fill_up(host_stem() + ".ts");
    testimg::RunResult r = run({"-y", "-g", "1"});
    expect_full_disk_report(r, host_stem() + ".ts");
    EXPECT_EQ(access(dir.file(host_stem() + ".elu").c_str(), F_OK), -1) << "the run went on";
}

TEST_F(HostWriteFault, GetStopsAtTheCompanion)
{
    fill_up(host_stem() + ".epg");
    testimg::RunResult r = run({"-y", "-g", "1"});
    expect_full_disk_report(r, host_stem() + ".epg");
    EXPECT_EQ(testimg::read_host_file(dir.file(host_stem() + ".ts")), testimg::pattern_bytes(50000, 3));
    EXPECT_EQ(access(dir.file(host_stem() + ".hre").c_str(), F_OK), -1) << "the run went on";
}

TEST_F(HostWriteFault, RecoveryGet)
{
    fill_up("recover_0001.ts");
    testimg::RunResult r = run({"-r", "-y", "-g", "1"});
    expect_full_disk_report(r, "recover_0001.ts");
}

TEST_F(HostWriteFault, HeaderOnly)
{
    fill_up(host_stem() + ".hre");
    testimg::RunResult r = run({"-y", "-H", "1"});
    expect_full_disk_report(r, host_stem() + ".hre");
}

} // namespace
