// The Windows programs under Wine against the Linux programs: every row of the
// differential table runs with both, on identical copies of its inputs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "differential.h"
#include "wine.h"

namespace {

using difftest::Row;
using ::testing::IsEmpty;
namespace fs = std::filesystem;

std::string program_name(const Row &row)
{
    return row.program == difftest::Program::Reelhead ? "reelhead" : "diskwarden";
}

class Differential : public ::testing::TestWithParam<Row> {};

TEST_P(Differential, SameOutputStatusAndFiles)
{
    const Row &row = GetParam();
    std::string missing = testimg::wine_unavailable_reason();
    if (missing.empty() && !fs::exists(testimg::windows_program_path(program_name(row))))
        missing = testimg::windows_program_path(program_name(row)) + " is not built (make windows)";
    if (!missing.empty()) {
        // CI installs Wine and builds the Windows programs: there these tests must run.
        if (getenv("CI") != nullptr)
            FAIL() << missing;
        GTEST_SKIP() << missing;
    }
    testimg::TempDir tmp;
    const std::string linux_dir = tmp.file("linux"), windows_dir = tmp.file("windows");
    fs::create_directory(linux_dir);
    fs::create_directory(windows_dir);
    difftest::make_inputs(row, linux_dir);
    difftest::make_inputs(row, windows_dir);

    const testimg::RunResult on_linux = difftest::run_linux(row, linux_dir);
    ASSERT_EQ(on_linux.status, row.status) << on_linux.err;
    for (const std::string &name : row.created)
        EXPECT_TRUE(fs::exists(linux_dir + "/" + name)) << name << " not made on Linux";

    const testimg::RunResult on_windows = difftest::run_windows(row, windows_dir);
    EXPECT_EQ(on_windows.status, on_linux.status) << on_windows.err;
    EXPECT_EQ(difftest::output_difference(row.program, on_linux.out, on_windows.out), "")
        << "standard output";
    EXPECT_EQ(difftest::output_difference(row.program, on_linux.err, on_windows.err), "")
        << "standard error";
    EXPECT_THAT(difftest::tree_differences(linux_dir, windows_dir), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Rows, Differential, ::testing::ValuesIn(difftest::differential_rows()),
                         [](const ::testing::TestParamInfo<Row> &info) { return info.param.name; });

// The comparison itself: what it sets aside and what it must not.
TEST(DifferentialComparison, SetsAsideLineEndsProgramPathAndErrorWording)
{
    using difftest::output_difference;
    const auto reelhead = difftest::Program::Reelhead;
    const std::string exe = testimg::windows_program_path("reelhead");
    std::string wine_exe = "Z:" + exe;
    for (char &c : wine_exe)
        c = c == '/' ? '\\' : c;
    EXPECT_EQ(output_difference(reelhead, "Usage: " + testimg::reelhead_path() + " x\nb\n",
                                "Usage: " + wine_exe + " x\r\nb\r\n"),
              "");
    EXPECT_EQ(output_difference(reelhead, "*.mpg: No such file or directory\n",
                                "*.mpg: Invalid argument\r\n"),
              "");
    EXPECT_NE(output_difference(reelhead, "a.ts: not a stream\n", "a.ts: something else\n"), "");
    EXPECT_NE(output_difference(reelhead, "x: No such file or directory\n",
                                "y: No such file or directory\n"),
              "");
    EXPECT_NE(output_difference(reelhead, "a\nb\n", "a\nb"), "");
    EXPECT_NE(output_difference(reelhead, "a\n", "a\n\n"), "");
    EXPECT_NE(output_difference(reelhead, "a\n", "a\r\r\n"), "");
}

// The runs rely on every maker writing the same bytes each time.
TEST(DifferentialInputs, EveryCopyIsIdentical)
{
    for (const Row &row : difftest::differential_rows()) {
        testimg::TempDir tmp;
        fs::create_directory(tmp.file("a"));
        fs::create_directory(tmp.file("b"));
        difftest::make_inputs(row, tmp.file("a"));
        difftest::make_inputs(row, tmp.file("b"));
        EXPECT_THAT(difftest::tree_differences(tmp.file("a"), tmp.file("b")), IsEmpty())
            << row.name;
    }
    testimg::TempDir tmp;
    const testimg::Bytes sample = testimg::pattern_bytes(5000);
    const auto disk = difftest::image_file("disk.img", [&](testimg::DiskImage &image) {
        image.add_file(1, "1.av", sample, 0x1000, testimg::Placement::Fragmented);
    });
    disk.make(tmp.file("a.img"));
    disk.make(tmp.file("b.img"));
    EXPECT_EQ(testimg::read_host_file(tmp.file("a.img")), testimg::read_host_file(tmp.file("b.img")));
    EXPECT_EQ(testimg::DiskImage(tmp.file("a.img")).read_file(1, "1.av"), sample);
}

} // namespace
