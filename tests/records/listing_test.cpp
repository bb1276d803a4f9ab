// The numbered list of recordings and the host file names of recordings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/run_options.h"
#include "disk/directory.h"
#include "disk_image.h"
#include "disk_opening.h"
#include "records/listing.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;

constexpr uint32_t SUNDAY_2100 = 1369602000; // Sun 26 May 2013 21:00 UTC
const std::string PREFIX("\x10\x69\x37", 3);

struct Row {
    unsigned file_number;
    uint32_t start;
    uint32_t end;
    std::string title;
    bool has_av = true;
    std::string channel = "BBC ONE";
};

class Listing : public ::testing::Test {
  protected:
    testimg::TempDir dir;
    std::string path = dir.file("disk.img");
    HumaxDisk *disk = nullptr;

    void SetUp() override { run_options = RunOptions{}; }
    void TearDown() override { disk_close(disk); }

    // Writes the rows as the record list (extra raw entries after them) and opens the disk.
    void open_with(const std::vector<Row> &rows, const std::vector<Bytes> &extra = {})
    {
        DiskImage image(path, testimg::default_spec());
        std::vector<Bytes> entries;
        for (const Row &r : rows) {
            if (r.has_av)
                image.add_file(0, std::to_string(r.file_number) + ".av", testimg::pattern_bytes(100));
            entries.push_back(testimg::make_entry(304, r.file_number, r.start, r.end, r.title, r.channel));
        }
        entries.insert(entries.end(), extra.begin(), extra.end());
        image.write_record_list(entries, 304);
        disk = testimg::open_disk(path);
    }

    std::string walk(int number, char *host_name = nullptr, RecordEntry **result = nullptr)
    {
        testing::internal::CaptureStdout();
        RecordEntry *entry = reclist_walk(disk, number, host_name);
        if (result != nullptr)
            *result = entry;
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(Listing, LinesForPresentAndMissingStreamsAndAnyLength)
{
    open_with({{5, SUNDAY_2100, SUNDAY_2100 + 5400, PREFIX + "Some title"},
               {7, SUNDAY_2100, SUNDAY_2100 - 90, "Backwards", false},
               {12, 0, 360061, "Marathon", true, "ABCDEFGHIJKLMNOPQRSTUVWX"},
               {3, SUNDAY_2100, SUNDAY_2100 + 59, "Short", false}});
    RecordEntry *last = nullptr;
    EXPECT_EQ(walk(0, nullptr, &last),
              "  1: Sun 26/05/13 21:00  1:30:00 Some title - BBC ONE\n"
              "{  2}: Sun 26/05/13 21:00  0:-1:-30 Backwards - BBC ONE\n"
              "  3: Thu 01/01/70 00:00 100:01:01 Marathon - ABCDEFGHIJKLMNOPQRSTUVWX\n"
              "{  4}: Sun 26/05/13 21:00  0:00:59 Short - BBC ONE\n");
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(entry_be16(last, ENTRY_FILE_NUMBER), 3);
}

TEST_F(Listing, ExtendedLinesShowTheFileNumber)
{
    open_with({{5, SUNDAY_2100, SUNDAY_2100 + 60, "Five"}, {123, SUNDAY_2100, SUNDAY_2100, "Gone", false}});
    run_options.extended = 1;
    EXPECT_EQ(walk(0), "  1:  5.av Sun 26/05/13 21:00  0:01:00 Five - BBC ONE\n"
                       "{  2}:123.av Sun 26/05/13 21:00  0:00:00 Gone - BBC ONE\n");
}

TEST_F(Listing, NumberingStopsAtAnUnusableEntry)
{
    Bytes zero = testimg::make_entry(304, 0, SUNDAY_2100, SUNDAY_2100, "Zero");
    Bytes after = testimg::make_entry(304, 9, SUNDAY_2100, SUNDAY_2100, "After");
    open_with({{5, SUNDAY_2100, SUNDAY_2100, "One"}}, {zero, after});
    EXPECT_EQ(walk(0), "  1: Sun 26/05/13 21:00  0:00:00 One - BBC ONE\n");
    EXPECT_EQ(walk(2), "");
    EXPECT_EQ(walk(3), "");
    disk_close(disk);

    Bytes mismatch = testimg::make_entry(304, 8, SUNDAY_2100, SUNDAY_2100, "Mismatch");
    mismatch[10] = 9; // the second copy of the file number says 9
    open_with({{5, SUNDAY_2100, SUNDAY_2100, "One"}}, {mismatch, after});
    EXPECT_EQ(walk(0), "  1: Sun 26/05/13 21:00  0:00:00 One - BBC ONE\n");
}

TEST_F(Listing, OneNumberPrintsOnlyItsLineAndReturnsItsEntry)
{
    open_with({{5, SUNDAY_2100, SUNDAY_2100, "One"},
               {6, SUNDAY_2100, SUNDAY_2100, "Two"},
               {7, SUNDAY_2100, SUNDAY_2100, "Three"}});
    RecordEntry *entry = nullptr;
    EXPECT_EQ(walk(2, nullptr, &entry), "  2: Sun 26/05/13 21:00  0:00:00 Two - BBC ONE\n");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry_be16(entry, ENTRY_FILE_NUMBER), 6);
    EXPECT_EQ(walk(4, nullptr, &entry), "");
    EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(walk(-1, nullptr, &entry), "");
    EXPECT_EQ(entry, nullptr);

    // For commands, 0 names no recording; for -l it is the whole list.
    testing::internal::CaptureStdout();
    EXPECT_EQ(reclist_walk_to(disk, 0, nullptr), nullptr);
    EXPECT_EQ(reclist_walk_to(disk, -3, nullptr), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    testing::internal::CaptureStdout();
    entry = reclist_walk_to(disk, 3, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "  3: Sun 26/05/13 21:00  0:00:00 Three - BBC ONE\n");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry_be16(entry, ENTRY_FILE_NUMBER), 7);
}

TEST_F(Listing, AnEmptyListPrintsNothing)
{
    open_with({});
    EXPECT_EQ(walk(0), "");
    EXPECT_EQ(walk(1), "");
}

TEST_F(Listing, TitlePrefixesAndUnprintableBytes)
{
    open_with({{5, SUNDAY_2100, SUNDAY_2100, std::string("\x15" "Cyrillic")},
               {6, SUNDAY_2100, SUNDAY_2100, std::string("\x05" "Five")},
               {7, SUNDAY_2100, SUNDAY_2100, "Tab\there\x1B[2J Caf\xE9 \x7F"},
               {8, SUNDAY_2100, SUNDAY_2100, std::string("\x10\x00\x01" "Odd table", 12)}});
    EXPECT_EQ(walk(0), "  1: Sun 26/05/13 21:00  0:00:00 Unsupported character encoding - BBC ONE\n"
                       "  2: Sun 26/05/13 21:00  0:00:00 Five - BBC ONE\n"
                       "  3: Sun 26/05/13 21:00  0:00:00 Tab.here.[2J Caf\xE9 . - BBC ONE\n"
                       "  4: Sun 26/05/13 21:00  0:00:00 Odd table - BBC ONE\n");
}

TEST_F(Listing, HostNameUsesTheFileNameDateAndIsCleaned)
{
    open_with({{5, SUNDAY_2100, SUNDAY_2100 + 5400, PREFIX + "Some title"},
               {6, SUNDAY_2100, SUNDAY_2100 + 60, "AC/DC: Live? \"Best\" <of> *|\\ Caf\xE9"},
               {7, SUNDAY_2100, SUNDAY_2100 + 60, PREFIX + "A\x01" "B. C"},
               {8, SUNDAY_2100, SUNDAY_2100, std::string("\x1A" "Other")},
               {9, SUNDAY_2100, SUNDAY_2100, std::string(52, 'L')}});
    char host[HOST_NAME_SIZE];
    EXPECT_EQ(walk(1, host), "  1: 20130526 2100  1:30:00 Some title - BBC ONE\n");
    EXPECT_STREQ(host, "20130526 2100 Some title.ts");
    // The list line shows the title as it is; only the host name is cleaned.
    EXPECT_EQ(walk(2, host),
              "  2: 20130526 2100  0:01:00 AC/DC: Live? \"Best\" <of> *|\\ Caf\xE9 - BBC ONE\n");
    EXPECT_STREQ(host, "20130526 2100 AC_DC_ Live_ _Best_ _of_ ___ Caf_.ts");
    EXPECT_EQ(walk(3, host), "  3: 20130526 2100  0:01:00 A.B. C - BBC ONE\n");
    EXPECT_STREQ(host, "20130526 2100 A_B. C.ts");
    walk(4, host);
    EXPECT_STREQ(host, "20130526 2100 Unsupported character encoding.ts");
    walk(5, host);
    EXPECT_EQ(std::string(host), "20130526 2100 " + std::string(52, 'L') + ".ts");
}

TEST_F(Listing, HostStemsAreUniqueAndMadeWithoutPrinting)
{
    open_with({{5, SUNDAY_2100, SUNDAY_2100, "Twin"},
               {13, SUNDAY_2100, SUNDAY_2100, "Twin (12)"},
               {12, SUNDAY_2100, SUNDAY_2100, "twin"},
               {12, SUNDAY_2100, SUNDAY_2100, "Twin", false}, // a damaged list: number 12 twice
               {15, SUNDAY_2100, SUNDAY_2100, "Del\x7F"}});
    const std::vector<std::string> expected = {
        "20130526 2100 Twin (5)", "20130526 2100 Twin (12)", "20130526 2100 twin (12-2)",
        "20130526 2100 Twin (12-3)", "20130526 2100 Del_"};
    testing::internal::CaptureStdout();
    EXPECT_EQ(reclist_host_stems(disk), expected);
    EXPECT_EQ(reclist_host_stem(disk, 3), expected[2]);
    EXPECT_EQ(reclist_host_stem(disk, 6), std::nullopt);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(Listing, StartTimesFrom2038OnAreDates)
{
    open_with({{5, 0x80000000u, 0x80000000u + 60, "Epoch overflow"},
               {6, 0xFFFFFFFFu, 0xFFFFFFFFu, "Last second"}});
    EXPECT_EQ(walk(0), "  1: Tue 19/01/38 03:14  0:01:00 Epoch overflow - BBC ONE\n"
                       "  2: Sun 07/02/06 06:28  0:00:00 Last second - BBC ONE\n");
    char host[HOST_NAME_SIZE];
    walk(1, host);
    EXPECT_STREQ(host, "20380119 0314 Epoch overflow.ts");
    walk(2, host);
    EXPECT_STREQ(host, "21060207 0628 Last second.ts");
}

TEST_F(Listing, EachStreamIsLookedUpOncePerRun)
{
    open_with({{5, SUNDAY_2100, SUNDAY_2100, "One"},
               {6, SUNDAY_2100, SUNDAY_2100, "Two"},
               {7, SUNDAY_2100, SUNDAY_2100, "Three", false}});
    // Asking for one number still looks up every numbered recording.
    walk(1);
    PartitionInfo *av = &disk->partitions[PARTITION_AV];
    dir_remove_entry(av, dir_find(av, "6.av"));
    DirEntry *added = dir_new_entry(av);
    dirent_set_name(added, "7.av");
    EXPECT_EQ(walk(0), "  1: Sun 26/05/13 21:00  0:00:00 One - BBC ONE\n"
                       "  2: Sun 26/05/13 21:00  0:00:00 Two - BBC ONE\n"
                       "{  3}: Sun 26/05/13 21:00  0:00:00 Three - BBC ONE\n");
}

} // namespace
