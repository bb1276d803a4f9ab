#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "disk_fixture.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;
using testimg::Placement;
using testimg::RunResult;

constexpr unsigned SHORT = 304;
constexpr unsigned LONG = 316;
constexpr uint32_t FORMAT_DETECT = 0xE000000F;
constexpr uint8_t PROTECTED_BIT = 0x40;

struct Recording {
    unsigned number;
    std::string title;
    bool is_protected = false;
};

// Recordings 1-4 of the list have the file numbers 7, 3, 12 and 5 (list order and number
// order differ on purpose), each with N.av, N.elu and N.epg of different sizes.
const std::vector<Recording> FOUR = {
    {7, "Alpha"}, {3, "Bravo"}, {12, "Charlie"}, {5, "Delta"}};

class Remove : public testimg::DiskFixture {
  protected:
    void make_disk(const std::vector<Recording> &recordings, unsigned length = SHORT)
    {
        testimg::ImageSpec spec = testimg::default_spec();
        if (length == LONG)
            spec.partitions[1].format_code = FORMAT_DETECT;
        record_length = length;
        std::vector<testimg::TestRecording> disk;
        uint32_t seed = 1;
        for (const Recording &r : recordings) {
            // Fragmented chains: every cluster has to be found and freed, not just a run.
            disk.push_back({.file_number = r.number, .title = r.title,
                            .av = testimg::pattern_bytes(20000 + 4096 * r.number, seed),
                            .elu = testimg::pattern_bytes(700, seed + 1),
                            .epg = testimg::make_epg({{100, 60, r.title, "Synopsis"}}),
                            .placement = Placement::Fragmented, .start = 1600000000, .length = 3600,
                            .is_protected = r.is_protected});
            seed += 2;
        }
        DiskFixture::make_disk(disk, {}, spec);
    }

    void add_file(int part, const std::string &name, size_t size = 5000)
    {
        DiskImage(path).add_file(part, name, testimg::pattern_bytes(size, 99), 0);
    }

    std::vector<std::string> titles() const
    {
        std::vector<std::string> result;
        for (const Bytes &e : stored_entries())
            result.push_back(title_of(e));
        return result;
    }

    static std::string title_of(const Bytes &entry)
    {
        std::string title(entry.begin() + 25, entry.begin() + 77);
        return title.substr(0, title.find('\0'));
    }

    void expect_files(unsigned number, bool present)
    {
        std::string n = std::to_string(number);
        EXPECT_EQ(on_disk(0, n + ".av"), present) << n;
        EXPECT_EQ(on_disk(0, n + ".elu"), present) << n;
        EXPECT_EQ(on_disk(1, n + ".epg"), present) << n;
    }

    // The list lines of -l by recording number.
    std::map<int, std::string> listing()
    {
        RunResult r = run({"-l"});
        EXPECT_EQ(r.status, 0) << r.err;
        std::map<int, std::string> lines;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);) {
            size_t colon = line.find(':');
            if (colon != std::string::npos && colon <= 5 && line.find("Free Space") == std::string::npos)
                lines[std::stoi(line.substr(line.find_first_of("0123456789")))] = line;
        }
        return lines;
    }
};

// ---- -d ----

TEST_F(Remove, DeletesOneRecordingWithItsFilesAndFreesItsClusters)
{
    make_disk(FOUR);
    DiskImage before(path);
    uint32_t free_av = before.fat_word0(0);
    uint32_t freed = static_cast<uint32_t>(before.find(0, "3.av")->clusters.size() +
                                           before.find(0, "3.elu")->clusters.size());
    Bytes kept_av = before.read_file(0, "12.av");

    RunResult r = run({"-d", "2"}, "y\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "This recording will be deleted, are you sure? [no]: "
                     "File successfully deleted\n");
    EXPECT_THAT(r.out, ::testing::HasSubstr("Bravo"));
    EXPECT_THAT(titles(), ::testing::ElementsAre("Alpha", "Charlie", "Delta"));
    expect_files(3, false);
    for (unsigned n : {7u, 12u, 5u})
        expect_files(n, true);
    DiskImage after(path);
    EXPECT_EQ(after.fat_word0(0), free_av + freed);
    EXPECT_EQ(after.read_file(0, "12.av"), kept_av);
}

TEST_F(Remove, DeletesSeveralInListOrderAndRenumbers)
{
    make_disk(FOUR);
    // Typed in descending order: the entries still go in list order, so the backup (the
    // list before the last save) lacks only the first of them.
    RunResult r = run({"-d", "3,1"}, "YES\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "These recordings will be deleted, are you sure? [no]: "
                     "Files successfully deleted\n");
    EXPECT_THAT(titles(), ::testing::ElementsAre("Bravo", "Delta"));
    expect_files(7, false);
    expect_files(12, false);
    Bytes backup = DiskImage(path).read_file(1, "_RL_BACKUP_");
    ASSERT_EQ(backup.size(), 3 * SHORT + 5);
    EXPECT_EQ(title_of(Bytes(backup.begin(), backup.begin() + SHORT)), "Bravo");
    EXPECT_EQ(title_of(Bytes(backup.begin() + 2 * SHORT, backup.begin() + 3 * SHORT)), "Delta");
    // The new first entry carries the list signature.
    Bytes first = stored_entries().at(0);
    EXPECT_EQ(Bytes(first.begin(), first.begin() + 5), (Bytes{1, 0, 0, 1, 1}));

    std::map<int, std::string> lines = listing();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[1], ::testing::HasSubstr("Bravo"));
    EXPECT_THAT(lines[2], ::testing::HasSubstr("Delta"));
    // The new number 2 is Delta's.
    r = run({"-y", "-d", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(titles(), ::testing::ElementsAre("Bravo"));
    expect_files(5, false);
}

TEST_F(Remove, DeletingTheLastRecordingLeavesNoListFile)
{
    make_disk({{4, "Only"}});
    RunResult r = run({"-d", "1"}, "y\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(on_disk(1, "_RECORD_LIST_"));
    EXPECT_FALSE(on_disk(1, "_RL_BACKUP_"));
    expect_files(4, false);
    EXPECT_TRUE(DiskImage(path).files(0).empty());
}

TEST_F(Remove, MissingCompanionFilesArePassedOver)
{
    make_disk(FOUR);
    DiskImage(path).remove_file(0, "3.elu");
    DiskImage(path).remove_file(1, "3.epg");
    RunResult r = run({"-d", "2"}, "y\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, ::testing::EndsWith("File successfully deleted\n"));
    EXPECT_FALSE(on_disk(0, "3.av"));
    EXPECT_THAT(titles(), ::testing::ElementsAre("Alpha", "Charlie", "Delta"));
}

// Every way -d can stop before deleting: the image must be the same, byte for byte.
struct Stop {
    std::vector<std::string> args;
    std::string input;
    std::string err;
};

void PrintTo(const Stop &stop, std::ostream *out)
{
    for (const std::string &arg : stop.args)
        *out << arg << ' ';
    *out << "with input \"";
    for (char c : stop.input)
        *out << (c == '\n' ? std::string("\\n") : std::string(1, c));
    *out << '"';
}

class RemoveStops : public Remove, public ::testing::WithParamInterface<Stop> {};

TEST_P(RemoveStops, LeaveTheImageUnchanged)
{
    std::vector<Recording> recordings = FOUR;
    recordings[2].is_protected = true;
    make_disk(recordings);
    add_file(0, "0.av");
    add_file(1, "epgsave.dat");
    Bytes before = testimg::read_host_file(path);
    RunResult r = run(GetParam().args, GetParam().input);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, GetParam().err);
    EXPECT_TRUE(testimg::read_host_file(path) == before) << "image changed";
}

const char *const ASK_ONE = "This recording will be deleted, are you sure? [no]: ";
const char *const ASK_MANY = "These recordings will be deleted, are you sure? [no]: ";

INSTANTIATE_TEST_SUITE_P(
    Delete, RemoveStops,
    ::testing::Values(
        Stop{{"-d", "2"}, "n\n", std::string(ASK_ONE) + "Aborting...\n"},
        Stop{{"-d", "2-"}, "y\n", ""},
        Stop{{"-d", "1-2"}, "", std::string(ASK_MANY) + "Aborting...\n"},
        Stop{{"-d", "2", "-D", "-Z"}, "no\ny\ny\n", std::string(ASK_ONE) + "Aborting...\n"},
        Stop{{"-y", "-d", "2,9"}, "", "Recording 9 does not exist\n"},
        Stop{{"-y", "-d", "1,,2"}, "", "Recording 0 does not exist\n"},
        Stop{{"-y", "-d", "4,-1"}, "", "Recording -1 does not exist\n"},
        Stop{{"-y", "-d", "1-4", "-D"}, "", "Recording 3 is protected - aborting...\n"},
        Stop{{"-D", "-Z"}, "\n", "The buffers will be deleted, are you sure? [no]: Aborting...\n"},
        Stop{{"-Z"}, "nope\n",
             "The saved EPG data will be deleted, are you sure? [no]: Aborting...\n"},
        Stop{{"-u", "2", "-d", "1"}, "y\n", "Recording is already unprotected - aborting...\n"}));

TEST_F(Remove, TwoRecordingsSharingFilesKeepThemForTheOneThatStays)
{
    make_disk(FOUR);
    edit_entries([](std::vector<Bytes> &entries) {
        entries[3] = testimg::make_entry(SHORT, 3, 1600000000, 1600003600, "Echo");
    });
    RunResult r = run({"-y", "-d", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, ::testing::HasSubstr("Files of 3 kept"));
    EXPECT_THAT(titles(), ::testing::ElementsAre("Alpha", "Charlie", "Echo"));
    expect_files(3, true);
}

// ---- -u ----

std::vector<bool> protection(const std::vector<Bytes> &entries, unsigned record_length)
{
    std::vector<bool> result;
    for (const Bytes &e : entries)
        result.push_back((e.at(record_length - 203) & PROTECTED_BIT) != 0);
    return result;
}

TEST_F(Remove, UnprotectStopsAtAnUnprotectedRecordingAfterSavingTheEarlierOnes)
{
    make_disk({{7, "Alpha", true}, {3, "Bravo", false}, {12, "Charlie", true}});
    RunResult r = run({"-u", "9,1-3", "-d", "3"}, "y\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Recording 9 does not exist\n"
                     "Recording is already unprotected - aborting...\n");
    DiskImage image(path);
    EXPECT_EQ(protection(image.record_list_entries(SHORT), SHORT),
              (std::vector<bool>{false, false, true}));
    // Saved once: the backup still shows recording 1 protected.
    Bytes backup = image.read_file(1, "_RL_BACKUP_");
    EXPECT_TRUE(backup.at(SHORT - 203) & PROTECTED_BIT);
    expect_files(12, true);
}

TEST_F(Remove, UnprotectGoesOnPastMissingNumbersAndLeavesOtherBits)
{
    make_disk({{7, "Alpha", true}, {3, "Bravo", true}});
    edit_entries([](std::vector<Bytes> &entries) { entries[1][SHORT - 203] |= 0x81; });
    RunResult r = run({"-u", "2,,1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Recording 0 does not exist\n");
    std::vector<Bytes> entries = stored_entries();
    EXPECT_EQ(entries[0][SHORT - 203] & PROTECTED_BIT, 0);
    EXPECT_EQ(entries[1][SHORT - 203], 0x81);
}

TEST_F(Remove, UnprotectOnLongEntriesUsesTheirStatusByte)
{
    make_disk({{7, "Alpha", true}, {3, "Bravo", true}}, LONG);
    RunResult r = run({"-u", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(protection(stored_entries(), LONG),
              (std::vector<bool>{true, false}));
}

TEST_F(Remove, UnprotectThenDeleteTheSameRecording)
{
    make_disk({{7, "Alpha"}, {3, "Bravo", true}});
    RunResult r = run({"-d", "2", "-u", "2"}, "y\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, std::string(ASK_ONE) + "File successfully deleted\n");
    EXPECT_THAT(titles(), ::testing::ElementsAre("Alpha"));
    expect_files(3, false);
}

// ---- -D and -Z ----

TEST_F(Remove, BuffersAreDeletedWhenOneIsAbsent)
{
    make_disk(FOUR);
    add_file(0, "0.av", 70000);
    RunResult r = run({"-y", "-D"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "The buffers will be deleted, are you sure? [no]: yes\n");
    EXPECT_FALSE(on_disk(0, "0.av"));
    EXPECT_EQ(titles().size(), 4u);
    expect_files(7, true);
}

TEST_F(Remove, SavedGuideDataIsDeleted)
{
    make_disk(FOUR);
    add_file(1, "epgsave.dat", 30000);
    RunResult r = run({"-Z"}, "y\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "The saved EPG data will be deleted, are you sure? [no]: ");
    EXPECT_FALSE(on_disk(1, "epgsave.dat"));
    expect_files(12, true);
}

TEST_F(Remove, MissingGuideDataIsAnErrorAfterTheQuestion)
{
    make_disk(FOUR);
    Bytes before = testimg::read_host_file(path);
    RunResult r = run({"-y", "-Z"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "The saved EPG data will be deleted, are you sure? [no]: yes\n"
                     "epgave.dat: file not found\n");
    EXPECT_TRUE(testimg::read_host_file(path) == before) << "image changed";
}

TEST_F(Remove, CommandsRunInTheirFixedOrder)
{
    make_disk({{7, "Alpha", true}, {3, "Bravo"}});
    add_file(0, "0.av");
    add_file(0, "1.av");
    add_file(1, "epgsave.dat");
    RunResult r = run({"-Z", "-D", "-d", "1", "-u", "1"}, "y\ny\ny\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, std::string(ASK_ONE) + "File successfully deleted\n" +
                         "The buffers will be deleted, are you sure? [no]: "
                         "The saved EPG data will be deleted, are you sure? [no]: ");
    EXPECT_THAT(titles(), ::testing::ElementsAre("Bravo"));
    EXPECT_FALSE(on_disk(0, "0.av"));
    EXPECT_FALSE(on_disk(0, "1.av"));
    EXPECT_FALSE(on_disk(1, "epgsave.dat"));
}

} // namespace
