// Faults the fuzz targets found, each kept as a test of its own beside the replayed
// input in tests/fuzz-corpus.
#include <getopt.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "carve/carve_psi.h"
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

// A table section whose first three bytes end its packet made the carver's gathering of
// sections go round for ever (input tests/fuzz-corpus/carve/fed1f7e1...).
TEST_F(FuzzFindings, SectionBeginningAtAPacketEndIsGatheredOn)
{
    std::vector<uint8_t> section = {0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x01, 0xE1, 0x00};
    uint32_t crc = carve_crc32(section.data(), section.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        section.push_back(static_cast<uint8_t>(crc >> shift));
    uint8_t first[188], second[188];
    memset(first, 0xFF, sizeof first);
    memset(second, 0xFF, sizeof second);
    const uint8_t head[] = {0x47, 0x40, 0x00, 0x10, 180}; // the section starts 181 bytes on
    memcpy(first, head, sizeof head);
    memcpy(first + 185, section.data(), 3);
    const uint8_t next[] = {0x47, 0x00, 0x00, 0x11};
    memcpy(second, next, sizeof next);
    memcpy(second + 4, section.data() + 3, section.size() - 3);
    CarvePsi psi;
    carve_psi_reset(&psi);
    CarveTrack track;
    for (const uint8_t *bytes : {first, second}) {
        TsPacket packet;
        ASSERT_TRUE(carve_parse_packet(bytes, &packet));
        carve_psi_packet(&psi, bytes, packet, track);
    }
    ASSERT_EQ(psi.facts.programmes.size(), 1u);
    EXPECT_EQ(psi.facts.programmes[0].number, 1);
    EXPECT_EQ(psi.facts.programmes[0].pmt_pid, 0x100);
}

} // namespace
