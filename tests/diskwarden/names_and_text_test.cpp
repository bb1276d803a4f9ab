// Host names that never collide, disk text that reaches the terminal inert, and paths of
// any length: diskwarden end to end on the shared fixture disk.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

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
    // Recordings that share a name all take their file number; a title that reads like
    // such a name keeps it, and the number that meets it counts on.
    const std::vector<std::string> stems = {"News (5)", "News (12-2)", "NEWS (7)", "News (12)",
                                            "a_b (9)", "a_b (10)"};
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

TEST_F(UniqueHostNames, NoNamePassesToAnotherRecordingWhenOneIsDeleted)
{
    // "News" at one minute on two channels, backed up; then the first is deleted.
    TestRecording first = full_recording(5, "News", 40000), second = full_recording(12, "News", 50000);
    first.start = second.start = SUNDAY_2100;
    second.channel = "BBC TWO";
    make_disk({first, second, full_recording(6, "Other")});
    ASSERT_EQ(run({"-b"}).status, 0);
    const std::string news = host_stem(0, "News");
    EXPECT_EQ(host_file(news + " (5).ts"), first.av);
    EXPECT_EQ(host_file(news + " (12).ts"), second.av);
    std::map<std::string, Bytes> before;
    for (const std::string &name : host_names())
        before[name] = host_file(name);
    ASSERT_EQ(run({"-y", "-d", "1"}).status, 0);
    // The second keeps the name it was backed up under: nothing on the host changes.
    RunResult again = run({"-b"});
    EXPECT_EQ(again.status, 0) << again.err;
    std::map<std::string, Bytes> after;
    for (const std::string &name : host_names())
        after[name] = host_file(name);
    EXPECT_TRUE(after == before);
    EXPECT_FALSE(fs::exists(host + "/" + news + ".ts"));
    // A backup made when the first held the plain name: the second, alone under it now,
    // goes beside it and never onto it.
    for (const char *extension : {".ts", ".elu", ".epg", ".hre"}) {
        fs::rename(host + "/" + news + " (5)" + extension, host + "/" + news + extension);
        fs::remove(host + "/" + news + " (12)" + extension);
    }
    RunResult beside = run({"-b"});
    EXPECT_EQ(beside.status, 0) << beside.err;
    EXPECT_EQ(host_file(news + ".ts"), first.av);
    EXPECT_EQ(host_file(news + ".hre"), before[news + " (5).hre"]); // the first's, as it was
    EXPECT_EQ(host_file(news + " (12).ts"), second.av);
    EXPECT_EQ(host_file(news + " (12).hre"), stored_entry(0));
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
