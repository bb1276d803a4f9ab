// Programme information of a recording (-i, and the recovery listing's modes).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>

#include "common/run_options.h"
#include "disk_image.h"
#include "common/error.h"
#include "disk_opening.h"
#include "records/info.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;
using testimg::EpgEventSpec;

constexpr uint32_t START = 1369602000; // Sun 26 May 2013 21:00 UTC
constexpr uint32_t FORMAT_DETECT = 0xE000000F;
const std::string RULE = std::string(80, '=') + "\n";
const std::string PREFIX("\x10\x69\x37", 3);
const std::string NO_INFO = "No further information available for this recording\n" + RULE;

struct Recording {
    unsigned file_number;
    uint32_t length;                // seconds from start to end
    std::optional<Bytes> epg;       // none: no N.epg on the disk
    bool is_protected = false;
    uint16_t lcn = 0;
};

struct Output {
    int result;
    std::string out;
    std::string err;
};

// Events back to back from START, with the given durations and titles "E1", "E2", ...
// and synopses "S1", "S2", ...
std::vector<EpgEventSpec> back_to_back(const std::vector<uint32_t> &durations)
{
    std::vector<EpgEventSpec> events;
    uint32_t at = START;
    for (size_t i = 0; i < durations.size(); ++i) {
        std::string n = std::to_string(i + 1);
        events.push_back({at, durations[i], "E" + n, "S" + n});
        at += durations[i];
    }
    return events;
}

std::string event(const std::string &title, const std::string &duration, const std::string &synopsis)
{
    return "\n" + title + " (" + duration + ")\n" + synopsis + "\n";
}

class Info : public ::testing::Test {
  protected:
    testimg::TempDir dir;
    std::string path = dir.file("disk.img");
    HumaxDisk *disk = nullptr;

    void SetUp() override { run_options = RunOptions{}; }
    void TearDown() override { disk_close(disk); }

    void open_with(const std::vector<Recording> &recordings, unsigned record_length = 304,
                   const std::vector<Bytes> &extra_entries = {})
    {
        testimg::ImageSpec spec = testimg::default_spec();
        if (record_length == 316)
            spec.partitions[1].format_code = FORMAT_DETECT;
        DiskImage image(path, spec);
        std::vector<Bytes> entries;
        for (const Recording &r : recordings) {
            std::string n = std::to_string(r.file_number);
            image.add_file(0, n + ".av", testimg::pattern_bytes(64));
            if (r.epg)
                image.add_file(1, n + ".epg", *r.epg, 0x1000, testimg::Placement::Fragmented);
            Bytes entry = testimg::make_entry(record_length, r.file_number, START, START + r.length,
                                              "Film", "BBC ONE", r.is_protected);
            entry[105] = static_cast<uint8_t>(r.lcn >> 8);
            entry[106] = static_cast<uint8_t>(r.lcn);
            entries.push_back(entry);
        }
        entries.insert(entries.end(), extra_entries.begin(), extra_entries.end());
        image.write_record_list(entries, record_length);
        disk = testimg::open_disk(path);
    }

    // One recording of `length` seconds with this .epg file.
    void open_with_epg(const Bytes &epg, uint32_t length = 3600) { open_with({{5, length, epg}}); }

    static Output capture(const std::function<int()> &action)
    {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int result = action();
        std::string err = testing::internal::GetCapturedStderr();
        return {result, testing::internal::GetCapturedStdout(), err};
    }

    // 0 for information shown, 1 for the fallback text, -1 for a failed read.
    static int result_of(InfoShown shown)
    {
        return shown == InfoShown::Shown ? 0 : shown == InfoShown::Fallback ? 1 : -1;
    }

    Output info(int number)
    {
        Error error;
        return capture([&] { return cmd_info(disk, number, &error) ? 0 : -1; });
    }

    Output show(InfoMode mode, bool with_entry = true, const char *name = "5.epg")
    {
        const RecordEntry *entry = with_entry ? disk->records.head : nullptr;
        Error error;
        return capture([&] { return result_of(info_show(stdout, disk, name, entry, mode, &error)); });
    }
};

TEST_F(Info, FullInformationAfterTheListLine)
{
    open_with({{5, 3600, testimg::make_epg(back_to_back({1800, 3725}), 328), true, 1234}});
    Output o = info(1);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, "  1: Sun 26/05/13 21:00  1:00:00 Film - BBC ONE\n"
                     "LCN: 1234 (Protected)\n" +
                         event("E1", "0:30:00", "S1") + event("E2", "0:30:00", "S2") + RULE);

    // A read-only mount renders the same text into memory, printing nothing.
    char *data = nullptr;
    size_t size = 0;
    FILE *buffer = open_memstream(&data, &size);
    Error error;
    EXPECT_EQ(capture([&] { return info_describe(buffer, disk, 1, &error) ? 0 : 1; }).out, "");
    fclose(buffer);
    EXPECT_EQ(std::string(data, size), o.out);
    free(data);
}

TEST_F(Info, RecordSizeIsWhereTheSecondEventStarts)
{
    std::vector<EpgEventSpec> events = back_to_back({1800, 900, 7200});
    events[2].title = PREFIX + "Third";
    std::string expected = "LCN: 0\n" + event("E1", "0:30:00", "S1") + event("E2", "0:15:00", "S2") +
                           event("Third", "0:15:00", "S3") + RULE;
    for (unsigned size : {328u, 332u}) {
        open_with_epg(testimg::make_epg(events, size));
        Output o = show(INFO_FULL);
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.out, expected) << size;
        disk_close(disk);
        disk = nullptr;
    }
}

TEST_F(Info, ShorterRecordsAreTriedFirst)
{
    // The second event's duration also equals the end of the first event, so the larger
    // size would match as well.
    std::vector<EpgEventSpec> events = back_to_back({600, 0});
    events[1].duration = START + 600;
    open_with_epg(testimg::make_epg(events, 328), 0x7FFFFFFF);
    Output o = show(INFO_FULL);
    EXPECT_THAT(o.out, testing::HasSubstr("\nE2 ("));
}

TEST_F(Info, ASingleEventIsReadWithShortRecords)
{
    // A second record follows in the larger layout, but the count says one event.
    std::string synopsis(265, 's');
    Bytes epg = testimg::make_epg({{START, 600, "Only", synopsis}, {START + 600, 60, "Extra", ""}}, 332);
    testimg::put_be32(epg, 0, 1);
    open_with_epg(epg);
    Output o = show(INFO_FULL);
    // Read as 328 bytes, the synopsis has room for 261 characters (one word, not cut).
    EXPECT_EQ(o.out, "LCN: 0\n" + event("Only", "1:00:00", std::string(261, 's')) + RULE);
}

TEST_F(Info, RepeatedStartsCountButAreNotShown)
{
    std::vector<EpgEventSpec> events = back_to_back({600, 300, 900});
    events.insert(events.begin() + 1, events[0]); // E1 again
    open_with_epg(testimg::make_epg(events, 328), 3600);
    Output o = show(INFO_FULL);
    // Four counted events: the last one takes the rest of the hour (3600 - 600 - 300).
    EXPECT_EQ(o.out, "LCN: 0\n" + event("E1", "0:10:00", "S1") + event("E2", "0:05:00", "S2") +
                         event("E3", "0:45:00", "S3") + RULE);
}

TEST_F(Info, EventsWithoutDurationAreNotCounted)
{
    std::vector<EpgEventSpec> events = back_to_back({0, 600, 1200});
    Bytes epg = testimg::make_epg(events, 328);
    testimg::put_be32(epg, 0, 2); // the count leaves out the empty event
    open_with_epg(epg, 1000);
    Output o = show(INFO_FULL);
    EXPECT_EQ(o.out, "LCN: 0\n" + event("E2", "0:10:00", "S2") + event("E3", "0:06:40", "S3") + RULE);
}

TEST_F(Info, TheLastEventNeverShowsANegativeRest)
{
    open_with_epg(testimg::make_epg(back_to_back({900, 900}), 328), 600);
    EXPECT_EQ(show(INFO_FULL).out,
              "LCN: 0\n" + event("E1", "0:15:00", "S1") + event("E2", "0:00:00", "S2") + RULE);
    disk_close(disk);

    // A recording whose end lies before its start.
    open_with_epg(testimg::make_epg(back_to_back({60}), 328), static_cast<uint32_t>(-90));
    EXPECT_EQ(show(INFO_FULL).out, "LCN: 0\n" + event("E1", "0:00:00", "S1") + RULE);
}

TEST_F(Info, ATruncatedFileEndsAtItsLastWholeRecord)
{
    Bytes epg = testimg::make_epg(back_to_back({600, 600, 600, 600}), 328);
    epg.resize(4 + 2 * 328 + 100);
    open_with_epg(epg);
    Output o = show(INFO_FULL);
    EXPECT_EQ(o.result, 0);
    // Neither shown event is the last counted one: both show their own durations.
    EXPECT_EQ(o.out, "LCN: 0\n" + event("E1", "0:10:00", "S1") + event("E2", "0:10:00", "S2") + RULE);
}

TEST_F(Info, FallbackWhenThereIsNothingToShow)
{
    Bytes no_events = testimg::make_epg({}, 328);
    Bytes short_count = {0, 0};
    Bytes half_record = testimg::make_epg(back_to_back({600}), 328);
    half_record.resize(200);
    Bytes all_empty = testimg::make_epg(back_to_back({0, 0}), 328);
    open_with({{5, 3600, std::nullopt},
               {6, 3600, no_events},
               {7, 3600, short_count},
               {8, 3600, half_record},
               {9, 3600, all_empty}});
    for (int number = 1; number <= 5; ++number) {
        Output o = info(number);
        EXPECT_EQ(o.result, 0);
        EXPECT_THAT(o.out, testing::EndsWith("LCN: 0\n" + NO_INFO)) << number;
    }
    for (const char *name : {"5.epg", "6.epg", "7.epg", "8.epg", "9.epg"}) {
        EXPECT_EQ(show(INFO_TITLES, false, name).out, ": ***Unknown***") << name;
        Output full = show(INFO_FULL, false, name);
        EXPECT_EQ(full.result, 1);
        EXPECT_EQ(full.out, NO_INFO) << name;
    }
}

TEST_F(Info, ModesOfTheRecoveryListing)
{
    // The repeat comes after the second event, which must start where the first ends.
    std::vector<EpgEventSpec> events = back_to_back({600, 300, 900});
    events.insert(events.begin() + 2, events[1]);
    events[3].title = std::string("\x15" "Greek");
    open_with_epg(testimg::make_epg(events, 332));

    Output titles = show(INFO_TITLES, false);
    EXPECT_EQ(titles.result, 0);
    EXPECT_EQ(titles.out, ": E1 : E2 : Unsupported character encoding");

    Output full = show(INFO_FULL, false);
    EXPECT_EQ(full.result, 0);
    EXPECT_EQ(full.out, "\nE1\nS1\n\nE2\nS2\n\nUnsupported character encoding\nS3\n" + RULE);

    Output disabled = show(INFO_DISABLED, false);
    EXPECT_EQ(disabled.result, 1);
    EXPECT_EQ(disabled.out, ": ***Info disabled***");
    Output disabled_entry = show(INFO_DISABLED, true);
    EXPECT_EQ(disabled_entry.result, 1);
    EXPECT_EQ(disabled_entry.out, "LCN: 0\n: ***Info disabled***");
}

TEST_F(Info, LongSynopsesAreWrapped)
{
    std::string synopsis;
    for (int i = 0; synopsis.size() < 250; ++i)
        synopsis += "word" + std::to_string(i) + " ";
    synopsis.resize(250);
    synopsis.back() = 'x';
    open_with_epg(testimg::make_epg({{START, 60, PREFIX + "Title", PREFIX + synopsis}, {START + 60, 60, "B", "b"}}, 332));
    Output o = show(INFO_FULL);
    std::vector<std::string> lines;
    std::istringstream in(o.out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[2], "Title (0:01:00)");
    std::string joined;
    for (size_t i = 3; i < lines.size() && !lines[i].empty(); ++i) {
        EXPECT_LE(lines[i].size(), 79u);
        joined += (joined.empty() ? "" : " ") + lines[i];
    }
    EXPECT_EQ(joined, synopsis.substr(0, synopsis.find_last_not_of(' ') + 1));
}

TEST_F(Info, UnknownNumbersAreReported)
{
    Bytes unusable = testimg::make_entry(304, 0, START, START, "Zero");
    Bytes after = testimg::make_entry(304, 6, START, START, "After");
    open_with({{5, 60, testimg::make_epg(back_to_back({60}))}}, 304, {unusable, after});
    for (int number : {0, 2, 3, -1}) {
        Output o = info(number);
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, "Recording " + std::to_string(number) + " does not exist\n");
    }
}

TEST_F(Info, DisabledOnDisksWithLongEntries)
{
    open_with({{5, 3600, testimg::make_epg(back_to_back({60}))}}, 316);
    ASSERT_EQ(disk->records.record_length, 316u);
    Output o = info(1);
    // -i ends the refusal's line so that the next recording's line starts afresh.
    EXPECT_EQ(o.out, "  1: Sun 26/05/13 21:00  1:00:00 Film - BBC ONE\n: ***Info disabled***\n");
    Error error;
    Output checked =
        capture([&] { return result_of(info_show_checked(stdout, disk, "5.epg", nullptr, INFO_TITLES, &error)); });
    EXPECT_EQ(checked.result, 1);
    EXPECT_EQ(checked.out, ": ***Info disabled***");
}

} // namespace
