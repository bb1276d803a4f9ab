// `make demo` on a fresh clone of this repository (its last commit): it builds the three
// programs and the sample-disk maker and nothing else, and the demo runs to its end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "disk_image.h"

namespace {

namespace fs = std::filesystem;

TEST(Demo, FreshCloneBuildsOnlyWhatItRuns)
{
    if (testimg::find_on_path("git").empty() || testimg::find_on_path("make").empty())
        GTEST_SKIP() << "git or make is not installed";
    if (!fs::exists(std::string(DW_SOURCE_DIR) + "/.git"))
        GTEST_SKIP() << "the sources are not a git checkout";
    testimg::TempDir dir;
    const std::string clone = dir.file("clone");
    const std::string log = dir.file("demo.log");
    // Where ccache is installed the clone's build uses it, with paths taken relative to the
    // clone: a later run (in another temporary directory) compiles nothing an earlier one
    // compiled. The clone's build directory still starts empty.
    std::string cache;
    if (!testimg::find_on_path("ccache").empty())
        cache = "CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR='" + clone +
                "' CCACHE_NOHASHDIR=1 ";
    // A shell, not the test support's runner: a build from nothing takes minutes.
    std::string command = "git clone --quiet '" + std::string(DW_SOURCE_DIR) + "' '" + clone + "' && cd '" + clone +
                          "' && " + cache + "make demo JOBS=2 </dev/null >'" + log + "' 2>&1";
    int status = std::system(command.c_str());
    std::string output;
    if (fs::exists(log)) {
        testimg::Bytes bytes = testimg::read_host_file(log);
        output.assign(bytes.begin(), bytes.end());
    }
    ASSERT_EQ(status, 0) << output;
    EXPECT_THAT(output, ::testing::HasSubstr("1: Sun 26/05/13 20:00  0:30:00 Evening News - BBC ONE"));
    EXPECT_THAT(output, ::testing::HasSubstr("4: ***Buffer***"));
    std::set<std::string> built;
    for (const auto &entry : fs::directory_iterator(clone + "/build/bin"))
        built.insert(entry.path().filename().string());
    EXPECT_EQ(built, (std::set<std::string>{"diskwarden", "reelhead", "wardenfs", "make_sample_disk"}));
}

} // namespace
