// Host write errors: every command that writes host files meets a full host disk (a limit
// on the size of the files it writes, as `ulimit -f` sets it) or a final name it cannot
// take. The run must end with the C library's report for the final host name and status
// 1, leave nothing under that name, and leave the recorder disk exactly as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "disk_fixture.h"

namespace {

namespace fs = std::filesystem;
using testimg::Bytes;

class HostWriteFault : public testimg::DiskFixture {
  protected:
    void SetUp() override
    {
        DiskFixture::SetUp();
        make_disk({testimg::full_recording(2, "Title", 50000)});
        before = image_bytes();
    }

    void expect_report(const testimg::RunResult &r, const std::string &host_name,
                       const std::string &error)
    {
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_THAT(r.err, testing::EndsWith(host_name + ": " + error + "\n"));
        EXPECT_TRUE(image_bytes() == before) << "the disk image changed";
        for (const std::string &name : host_names())
            EXPECT_EQ(name.find(".part"), std::string::npos) << name;
    }

    const std::string stem = host_stem(0, "Title");
    Bytes before;
};

TEST_F(HostWriteFault, GetStopsAtTheStream)
{
    testimg::RunResult r = run_limited(40, {"-y", "-g", "1"});
    expect_report(r, stem + ".ts", "File too large");
    EXPECT_TRUE(host_names().empty()) << "the run went on";
}

TEST_F(HostWriteFault, GetStopsAtTheCompanion)
{
    fs::create_directory(host + "/" + stem + ".epg");
    testimg::RunResult r = run({"-y", "-g", "1"});
    expect_report(r, stem + ".epg", "Is a directory");
    EXPECT_EQ(host_file(stem + ".ts"), testimg::pattern_bytes(50000, 2));
    EXPECT_FALSE(fs::exists(host + "/" + stem + ".hre")) << "the run went on";
}

TEST_F(HostWriteFault, RecoveryGet)
{
    testimg::RunResult r = run_limited(40, {"-r", "-y", "-g", "1"});
    expect_report(r, "recover_0001.ts", "File too large");
}

TEST_F(HostWriteFault, HeaderOnly)
{
    testimg::RunResult r = run_limited(0, {"-y", "-H", "1"});
    expect_report(r, stem + ".hre", "File too large");
}

} // namespace
