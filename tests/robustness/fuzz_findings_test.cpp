// Faults the fuzz targets found, each kept as a test of its own beside the replayed
// input in tests/fuzz-corpus.
#include <getopt.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diskwarden/driver.h"
#include "common/fatal.h"
#include "common/run_options.h"

namespace {

struct Exited {
    int status;
};

[[noreturn]] void throw_exit(int status)
{
    throw Exited{status};
}

class FuzzFindings : public ::testing::Test {
  protected:
    void SetUp() override
    {
        run_options = RunOptions{};
        fatal_set_handler(throw_exit);
    }
    void TearDown() override { fatal_set_handler(nullptr); }

    // The status the command line ends the process with, or -1 when parsing returns.
    static int parse_status(std::vector<std::string> args)
    {
        args.insert(args.begin(), "diskwarden");
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        optind = 0;
        CommandRequest request;
        try {
            cmd_parse(static_cast<int>(args.size()), argv.data(), &request);
        } catch (const Exited &e) {
            return e.status;
        }
        return -1;
    }
};

// An unknown option and -h ended the process with exit() itself, past fatal_exit, so a
// harness could not outlive them.
TEST_F(FuzzFindings, CommandLineExitsGoThroughFatalExit)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(parse_status({"-q", "disk"}), 1);
    EXPECT_EQ(parse_status({"-l", "-h", "disk"}), 0);
    EXPECT_EQ(parse_status({"-l", "disk"}), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("invalid option -- 'q'"), std::string::npos) << err;
}

} // namespace
