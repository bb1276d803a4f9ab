// -M/-O/-V and -E through the built program.
#include <gtest/gtest.h>

#include "disk_fixture.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;
using testimg::RunResult;

class ModifyCommand : public testimg::DiskFixture {
  protected:
    // A disk of two recordings (files 2 and 3) with entries of `length` bytes.
    void build(unsigned length)
    {
        testimg::ImageSpec spec = testimg::default_spec();
        if (length == 316)
            for (auto &p : spec.partitions)
                p.format_code = 0xE000000F;
        record_length = length;
        std::vector<testimg::TestRecording> recordings;
        for (unsigned n = 2; n <= 3; ++n)
            recordings.push_back({.file_number = n, .title = "Show", .av = testimg::pattern_bytes(100, n),
                                  .start = 1400000000, .length = 3600});
        make_disk(recordings, {}, spec);
        edit_entries([](std::vector<Bytes> &entries) { entries[1][12] = 0x55; }); // an opaque byte
    }

    // Byte `offset` of recording 2 (the second entry).
    uint8_t byte_of_second(unsigned offset) const { return stored_entry(1).at(offset); }
};

TEST_F(ModifyCommand, ValueKeepsItsLowEightBits)
{
    build(304);
    RunResult r = run({"-M", "2", "-O", "101", "-V", "300"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Changing offset 101(0x065) from 0(0x00) to 44(0x2C)\n");
    EXPECT_EQ(r.out.rfind("  2:", 0), 0u) << r.out;
    EXPECT_EQ(byte_of_second(101), 44);
}

TEST_F(ModifyCommand, MissingValueWritesZero)
{
    build(304);
    RunResult r = run({"-M", "2", "-O", "0xC"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Changing offset 12(0x00C) from 85(0x55) to 0(0x00)\n");
    EXPECT_EQ(byte_of_second(12), 0);
}

TEST_F(ModifyCommand, MgFollowsTheRecordLength)
{
    build(304);
    RunResult r = run({"-M", "2", "-O", "mg", "-V", "7"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Changing offset 269(0x10D) from 0(0x00) to 7(0x07)\n");
    EXPECT_EQ(byte_of_second(269), 7);

    build(316);
    r = run({"-M", "2", "-O", "MG", "-V", "7"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Changing offset 281(0x119) from 0(0x00) to 7(0x07)\n");
    EXPECT_EQ(byte_of_second(281), 7);
    EXPECT_EQ(byte_of_second(269), 0);
}

TEST_F(ModifyCommand, LastByteOfTheEntryOnly)
{
    build(304);
    EXPECT_EQ(run({"-M", "2", "-O", "303", "-V", "1"}).status, 0);
    EXPECT_EQ(byte_of_second(303), 1);
    Bytes before = testimg::read_host_file(path);
    RunResult r = run({"-M", "2", "-O", "304", "-V", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "offset out of range\n");
    EXPECT_EQ(testimg::read_host_file(path), before);
}

TEST_F(ModifyCommand, InvalidOptionsTouchNothing)
{
    build(304);
    Bytes before = testimg::read_host_file(path);
    for (auto args : std::vector<std::vector<std::string>>{
             {"-M", "2", "-V", "5"},               // no offset
             {"-M", "2", "-O", "10", "-V", "-1"},  // negative value
             {"-M", "2", "-O", "-3", "-V", "1"}}) { // negative offset
        RunResult r = run(args);
        EXPECT_EQ(r.status, 1) << args[3];
        EXPECT_EQ(r.err, "Invalid options\n") << args[3];
        EXPECT_EQ(r.out, "");
    }
    RunResult r = run({"-M", "9", "-O", "10", "-V", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Recording 9 does not exist\n");
    EXPECT_EQ(testimg::read_host_file(path), before);
}

TEST_F(ModifyCommand, NothingWithoutARecordingNumber)
{
    build(304);
    Bytes before = testimg::read_host_file(path);
    for (auto args : std::vector<std::vector<std::string>>{
             {"-O", "10", "-V", "1"}, {"-M", "0", "-O", "10", "-V", "1"}, {"-M", "abc", "-O", "10"}}) {
        RunResult r = run(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.err, "") << args[0];
        EXPECT_EQ(r.out, "") << args[0];
    }
    EXPECT_EQ(testimg::read_host_file(path), before);
}

// The offset is checked while the options are read: the disk is never opened.
TEST_F(ModifyCommand, InvalidOffsetBeforeTheDisk)
{
    RunResult r = run({"-M", "2", "-O", "mgx", "-V", "1"}, "", {dir.file("missing.img")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Invalid offset\n");
    r = run({"-M", "2", "-O", "4", "-V", "x"}, "", {dir.file("missing.img")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Invalid data\n");
}

TEST_F(ModifyCommand, UpdateRunsAndRepeats)
{
    build(304);
    std::vector<testimg::EpgEventSpec> events{{1400000000, 1800, "A", "a"},
                                              {1400001800, 1800, "B", "b"}};
    Bytes old = testimg::make_epg(events, 328);
    Bytes converted = testimg::make_epg(events, 332);
    {
        DiskImage image(path);
        image.add_file(1, "2.epg", old);
        image.add_file(1, "3.epg", converted);
    }
    RunResult r = run({"-E"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Updating 2.epg to v20+\nFile 3.epg is already at v20+\n");
    EXPECT_EQ(DiskImage(path).read_file(1, "2.epg"), converted);

    r = run({"-E"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "File 3.epg is already at v20+\nFile 2.epg is already at v20+\n");
}

TEST_F(ModifyCommand, UpdateRefusedOn316ByteDisks)
{
    build(316);
    DiskImage(path).add_file(1, "2.epg", testimg::make_epg({{1, 2, "A", "a"}}, 328));
    Bytes before = testimg::read_host_file(path);
    RunResult r = run({"-E", "-l"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "9200C is not supported\n");
    EXPECT_EQ(r.out, ""); // the listing after it never runs
    EXPECT_EQ(testimg::read_host_file(path), before);
}

} // namespace
