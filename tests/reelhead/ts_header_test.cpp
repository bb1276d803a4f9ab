// Start time and title from the stream's file name, and the header's bytes.
#include <sys/stat.h>
#include <utime.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "common/error.h"
#include "reelhead/ts_header.h"
#include "converter_testing.h"

namespace {

constexpr uint32_t MAY_26_2013_2030_UTC = 1369600200;

struct Parsed {
    uint32_t start = 0;
    std::string title;  // text after the prefix, up to its first zero byte
    bool said_so = false; // "Start time derived from the filename" printed
    RecordEntry entry;
};

Parsed parse(const std::string &path)
{
    Parsed p;
    memset(p.entry.bytes, 0xEE, sizeof p.entry.bytes);
    testing::internal::CaptureStderr();
    p.start = ts_parse_file_name(path.c_str(), &p.entry);
    const std::string err = testing::internal::GetCapturedStderr();
    p.said_so = err == "Start time derived from the filename\n";
    EXPECT_TRUE(err.empty() || p.said_so) << err;
    const char *text = reinterpret_cast<const char *>(p.entry.bytes + TS_TITLE_TEXT);
    p.title.assign(text, strnlen(text, TS_TITLE_TEXT_LENGTH));
    EXPECT_EQ(p.entry.bytes[25], 0x10);
    EXPECT_EQ(p.entry.bytes[26], 'i');
    EXPECT_EQ(p.entry.bytes[27], '7');
    for (unsigned i = TS_TITLE_TEXT + p.title.size(); i < ENTRY_CHANNEL; ++i)
        EXPECT_EQ(p.entry.bytes[i], 0) << "title padding at " << i;
    EXPECT_EQ(p.entry.bytes[ENTRY_CHANNEL], 0xEE) << "the channel name is not the title's";
    return p;
}

} // namespace

TEST(TsFileName, FirstSchemeIsLocalTimeWithoutDaylightSaving)
{
    convtest::TimeZone zone("Europe/London");
    Parsed p = parse("20130526 2030 Evening News.ts");
    EXPECT_EQ(p.start, MAY_26_2013_2030_UTC); // BST not applied
    EXPECT_EQ(p.title, "Evening News");
    EXPECT_TRUE(p.said_so);

    convtest::TimeZone berlin("Europe/Berlin");
    EXPECT_EQ(parse("20130526 2030 Evening News.ts").start, MAY_26_2013_2030_UTC - 3600);
    EXPECT_EQ(parse("20130115 2030 X.ts").start, 1358281800u - 3600);
}

TEST(TsFileName, SecondSchemeTitleFollowsTheMinute)
{
    convtest::TimeZone zone("Europe/London");
    Parsed p = parse("017_2013May26_2030_Evening News.ts");
    EXPECT_EQ(p.start, MAY_26_2013_2030_UTC);
    EXPECT_EQ(p.title, "Evening News");
    EXPECT_TRUE(p.said_so);

    EXPECT_EQ(parse("5_2013Dec26_2030_x.ts").start, 1388089800u);
    EXPECT_EQ(parse("5_2013Jan26_2030_x.ts").start, 1359232200u);
    EXPECT_EQ(parse("5_2013may26_2030_x.ts").start, 1359232200u) << "unknown month: January";
    EXPECT_EQ(parse("017_2013May26_2030_i7Film.ts").title, "Film");
    EXPECT_EQ(parse("017_2013May26_2030.ts").title, "");
}

TEST(TsFileName, I7BeforeTheTitleIsSkipped)
{
    convtest::TimeZone zone("UTC");
    EXPECT_EQ(parse("20130526 2030 i7Evening News.ts").title, "Evening News");
    EXPECT_EQ(parse("20130526 2030 I7Evening News.ts").title, "I7Evening News");
    EXPECT_EQ(parse("20130526 2030 i7.ts").title, "");
    EXPECT_EQ(parse("20130526 2030 i").title, "i");
}

TEST(TsFileName, NamesWithoutADate)
{
    Parsed p = parse("recover_0012.ts");
    EXPECT_EQ(p.start, 0u);
    EXPECT_EQ(p.title, "Recovered 012");
    EXPECT_FALSE(p.said_so);

    EXPECT_EQ(parse("/data/recover_7.ts").title, "Recovered 007");
    p = parse("holiday.ts");
    EXPECT_EQ(p.start, 0u);
    EXPECT_EQ(p.title, "Recovered unknown");
    EXPECT_FALSE(p.said_so);
    EXPECT_EQ(parse("2013 May.ts").title, "Recovered unknown");
}

TEST(TsFileName, DatesOutsideTheClockGiveNoTime)
{
    convtest::TimeZone zone("UTC");
    for (const char *name : {"19600526 2030 Old.ts", "21100526 2030 Far.ts"}) {
        SCOPED_TRACE(name);
        Parsed p = parse(name);
        EXPECT_EQ(p.start, 0u);
        EXPECT_EQ(p.title, "");
        EXPECT_FALSE(p.said_so);
    }
}

TEST(TsFileName, OnlyTheBaseNameIsScanned)
{
    convtest::TimeZone zone("UTC");
    EXPECT_EQ(parse("C:\\rec\\20130526 2030 Film.ts").title, "Film");
    EXPECT_EQ(parse("/rec/20130526 2030 Film.ts").title, "Film");
    EXPECT_EQ(parse("20130526 2030 dir/holiday.ts").title, "Recovered unknown");
    EXPECT_EQ(parse("dir.d/20130526 2030 Film").title, "Film");
    EXPECT_EQ(parse("dir.d/20130526 2030 Film").start, MAY_26_2013_2030_UTC);
    EXPECT_EQ(parse("20130526 2030 Part.1.ts").title, "Part.1");
}

TEST(TsFileName, LongTitlesAreCutAndOddCharactersCleaned)
{
    convtest::TimeZone zone("UTC");
    const std::string sixty(60, 'x');
    Parsed p = parse("20130526 2030 " + sixty + ".ts");
    EXPECT_EQ(p.title, std::string(49, 'x')); // offsets 28 to 76

    p = parse("20130526 2030 Caf\xE9 ?*<>|\":\x01\x7F.ts");
    EXPECT_EQ(p.title, "Caf_ ________\x7F");
}

TEST(TsHeaderBytes, EveryFieldOfAVideoRecording)
{
    StreamInfo info;
    info.program_number = 0x1234;
    info.pmt_pid = 0x100;
    info.video_pid = 0x101;
    info.audio_pid = 0x102;
    info.pcr_pid = 0x103;
    info.length_seconds = 5025;
    RecordEntry entry;
    ts_fill_header(&info, 0x51A26F48, &entry);

    uint8_t expected[RECORD_LENGTH_SHORT] = {};
    expected[11] = 1;
    const uint8_t times[] = {0x51, 0xA2, 0x6F, 0x48, 0x51, 0xA2, 0x82, 0xE9}; // +5025
    memcpy(expected + 17, times, sizeof times);
    memcpy(expected + 77, "REELHEAD", 8);
    expected[106] = 1;
    const uint8_t pids[] = {0x12, 0x34, 0x01, 0x00, 0x01, 0x01, 0x01, 0x02, 0x01, 0x03, 0x20, 0x00};
    memcpy(expected + 275, pids, sizeof pids);
    expected[287] = 0x20;
    expected[289] = 0xFF;
    expected[290] = 0x40;
    expected[295] = 0x23;
    expected[296] = 0x3A;
    for (unsigned i = 0; i < RECORD_LENGTH_SHORT; ++i) {
        if (i >= ENTRY_TITLE && i < ENTRY_TITLE + ENTRY_TITLE_LENGTH)
            continue; // the title is the name parser's
        EXPECT_EQ(entry.bytes[i], expected[i]) << "offset " << i;
    }
}

TEST(TsHeaderBytes, NoVideoMarksAndEndTimeWraps)
{
    StreamInfo info; // nothing found: all PIDs none
    info.length_seconds = 0x200;
    RecordEntry entry;
    ts_fill_header(&info, 0xFFFFFF00, &entry);
    EXPECT_EQ(entry.bytes[ENTRY_NO_VIDEO], 1);
    EXPECT_EQ(entry.bytes[ENTRY_NO_VIDEO_MARKER], 0x20);
    EXPECT_EQ(entry_be16(&entry, ENTRY_VIDEO_PID), PID_NONE);
    EXPECT_EQ(entry_be16(&entry, ENTRY_AUDIO_PID), PID_NONE);
    EXPECT_EQ(entry_be16(&entry, ENTRY_PCR_PID), PID_NONE);
    EXPECT_EQ(entry_be32(&entry, ENTRY_END_TIME), 0x100u);
}

TEST(TsHeaderFile, StartTimeFallsBackToTheModificationTime)
{
    testimg::TempDir dir;
    const std::string stream = dir.file("holiday.ts");
    testimg::write_host_file(stream, {0});
    struct utimbuf times = {1000, 1234567890};
    ASSERT_EQ(utime(stream.c_str(), &times), 0);
    StreamInfo info;
    info.video_pid = 0x44;
    info.length_seconds = 60;
    Error error;
    ASSERT_TRUE(ts_write_header(&info, stream.c_str(), dir.file("holiday.hre").c_str(), &error));

    testimg::Bytes header = testimg::read_host_file(dir.file("holiday.hre"));
    ASSERT_EQ(header.size(), RECORD_LENGTH_SHORT);
    RecordEntry entry;
    memcpy(entry.bytes, header.data(), header.size());
    EXPECT_EQ(entry_be32(&entry, ENTRY_START_TIME), 1234567890u);
    EXPECT_EQ(entry_be32(&entry, ENTRY_END_TIME), 1234567950u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(entry.bytes + TS_TITLE_TEXT)),
              "Recovered unknown");
    EXPECT_EQ(entry.bytes[ENTRY_NO_VIDEO], 0);
}

TEST(TsHeaderFile, HeaderThatCannotBeCreatedIsReported)
{
    testimg::TempDir dir;
    const std::string stream = dir.file("a.ts");
    testimg::write_host_file(stream, {0});
    const std::string header = dir.file("missing/a.hre");
    StreamInfo info;
    Error error;
    EXPECT_FALSE(ts_write_header(&info, stream.c_str(), header.c_str(), &error));
    EXPECT_EQ(error.kind, ErrorKind::Open);
    EXPECT_EQ(error.text, header + ": No such file or directory\n");
}
