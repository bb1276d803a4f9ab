// The Windows platform functions under Wine, through the probe program: 64-bit positions
// and binary mode of opened host files, the program's own wildcard expansion (with the
// Windows forms a Linux shell has no counterpart for), and the existence probe.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "wine.h"

namespace {

namespace fs = std::filesystem;

class WindowsPlatform : public ::testing::Test {
  protected:
    testimg::TempDir tmp;
    const std::string probe = testimg::windows_program_path("windows_probe");

    void SetUp() override
    {
        std::string missing = testimg::wine_unavailable_reason();
        if (missing.empty() && !fs::exists(probe))
            missing = probe + " is not built (make windows)";
        if (missing.empty())
            return;
        if (getenv("CI") != nullptr)
            FAIL() << missing; // CI has Wine and the Windows build: the tests must run
        GTEST_SKIP() << missing;
    }

    testimg::RunResult run(const std::vector<std::string> &args)
    {
        return testimg::run_windows_program(probe, args, "", tmp.path());
    }
};

TEST_F(WindowsPlatform, SeeksPast4GiBAndReadsBytesAsTheyAre)
{
    const uint64_t five_gib = uint64_t{5} << 30;
    const int fd = open(tmp.file("sparse.ts").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const uint8_t marker[8] = {0x0D, 0x0A, 0x1A, 0x47, 0x00, 0x0A, 0xFF, 0x0D};
    ASSERT_EQ(pwrite(fd, marker, sizeof marker, static_cast<off_t>(five_gib + 3)), 8);
    close(fd);

    testimg::RunResult result = run({"read", "sparse.ts", std::to_string(five_gib + 3)});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "5368709123 0d 0a 1a 47 00 0a ff 0d\r\n");
    result = run({"read", "sparse.ts", std::to_string(five_gib + 1)});
    EXPECT_EQ(result.out, "5368709121 00 00 0d 0a 1a 47 00 0a\r\n");
}

TEST_F(WindowsPlatform, ExpandsWildcardArgumentsItself)
{
    for (const char *name : {"a.ts", "b.ts", "x.TS", ".h.ts", "sub/c.ts", "sub/cd.ts", "[ab].ts"}) {
        fs::create_directories(fs::path(tmp.file(name)).parent_path());
        testimg::write_host_file(tmp.file(name), {1});
    }
    const testimg::RunResult result =
        run({"args", "-h", "*.ts", "sub\\?.ts", "sub/c*", "*.none", ".*", "[ab].ts", "--"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "-h\r\n"
                          "[ab].ts\r\na.ts\r\nb.ts\r\nx.TS\r\n" // case-insensitive, bytewise
                          "sub\\c.ts\r\n"
                          "sub/c.ts\r\nsub/cd.ts\r\n"
                          "*.none\r\n"  // nothing matches: kept as the shell keeps it
                          ".h.ts\r\n"   // dot names only for a pattern with a dot first
                          "[ab].ts\r\n" // brackets are no wildcard on Windows
                          "--\r\n");
}

TEST_F(WindowsPlatform, ProbesPathsWithoutOpeningThem)
{
    testimg::write_host_file(tmp.file("here.hre"), {});
    fs::create_directory(tmp.file("dir.hre"));
    EXPECT_EQ(run({"taken", "here.hre"}).out, "taken\r\n");
    EXPECT_EQ(run({"taken", "dir.hre"}).out, "taken\r\n");
    EXPECT_EQ(run({"taken", "missing.hre"}).out, "free\r\n");
}

} // namespace
