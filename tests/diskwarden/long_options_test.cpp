// diskwarden's long options: --help is -h, --version prints the version line and ends
// the run; the short options keep their behaviour under getopt_long.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "disk_image.h"

namespace {

using testimg::run_program;
using testing::HasSubstr;
using testing::StartsWith;

const std::string PROGRAM = testimg::diskwarden_path();
const std::string VERSION = PROGRAM + " version " DW_VERSION " - recorder disk tool\n";

TEST(LongOptions, HelpIsTheShortHelp)
{
    auto short_help = run_program(PROGRAM, {"-h"});
    ASSERT_EQ(short_help.status, 0);
    ASSERT_THAT(short_help.err, StartsWith("HUMAXDISK can be:\n"));
    // Anywhere among the arguments (permutation), and before options it never looks at.
    for (auto args : {std::vector<std::string>{"--help"}, {"disk.img", "--help", "-q"}}) {
        auto r = run_program(PROGRAM, args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, short_help.err);
    }
    // Options before it have acted.
    auto r = run_program(PROGRAM, {"-v", "--help"});
    EXPECT_EQ(r.err, VERSION + short_help.err);
}

TEST(LongOptions, VersionEndsTheRunWhereShortVersionGoesOn)
{
    auto r = run_program(PROGRAM, {"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, VERSION);
    // No disk is opened, whatever else was asked.
    r = run_program(PROGRAM, {"-l", "/nonexistent/disk.img", "--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, VERSION);
    r = run_program(PROGRAM, {"-v"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, VERSION + "Humax disk not found\n");
}

TEST(LongOptions, UnknownOrMisusedLongOptionsAreErrors)
{
    auto r = run_program(PROGRAM, {"--frobnicate", "disk.img"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("--frobnicate"));
    EXPECT_THAT(r.err, testing::Not(HasSubstr("HUMAXDISK")));
    r = run_program(PROGRAM, {"--help=yes"});
    EXPECT_EQ(r.status, 1);
    // "--" still ends the options: what follows is a disk, even "--help".
    r = run_program(PROGRAM, {"-l", "--", "--help"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "--help: No such file or directory\n");
}

} // namespace
