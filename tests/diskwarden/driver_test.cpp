#include <gtest/gtest.h>

#include <getopt.h>

#include "diskwarden/driver.h"
#include "common/run_options.h"
#include "disk_image.h"

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

TEST(Program, HelpAfterOtherOptionsEndsTheParse)
{
    auto r = run_program(testimg::diskwarden_path(), {"-v", "-h", "-q", "x", "y", "z"});
    EXPECT_EQ(r.status, 0);
    std::string program = testimg::diskwarden_path();
    std::string expected =
        program + " version " DW_VERSION " - recorder disk tool\n"
        "HUMAXDISK can be:\n\n0: for \\\\.\\PhysicalDrive0\n1: for \\\\.\\PhysicalDrive1 etc.\n\n"
        "Host <-> Humax disk\n===================\nUsage: " + program + " [options] HUMAXDISK\n\n"
        "  -b\t\tbackup all recordings from Humax disk to current directory\n"
        "  -d <list>\tdelete recordings\n"
        "  -g <list>\tget recordings to current directory\n"
        "  -h\t\thelp (this text)\n"
        "  -i <list>\tget info for recordings\n"
        "  -l\t\tlist recordings\n"
        "  -p <filename>\tput recording(s) onto Humax disk\n"
        "  -u <list>\tunprotect recordings\n"
        "  -v\t\tversion\n"
        "  -x\t\textended listing for scopewise\n"
        "  -w\t\tpause at the end waiting for a keypress\n"
        "  -y\t\tanswer yes to all prompts\n"
        "\n  Advanced Options\n"
        "  -D\t\tDelete time shift recording buffers\n"
        "  -E\t\tUpdate all synopsis/info data for version 1.00.20 or later\n"
        "  -H <list>\tget hre files for recordings\n"
        "  -M <n>\tmodify recording number n (use with -O & -V options)\n"
        "  -O <n>\toffset for modify recording (use with -M & -V options)\n"
        "  -V <n>\tmodify recording value (use with -M & -O options)\n"
        "  -Z \t\tDelete EPG save data\n"
        "\nHumax disk -> Humax disk\n========================\nUsage: " + program +
        " [options] SRCHUMAXDISK DESTHUMAXDISK\n\n"
        "  -b\t\tbackup all recordings from source Humax disk\n"
        "                and copy to destination Humax disk\n"
        "  -g <list>\tget recordings from source disk\n"
        "                and copy to destination Humax disk\n"
        "\nRecovery mode - use if record list is missing/corrupt\n=============\nUsage: " + program +
        " -r [options] HUMAXDISK\n\n"
        "  -i <list>\tget info for recordings\n"
        "  -l\t\tlist recordings\n"
        "  -n\t\tno info - use if corruption is really bad\n"
        "  -g <list>\tget recordings to current directory as recover_nnnn.ts\n"
        "\nFailing drives - copies go on past unreadable sectors (zeros in their place)\n==============\n"
        "  A copy with unreadable sectors keeps its name, with NAME.map beside it (a GNU\n"
        "  ddrescue mapfile); the run ends with status 1 and names each damaged copy.\n"
        "  Running -g or -b again reads only the missing sectors and completes the copy.\n"
        "  --retries <n>\tread each unreadable sector n more times (default 0)\n"
        "  --bad-map <mapfile>\n\t\twith -g or -b from a partial GNU ddrescue image: what the map\n"
        "                does not mark finished counts as unreadable\n"
        "Usage: " + program + " --domain-map <mapfile> [-g <list>] HUMAXDISK\n"
        "  writes a GNU ddrescue domain mapfile of the disk's own structures (and of\n"
        "  the listed recordings): ddrescue --domain-mapfile images them first\n"
        "\nExample of a list: 10-20,30,41-42\n"
        "\nChecking and repairing - before writing to a disk, and after anything went wrong\n"
        "======================\n"
        "Usage: " + program + " --check [--bad-map MAPFILE] HUMAXDISK\n"
        "       " + program + " --repair [-y] HUMAXDISK\n\n"
        "  --check\tcheck the disk and change nothing\n"
        "  --repair\tcheck, then repair what is safe, after one question;\n"
        "                what it would free is first saved to the current directory\n"
        "  --bad-map <mapfile>\n\t\tname the recordings in areas a GNU ddrescue mapfile marks unread\n"
        "  Exit status: 0 no problem, 1 all repaired, 4 problems left,\n"
        "               8 disk, map or host file failed, 16 wrong command line (added up)\n"
        "\nFinding lost recordings - deleted ones, and those on a disk whose tables are gone\n"
        "=======================\n"
        "Usage: " + program + " --carve [-l] [-g <list>] HUMAXDISK\n"
        "       " + program + " --carve-all [-l] [-g <list>] HUMAXDISK\n\n"
        "  --carve\tsearch the clusters that no file holds (deleted recordings)\n"
        "  --carve-all\tsearch every cluster (allocation table or directory lost)\n"
        "  -l\t\tlist the streams found (the default)\n"
        "  -g <list>\tcopy found streams to current directory as found_nnnn.ts\n"
        "  The disk is only read. A found stream is a transport stream: make its header\n"
        "  with reelhead, then put it back with -p.\n"
        "\nFor scripts and front-ends\n==========================\n"
        "  --json\tthe output of -l, -i, -r -l, -r -i, --check and --repair as one\n"
        "                JSON document (questions need -y)\n"
        "  --progress-fd <n>\n\t\tprogress of copies and checks as lines on descriptor n\n";
    EXPECT_EQ(r.err, expected);
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
