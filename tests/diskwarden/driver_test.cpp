#include <gtest/gtest.h>

#include <getopt.h>

#include "diskwarden/driver.h"
#include "common/run_options.h"
#include "disk_image.h"
#include "expect_file.h"

namespace {

using testimg::run_program;

class Parse : public ::testing::Test {
  protected:
    void SetUp() override
    {
        run_options = RunOptions{};
        optind = 0; // a full reset of getopt between parses
    }
    CommandRequest parse(std::vector<std::string> args)
    {
        args.insert(args.begin(), "diskwarden");
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        CommandRequest request;
        cmd_parse(static_cast<int>(args.size()), argv.data(), &request);
        return request;
    }
};

TEST_F(Parse, OptionsAndDisksInAnyOrder)
{
    CommandRequest r = parse({"disk.img", "-l", "-g", "1-3", "-xy"});
    EXPECT_EQ(r.source_path, "disk.img");
    EXPECT_TRUE(r.list);
    ASSERT_TRUE(r.get_list);
    EXPECT_EQ(*r.get_list, "1-3");
    EXPECT_EQ(run_options.extended, 1);
    EXPECT_EQ(run_options.ask, 0);
}

TEST_F(Parse, SecondDiskIsTheDestination)
{
    CommandRequest r = parse({"-b", "src.img", "dst.img"});
    EXPECT_EQ(r.source_path, "src.img");
    EXPECT_EQ(r.dest_path, "dst.img");
    EXPECT_EQ(run_options.backup, 1);
}

TEST_F(Parse, DriveNumbersAndImageNames)
{
    EXPECT_EQ(parse({"0:"}).source_path, "/dev/sda");
    optind = 0;
    EXPECT_EQ(parse({"2:"}).source_path, "/dev/sdc");
    optind = 0;
    EXPECT_EQ(parse({"0"}).source_path, "0");
    optind = 0;
    EXPECT_EQ(parse({"10:"}).source_path, "10:");
}

TEST_F(Parse, OffsetAndValueNumbers)
{
    EXPECT_EQ(parse({"-O", "MG"}).modify_offset, OFFSET_MG);
    optind = 0;
    EXPECT_EQ(parse({"-O", "0x10"}).modify_offset, 16);
    optind = 0;
    EXPECT_EQ(parse({"-O", "010"}).modify_offset, 8);
    optind = 0;
    EXPECT_EQ(parse({"-O", "12abc"}).modify_offset, 12);
    optind = 0;
    CommandRequest r = parse({"-M", "abc", "-V", "-1"});
    EXPECT_EQ(r.modify_number, 0);
    EXPECT_EQ(r.modify_value, -1);
}

TEST_F(Parse, OpenModeFollowsTheCommands)
{
    EXPECT_FALSE(cmd_source_writes(parse({"-l", "-g", "1", "-i", "2", "d"})));
    for (std::vector<std::string> args :
         {std::vector<std::string>{"-d", "1", "d"}, {"-u", "1", "d"}, {"-M", "3", "d"},
          {"-E", "d"}, {"-D", "d"}, {"-Z", "d"}, {"-p", "x.ts", "d"}, {"-r", "-s", "d"}}) {
        optind = 0;
        run_options = RunOptions{};
        EXPECT_TRUE(cmd_source_writes(parse(args))) << args[0];
    }
    optind = 0;
    run_options = RunOptions{};
    EXPECT_FALSE(cmd_source_writes(parse({"-s", "-M", "0", "-p", "", "d"})));
}

TEST_F(Parse, ArgumentsThatDoNotFitAreRefused)
{
    EXPECT_EXIT(parse({"-O", "mgx"}), testing::ExitedWithCode(1), "^Invalid offset\n$");
    EXPECT_EXIT(parse({"-V", "x"}), testing::ExitedWithCode(1), "^Invalid data\n$");
    EXPECT_EXIT(parse({"a", "b", "c"}), testing::ExitedWithCode(1), "^Invalid number of options\n$");
}

// The program end to end: messages, statuses, help text byte for byte.
TEST(Program, NoDiskAndVersion)
{
    auto r = run_program(testimg::diskwarden_path(), {});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Humax disk not found\n");
    r = run_program(testimg::diskwarden_path(), {"-v"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, testimg::diskwarden_path() + " version " DW_VERSION " - recorder disk tool\nHumax disk not found\n");
}

// The help text is tests/diskwarden/expect/help, which the manual page's lint reads too.
TEST(Program, HelpAfterOtherOptionsEndsTheParse)
{
    auto r = run_program(testimg::diskwarden_path(), {"-v", "-h", "-q", "x", "y", "z"});
    EXPECT_EQ(r.status, 0);
    std::string program = testimg::diskwarden_path();
    std::string version = program + " version " DW_VERSION " - recorder disk tool\n";
    ASSERT_EQ(r.err.substr(0, version.size()), version);
    std::string help = r.err.substr(version.size());
    EXPECT_EQ(help, testimg::expected_output("diskwarden/expect/help", help, {{"@PROGRAM@", program}}));
}

TEST(Program, BadOptionsAndMissingDisk)
{
    auto r = run_program(testimg::diskwarden_path(), {"-q", "disk"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("invalid option"), std::string::npos);
    r = run_program(testimg::diskwarden_path(), {"disk", "-g"});
    EXPECT_EQ(r.status, 1);
    r = run_program(testimg::diskwarden_path(), {"-l", "/nonexistent/disk.img"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "/nonexistent/disk.img: No such file or directory\n");
}

TEST(Program, PosixlyCorrectStopsAtTheFirstDisk)
{
    // With permutation "-l" after the disk is an option; without it, a second disk.
    auto r = run_program(testimg::diskwarden_path(), {"/nonexistent/a", "-l", "x", "y"},
                         "", "", {"POSIXLY_CORRECT=1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Invalid number of options\n");
}

} // namespace

namespace {

TEST(Program, SwapNeedsTheListPartition)
{
    testimg::TempDir dir;
    testimg::DiskImage image(dir.file("d.img"), testimg::default_spec());
    image.write_record_list({testimg::make_entry(304, 2, 0, 60, "A")}, 304);
    testimg::Bytes before = testimg::read_host_file(image.path());
    auto r = run_program(testimg::diskwarden_path(), {"-r", "-n", "-s", "-y", image.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "The recording lists cannot be swapped with -n\n");
    EXPECT_EQ(testimg::read_host_file(image.path()), before);
}

} // namespace
