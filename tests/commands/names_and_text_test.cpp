// Host names that never collide, disk text that reaches the terminal inert, and paths of
// any length: diskwarden end to end on the shared fixture disk.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "disk_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace testimg;
using ::testing::HasSubstr;

// ---- Host names that never collide ------------------------------------------------

class UniqueHostNames : public DiskFixture {
  protected:
    std::vector<TestRecording> recordings;

    // Six recordings of one minute whose names would meet: twins, a title differing only
    // in case, a real title that reads like a suffix, and titles differing only in a
    // replaced character.
    void SetUp() override
    {
        DiskFixture::SetUp();
        const std::pair<unsigned, const char *> made[] = {
            {5, "News"}, {12, "News"}, {7, "NEWS"}, {8, "News (12)"}, {9, "a/b"}, {10, "a:b"}};
        for (const auto &[number, title] : made) {
            TestRecording r = full_recording(number, title, 40000 + number);
            r.start = SUNDAY_2100;
            recordings.push_back(r);
        }
        make_disk(recordings);
    }

    // Each recording's stream and header are its own, under the name it must get.
    void expect_paired(const std::vector<std::string> &stems)
    {
        for (size_t i = 0; i < stems.size(); ++i) {
            EXPECT_EQ(host_file(stems[i] + ".ts"), recordings[i].av) << stems[i];
            EXPECT_EQ(host_file(stems[i] + ".hre"), stored_entry(i)) << stems[i];
        }
    }
};

TEST_F(UniqueHostNames, BackupKeepsEveryRecordingApartRunAfterRun)
{
    const std::vector<std::string> stems = {
        host_stem(0, "News"),           host_stem(0, "News (12)"),     host_stem(0, "NEWS (7)"),
        host_stem(0, "News (12) (8)"), host_stem(0, "a_b"),           host_stem(0, "a_b (10)")};
    RunResult first = run({"-b"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(host_names().size(), 4 * stems.size());
    expect_paired(stems);

    // A resumed backup skips every stream and writes each header beside its own stream.
    RunResult again = run({"-b"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(host_names().size(), 4 * stems.size());
    expect_paired(stems);

    // Recording 2 alone gets the name the backup gave it.
    for (const std::string &name : host_names())
        fs::remove(host + "/" + name);
    EXPECT_EQ(run({"-g", "2"}).status, 0);
    EXPECT_EQ(host_names(), (std::vector<std::string>{stems[1] + ".elu", stems[1] + ".epg",
                                                      stems[1] + ".hre", stems[1] + ".ts"}));
    EXPECT_EQ(host_file(stems[1] + ".ts"), recordings[1].av);
}

// ---- Disk text reaches the terminal inert -----------------------------------------

// The first byte a terminal would act on (controls other than the newline, DEL, C1),
// or -1 when there is none.
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
    const std::string stem = host_stem(0, "Film_]0;owned_ _2J Caf__");
    ASSERT_EQ(run({"-g", "1"}).status, 0);
    RunResult refused = run({"-g", "1"}, "no\n");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "File \"" + stem + ".ts\" already exists, overwrite? [no]: ");
}

TEST_F(InertText, RecoveryListingsAndMessages)
{
    make_disk({full_recording(5, "Plain")});
    const std::string name = "\x1B[2J\x9B" "1.av";
    {
        DiskImage image(path);
        image.add_file(0, name, pattern_bytes(5000, 3), 0x1002);
        image.add_file(1, "\x1B[2J\x9B" "1.epg",
                       make_epg({{SUNDAY_2100, 60, "T\x07itle", "S"}}, 328));
    }
    RunResult listed = run({"-r", "-x", "-l"});
    EXPECT_EQ(first_active_byte(listed.out), -1) << listed.out;
    EXPECT_THAT(listed.out, HasSubstr("  2 .[2J.1.av: T.itle\n"));

    // The stream is copied; its missing companion is named inertly.
    RunResult got = run({"-r", "-g", "2"});
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(first_active_byte(got.err), -1) << got.err;
    EXPECT_THAT(got.err, HasSubstr("Error opening .[2J.1.elu\n"));

    // -E names programme-information files from the directory.
    RunResult updated = run({"-E"});
    EXPECT_EQ(updated.status, 0) << updated.err;
    EXPECT_EQ(first_active_byte(updated.err), -1) << updated.err;
    EXPECT_THAT(updated.err, HasSubstr("Updating .[2J.1.epg to v20+\n"));
}

// ---- Paths of any length ----------------------------------------------------------

using LongPaths = DiskFixture;

TEST_F(LongPaths, ImagePathsAndPutNamesOfAnyLengthWork)
{
    // An image 200 characters deep, and a recording put back under a 150-character name.
    std::string folder = dir.file(std::string(90, 'd'));
    fs::create_directories(folder + "/" + std::string(90, 'e'));
    const std::string image = folder + "/" + std::string(90, 'e') + "/disk.img";
    ASSERT_GE(image.size(), 200u);
    make_disk({full_recording(5, "Alpha")}, {}, fixture_spec(), image);
    ASSERT_EQ(run({"-g", "1"}, "", {image}).status, 0);
    const std::string stem = host_stem(0, "Alpha");
    const std::string long_stem = std::string(150, 'n');
    for (const char *ext : {".ts", ".hre", ".elu", ".epg"})
        fs::rename(host + "/" + stem + ext, host + "/" + long_stem + ext);

    RunResult put = run({"-y", "-p", long_stem + ".ts"}, "", {image});
    EXPECT_EQ(put.status, 0) << put.err;
    RunResult listed = run({"-l"}, "", {image});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_THAT(listed.out, HasSubstr("  2: Sun 26/05/13 21:00  1:30:00 Alpha - BBC ONE\n"));
}

} // namespace
