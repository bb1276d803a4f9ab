// Host names that never collide, disk text that reaches the terminal inert, and paths of
// any length: diskwarden end to end on the shared fixture disk.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "disk_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace testimg;
using ::testing::HasSubstr;
using ::testing::Not;

// ---- Host names that never collide ------------------------------------------------

using UniqueHostNames = DiskFixture;

TEST_F(UniqueHostNames, BackupKeepsEveryRecordingApartRunAfterRun)
{
    // One minute, names that would meet: twins, a case difference, a title that reads
    // like a suffix, titles that differ only in a replaced character.
    std::vector<TestRecording> recordings;
    const std::pair<unsigned, const char *> made[] = {
        {5, "News"}, {12, "News"}, {7, "NEWS"}, {8, "News (12)"}, {9, "a/b"}, {10, "a:b"}};
    for (const auto &[number, title] : made) {
        recordings.push_back(full_recording(number, title, 40000 + number));
        recordings.back().start = SUNDAY_2100;
    }
    make_disk(recordings);
    const std::vector<std::string> stems = {"News", "News (12)", "NEWS (7)", "News (12) (8)",
                                            "a_b", "a_b (10)"};
    // Each stream and header are the recording's own, under the name it must get; a
    // resumed backup skips every stream and writes each header beside its own stream.
    for (int pass = 0; pass < 2; ++pass) {
        RunResult backup = run({"-b"});
        ASSERT_EQ(backup.status, 0) << backup.err;
        EXPECT_EQ(host_names().size(), 4 * stems.size());
        for (size_t i = 0; i < stems.size(); ++i) {
            EXPECT_EQ(host_file(host_stem(0, stems[i]) + ".ts"), recordings[i].av) << i;
            EXPECT_EQ(host_file(host_stem(0, stems[i]) + ".hre"), stored_entry(i)) << i;
        }
    }
    // Recording 2 alone gets the name the backup gave it.
    fs::remove_all(host);
    fs::create_directory(host);
    EXPECT_EQ(run({"-g", "2"}).status, 0);
    EXPECT_EQ(host_file(host_stem(0, stems[1]) + ".ts"), recordings[1].av);
}

// ---- Disk text reaches the terminal inert -----------------------------------------

// The first byte a terminal would act on (a control other than the newline, DEL, C1),
// or -1.
int first_active_byte(const std::string &text)
{
    for (unsigned char c : text) {
        if ((c < 0x20 && c != '\n') || (c >= 0x7F && c <= 0x9F))
            return c;
    }
    return -1;
}

using InertText = DiskFixture;

TEST_F(InertText, ListingsInformationAndHostNames)
{
    TestRecording r = full_recording(5, "Film\x1B]0;owned\x07 \x9B" "2J Caf\xE9\x7F");
    r.channel = "BBC\x1B[2J";
    r.epg = make_epg({{SUNDAY_2100, 5400, "Part\x1B[31m one", "Synopsis\r\x1B[H\x85 end"}}, 332);
    make_disk({r});
    RunResult listed = run({"-l", "-i", "1"});
    EXPECT_EQ(first_active_byte(listed.out), -1) << listed.out;
    const std::string line =
        "  1: Sun 26/05/13 21:00  1:30:00 Film.]0;owned. .2J Caf\xE9. - BBC.[2J\n";
    EXPECT_EQ(listed.out.rfind(line, 0), 0u) << listed.out;
    EXPECT_THAT(listed.out, HasSubstr(line + "LCN: 0\n\nPart.[31m one (1:30:00)\n"
                                             "Synopsis..[H. end\n"));

    // Messages name host files, whose names hold no such byte: DEL becomes '_' too.
    ASSERT_EQ(run({"-g", "1"}).status, 0);
    RunResult refused = run({"-g", "1"}, "no\n");
    EXPECT_EQ(refused.err, "File \"" + host_stem(0, "Film_]0;owned_ _2J Caf__") +
                               ".ts\" already exists, overwrite? [no]: ");
}

TEST_F(InertText, RecoveryListingsAndMessages)
{
    make_disk({full_recording(5, "Plain")});
    {
        DiskImage image(path);
        image.add_file(0, "\x1B[2J\x9B" "1.av", pattern_bytes(5000, 3), 0x1002);
        image.add_file(1, "\x1B[2J\x9B" "1.epg", make_epg({{SUNDAY_2100, 60, "T\x07itle", "S"}}));
    }
    RunResult listed = run({"-r", "-x", "-l"});
    EXPECT_EQ(first_active_byte(listed.out), -1) << listed.out;
    EXPECT_THAT(listed.out, HasSubstr("  2 .[2J.1.av: T.itle\n"));
    // The missing companion of the copied stream. (-E names only N.epg files, which are
    // digits; it leaves this one alone.)
    RunResult got = run({"-r", "-g", "2"});
    RunResult updated = run({"-E"});
    EXPECT_EQ(got.status + updated.status, 0) << got.err << updated.err;
    EXPECT_EQ(first_active_byte(got.err + updated.err), -1) << got.err << updated.err;
    EXPECT_THAT(got.err, HasSubstr("Error opening .[2J.1.elu\n"));
    EXPECT_THAT(updated.err, Not(HasSubstr("1.epg to v20+")));
}

// ---- Paths of any length ----------------------------------------------------------

using LongPaths = DiskFixture;

TEST_F(LongPaths, ImagePathsAndPutNamesOfAnyLengthWork)
{
    // An image over 200 characters deep; a recording put back under a 150-character name.
    const std::string folder = dir.file(std::string(90, 'd') + "/" + std::string(90, 'e'));
    fs::create_directories(folder);
    const std::string image = folder + "/disk.img";
    make_disk({full_recording(5, "Alpha")}, {}, fixture_spec(), image);
    ASSERT_EQ(run({"-g", "1"}, "", {image}).status, 0);
    const std::string long_stem(150, 'n');
    for (const char *ext : {".ts", ".hre", ".elu", ".epg"})
        fs::rename(host + "/" + host_stem(0, "Alpha") + ext, host + "/" + long_stem + ext);
    RunResult put = run({"-y", "-p", long_stem + ".ts"}, "", {image});
    EXPECT_EQ(put.status, 0) << put.err;
    EXPECT_THAT(run({"-l"}, "", {image}).out,
                HasSubstr("  2: Sun 26/05/13 21:00  1:30:00 Alpha - BBC ONE\n"));
}

} // namespace
