// reelhead's help and version options, and "--" before file names that look like them.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/disk_image.h"
#include "support/expect_file.h"
#include "support/ts_writer.h"

namespace {

using testimg::RunResult;
using testing::StartsWith;

const std::string VERSION = "reelhead version 0.08 - diskwarden project\n";

RunResult reelhead(const testimg::TempDir &dir, const std::vector<std::string> &args)
{
    return testimg::run_program(testimg::reelhead_path(), args, "", dir.path(), {"TZ=UTC"});
}

bool exists(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

void write_stream(const std::string &path)
{
    tswriter::RecordingSpec spec;
    spec.seconds = 2;
    tswriter::make_recording(spec).save(path);
}

TEST(ReelheadOptions, HelpPrintsTheUsageAndConvertsNothing)
{
    testimg::TempDir dir;
    write_stream(dir.file("a.ts"));
    for (const char *help : {"--help", "-h"}) {
        RunResult r = reelhead(dir, {"a.ts", help});
        EXPECT_EQ(r.status, 0) << help;
        EXPECT_EQ(r.out, "");
        ASSERT_THAT(r.err, StartsWith(VERSION)) << help;
        // The usage is tests/reelhead/expect/help, which the manual page's lint reads too.
        std::string usage = r.err.substr(VERSION.size());
        EXPECT_EQ(usage, testimg::expected_output("reelhead/expect/help", usage,
                                                  {{"@PROGRAM@", testimg::reelhead_path()}}));
        EXPECT_FALSE(exists(dir.file("a.hre"))) << help;
    }
}

TEST(ReelheadOptions, VersionPrintsTheVersionLineOnly)
{
    testimg::TempDir dir;
    write_stream(dir.file("a.ts"));
    for (const char *version : {"--version", "-v"}) {
        RunResult r = reelhead(dir, {version, "a.ts"});
        EXPECT_EQ(r.status, 0) << version;
        EXPECT_EQ(r.err, VERSION);
        EXPECT_FALSE(exists(dir.file("a.hre"))) << version;
    }
}

TEST(ReelheadOptions, AfterTheMarkerEveryArgumentIsAFile)
{
    testimg::TempDir dir;
    write_stream(dir.file("-v.ts"));
    RunResult r = reelhead(dir, {"--", "-v.ts"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(dir.file("-v.hre")));
    EXPECT_FALSE(exists(dir.file("--.hre")));

    r = reelhead(dir, {"--", "--help"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, VERSION + "--help: No such file or directory\n");

    // The marker alone names no file.
    r = reelhead(dir, {"--"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, VERSION + "Invalid number of argumanets\n");
}

} // namespace
