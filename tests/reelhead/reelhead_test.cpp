// The reelhead program end to end: arguments, messages, skipping and the header files.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/record_entry.h"
#include "converter_testing.h"

using testimg::RunResult;
using tswriter::RecordingSpec;

namespace {

const std::string VERSION = "reelhead version 0.08 - diskwarden project\n";

RunResult reelhead(const testimg::TempDir &dir, const std::vector<std::string> &args)
{
    return testimg::run_program(testimg::reelhead_path(), args, "", dir.path(),
                                {"TZ=Europe/London"});
}

bool exists(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

void write_recording(const std::string &path, unsigned seconds = 10)
{
    RecordingSpec spec;
    spec.seconds = seconds;
    spec.with_nit = true;
    tswriter::make_recording(spec).save(path);
}

RecordEntry read_header(const std::string &path)
{
    RecordEntry entry;
    testimg::Bytes bytes = testimg::read_host_file(path);
    EXPECT_EQ(bytes.size(), RECORD_LENGTH_SHORT);
    memcpy(entry.bytes, bytes.data(), std::min<size_t>(bytes.size(), RECORD_LENGTH_SHORT));
    return entry;
}

std::string analysing(const std::string &path)
{
    return "\nAnalysing transport stream " + path + "\nSearching for PAT...\n";
}

} // namespace

TEST(ReelheadProgram, NoArgumentIsAnError)
{
    testimg::TempDir dir;
    RunResult r = reelhead(dir, {});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, VERSION + "Invalid number of argumanets\n");
    EXPECT_EQ(r.out, "");
}

TEST(ReelheadProgram, WritesTheHeaderBesideTheStream)
{
    testimg::TempDir dir;
    write_recording(dir.file("20130526 2030 Evening News.ts"), 3725);
    RunResult r = reelhead(dir, {"20130526 2030 Evening News.ts"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, ".");
    EXPECT_EQ(r.err, VERSION + analysing("20130526 2030 Evening News.ts") +
                         "Searching for PMT...\n\nPMT 100 found\n"
                         "Recording length: 01:02:05\n"
                         "Start time derived from the filename\n");

    RecordEntry h = read_header(dir.file("20130526 2030 Evening News.hre"));
    EXPECT_EQ(entry_be32(&h, ENTRY_START_TIME), 1369600200u);
    EXPECT_EQ(entry_be32(&h, ENTRY_END_TIME), 1369600200u + 3725);
    EXPECT_STREQ(reinterpret_cast<char *>(h.bytes + ENTRY_TITLE), "\x10i7Evening News");
    EXPECT_STREQ(reinterpret_cast<char *>(h.bytes + ENTRY_CHANNEL), "REELHEAD");
    EXPECT_EQ(entry_be16(&h, ENTRY_SERVICE_ID), 1);
    EXPECT_EQ(entry_be16(&h, ENTRY_PMT_PID), 0x100);
    EXPECT_EQ(entry_be16(&h, ENTRY_VIDEO_PID), 0x200);
    EXPECT_EQ(entry_be16(&h, ENTRY_AUDIO_PID), 0x280);
    EXPECT_EQ(entry_be16(&h, ENTRY_PCR_PID), 0x200);
    EXPECT_EQ(h.bytes[ENTRY_MARKER], 1);
    EXPECT_EQ(h.bytes[ENTRY_NO_VIDEO], 0);
}

TEST(ReelheadProgram, ExistingHeaderIsNeverReplaced)
{
    testimg::TempDir dir;
    testimg::write_host_file(dir.file("a.hre"), {'k', 'e', 'e', 'p'});
    ASSERT_EQ(mkdir(dir.file("b.hre").c_str(), 0755), 0);
    // Neither stream exists: an attempt to open one would end the run.
    RunResult r = reelhead(dir, {"a.ts", "b.ts"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, VERSION + "\nSkipping file \"a.hre\" - it already exists\n" +
                         "\nSkipping file \"b.hre\" - it already exists\n");
    EXPECT_EQ(testimg::read_host_file(dir.file("a.hre")), (testimg::Bytes{'k', 'e', 'e', 'p'}));
}

TEST(ReelheadProgram, MissingStreamEndsTheRun)
{
    testimg::TempDir dir;
    write_recording(dir.file("other.ts"));
    RunResult r = reelhead(dir, {"missing.ts", "other.ts"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, VERSION + "missing.ts: No such file or directory\n");
    EXPECT_FALSE(exists(dir.file("other.hre")));
}

TEST(ReelheadProgram, UnusableStreamsAreSkipped)
{
    testimg::TempDir dir;
    write_recording(dir.file("one.ts"));
    tswriter::TsWriter no_pat;
    no_pat.payload(0x200, 50);
    no_pat.save(dir.file("two.ts"));
    tswriter::TsWriter no_pmt;
    no_pmt.pat({{1, 0x100}});
    no_pmt.payload(0x200, 50);
    no_pmt.save(dir.file("three.ts"));
    write_recording(dir.file("four.ts"), 7);

    RunResult r = reelhead(dir, {"one.ts", "two.ts", "three.ts", "four.ts"});
    EXPECT_EQ(r.status, 1); // two streams were left without a header
    EXPECT_EQ(r.out, "...");
    const std::string found = "Searching for PMT...\n\nPMT 100 found\n";
    EXPECT_EQ(r.err, VERSION + analysing("one.ts") + found + "Recording length: 00:00:10\n" +
                         analysing("two.ts") + "Skipping file \"two.ts\" - unable to find PAT\n" +
                         analysing("three.ts") + "Searching for PMT...\n" +
                         "Skipping file \"three.ts\" - unable to find PMT\n" +
                         analysing("four.ts") + found + "Recording length: 00:00:07\n");
    EXPECT_TRUE(exists(dir.file("one.hre")));
    EXPECT_FALSE(exists(dir.file("two.hre")));
    EXPECT_FALSE(exists(dir.file("three.hre")));
    EXPECT_TRUE(exists(dir.file("four.hre")));
}

TEST(ReelheadProgram, OnlyRegularFilesAreReadAndAnEmptyOneHasNoPat)
{
    // A FIFO would block the open and /dev/zero would be read for ever.
    testimg::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("folder.ts").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(dir.file("pipe.ts").c_str(), 0644), 0);
    testimg::write_host_file(dir.file("empty.ts"), {});
    write_recording(dir.file("good.ts"));
    RunResult r = reelhead(dir, {"folder.ts", "pipe.ts", "/dev/zero", "empty.ts", "good.ts"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(0, r.err.find("\nAnalysing transport stream good.ts")),
              VERSION + "\nSkipping file \"folder.ts\" - not a regular file\n" +
                  "\nSkipping file \"pipe.ts\" - not a regular file\n" +
                  "\nSkipping file \"/dev/zero\" - not a regular file\n" +
                  analysing("empty.ts") + "Skipping file \"empty.ts\" - unable to find PAT\n");
    EXPECT_FALSE(exists(dir.file("pipe.hre")));
    EXPECT_TRUE(exists(dir.file("good.hre")));
}

TEST(ReelheadProgram, AHeaderThatCannotBeCreatedFailsTheRunAtItsEnd)
{
    // The stream's name fits, its header's (".hre" added) is one byte too long for the
    // file system: creating it fails even for root. The next stream has no PCR: it still
    // gets a header, after a warning.
    testimg::TempDir dir;
    const std::string stream(252, 's');
    write_recording(dir.file(stream));
    tswriter::TsWriter flat;
    flat.pat({{1, 0x100}});
    flat.pmt(0x100, 1, 0x200, {{2, 0x200}});
    flat.payload(0x200, 20);
    flat.save(dir.file("flat.ts"));
    RunResult r = reelhead(dir, {stream, "flat.ts"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(stream + ".hre: File name too long\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("PMT 100 found\nWarning: no PCR found - the recording length is "
                         "unknown and set to 0\nRecording length: 00:00:00\n"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(exists(dir.file("flat.hre")));
}

TEST(ReelheadProgram, HeaderNameReplacesOnlyTheBaseNamesExtension)
{
    testimg::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("dir.d").c_str(), 0755), 0);
    const std::vector<std::pair<std::string, std::string>> names = {
        {"show.part1.ts", "show.part1.hre"},
        {"rec.mpg", "rec.hre"},
        {"recording", "recording.hre"},
        {"dir.d/recording", "dir.d/recording.hre"},
    };
    std::vector<std::string> args;
    for (const auto &[stream, header] : names) {
        write_recording(dir.file(stream));
        args.push_back(stream);
    }
    RunResult r = reelhead(dir, args);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const auto &[stream, header] : names)
        EXPECT_TRUE(exists(dir.file(header))) << header;
    EXPECT_FALSE(exists(dir.file(".hre")));
    EXPECT_FALSE(exists(dir.file("dir.hre")));
}

TEST(ReelheadProgram, OverlongPathIsRefusedAndTheRunGoesOn)
{
    testimg::TempDir dir;
    const std::string longest = "./" + std::string(249, 'a') + ".ts"; // 254 characters
    const std::string too_long = "./" + std::string(250, 'b') + ".ts";
    ASSERT_EQ(longest.size(), 254u);
    write_recording(dir.file(longest));
    write_recording(dir.file(too_long));
    RunResult r = reelhead(dir, {too_long, longest});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind(VERSION + "\nSkipping file \"" + too_long +
                              "\" - the path is longer than 254 characters\n" +
                              analysing(longest),
                          0),
              0u)
        << r.err;
    EXPECT_TRUE(exists(dir.file(std::string(249, 'a') + ".hre")));
    EXPECT_FALSE(exists(dir.file(std::string(250, 'b') + ".hre")));
}

TEST(ReelheadProgram, StreamMadeByFfmpeg)
{
    const std::string ffmpeg = testimg::find_on_path("ffmpeg");
    if (ffmpeg.empty())
        GTEST_SKIP() << "ffmpeg is not installed";
    testimg::TempDir dir;
    RunResult made = testimg::run_program(
        ffmpeg,
        {"-loglevel", "error", "-nostdin", "-f", "lavfi", "-i",
         "testsrc=duration=12:size=320x240:rate=25", "-f", "lavfi", "-i",
         "sine=frequency=440:duration=12", "-c:v", "mpeg2video", "-c:a", "mp2", "-f", "mpegts",
         "-mpegts_pmt_start_pid", "4096", "-mpegts_start_pid", "256", "clip.ts"},
        "", dir.path());
    ASSERT_EQ(made.status, 0) << made.err;

    RunResult r = reelhead(dir, {"clip.ts"});
    EXPECT_EQ(r.status, 0) << r.err;
    RecordEntry h = read_header(dir.file("clip.hre"));
    EXPECT_EQ(entry_be16(&h, ENTRY_PMT_PID), 0x1000);
    EXPECT_EQ(entry_be16(&h, ENTRY_VIDEO_PID), 0x100);
    EXPECT_EQ(entry_be16(&h, ENTRY_AUDIO_PID), 0x101);
    EXPECT_NE(entry_be16(&h, ENTRY_PCR_PID), PID_NONE);
    const int64_t length = int64_t{entry_be32(&h, ENTRY_END_TIME)} -
                           int64_t{entry_be32(&h, ENTRY_START_TIME)};
    EXPECT_GE(length, 11); // within a second of the 12 s clip
    EXPECT_LE(length, 13);
}
