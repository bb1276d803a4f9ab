#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "common/run_options.h"
#include "disk/disk_file.h"
#include "disk_image.h"
#include "records/disk_records.h"
#include "records/header_file.h"
#include "records/record_list.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;

class RecordLists : public ::testing::Test {
  protected:
    testimg::TempDir dir;
    std::string path = dir.file("disk.img");
    FILE *saved_stdin = stdin;

    void SetUp() override { run_options = RunOptions{}; }
    void TearDown() override { stdin = saved_stdin; }

    DiskImage make(uint32_t format = 0xE0000030)
    {
        testimg::ImageSpec spec = testimg::default_spec();
        spec.partitions[1].format_code = format;
        return DiskImage(path, spec);
    }

    void answer(const char *text)
    {
        stdin = fmemopen(const_cast<char *>(text), strlen(text), "r");
    }

    static Bytes entry(unsigned length, unsigned number, bool marker = true)
    {
        Bytes e = testimg::make_entry(length, number, 1369598400, 1369602000, "Title");
        e[11] = marker ? 1 : 0;
        return e;
    }

    // A list file of the given raw logical bytes (no trailer added).
    void raw_list(DiskImage &image, const Bytes &bytes)
    {
        image.add_file(1, "_RECORD_LIST_", bytes);
    }
};

TEST_F(RecordLists, FormatsWithAFixedLength)
{
    for (uint32_t format : {0xE000000Du, 0xE0000030u}) {
        DiskImage image = make(format);
        image.write_record_list({entry(304, 2), entry(304, 3)}, 304);
        HumaxDisk *disk = disk_open(path.c_str(), "rb");
        EXPECT_EQ(disk->records.record_length, 304u);
        EXPECT_EQ(disk->records.count, 2);
        disk_close(disk);
    }
    make(0xE000000E);
    EXPECT_EXIT(disk_open(path.c_str(), "rb"), testing::ExitedWithCode(1),
                "^Unknown Humax disk format\n$");
}

TEST_F(RecordLists, LengthFromTheSizeAlone)
{
    DiskImage image = make(0xE000000F);
    Bytes list;
    for (int i = 0; i < 3; ++i) {
        Bytes e = entry(304, 2 + i, false); // content is not consulted
        list.insert(list.end(), e.begin(), e.end());
    }
    list.insert(list.end(), 5, 0);
    std::copy(std::begin(LIST_SIGNATURE), std::end(LIST_SIGNATURE), list.begin());
    raw_list(image, list);
    HumaxDisk *disk = disk_open(path.c_str(), "rb");
    EXPECT_EQ(disk->records.record_length, 304u);
    EXPECT_EQ(disk->records.count, 3);
    disk_close(disk);

    DiskImage again = make(0xE000000F);
    again.write_record_list({entry(316, 2), entry(316, 3)}, 316);
    disk = disk_open(path.c_str(), "rb");
    EXPECT_EQ(disk->records.record_length, 316u);
    disk_close(disk);

    DiskImage odd = make(0xE000000F);
    raw_list(odd, Bytes(400, 0));
    EXPECT_EXIT(disk_open(path.c_str(), "rb"), testing::ExitedWithCode(1),
                "^Error: unknown record length\n$");
}

TEST_F(RecordLists, AmbiguousSizesAreDecidedByTheEntryMarkers)
{
    // 24016 bytes hold 79 entries of 304 or 76 of 316.
    for (unsigned length : {304u, 316u}) {
        DiskImage image = make(0xE000000F);
        std::vector<Bytes> entries;
        for (unsigned i = 0; i < 24016 / length; ++i)
            entries.push_back(entry(length, 2 + i));
        image.write_record_list(entries, length);
        HumaxDisk *disk = disk_open(path.c_str(), "rb");
        EXPECT_EQ(disk->records.record_length, length);
        disk_close(disk);
    }
    DiskImage five = make(0xE000000F);
    raw_list(five, Bytes{1, 0, 0, 1, 1});
    EXPECT_EXIT(disk_open(path.c_str(), "rb"), testing::ExitedWithCode(1),
                "^Error: unknown record length\n$");
}

TEST_F(RecordLists, MissingListAsksOnce)
{
    struct Case {
        const char *input;
        int ask;
        unsigned length;
        const char *err;
    };
    for (Case c : {Case{"yes\n", 1, 304, "Is this a Finnish 9200? [no]: Record list is empty\n"},
                   Case{"\n", 1, 316, "Is this a Finnish 9200? [no]: Record list is empty\n"},
                   Case{"", 1, 316, "Is this a Finnish 9200? [no]: Record list is empty\n"},
                   Case{"n\n", 0, 304, "Is this a Finnish 9200? [no]: yes\nRecord list is empty\n"}}) {
        make(0xE000000F);
        run_options.ask = c.ask;
        answer(c.input);
        testing::internal::CaptureStderr();
        HumaxDisk *disk = disk_open(path.c_str(), "rb");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        EXPECT_EQ(disk->records.record_length, c.length) << c.input;
        EXPECT_EQ(disk->records.count, 0);
        disk_close(disk);
    }
}

TEST_F(RecordLists, LoadChecksTheSignature)
{
    DiskImage image = make();
    Bytes list = entry(304, 2);
    list.insert(list.end(), 5, 0);
    raw_list(image, list); // no signature in the first five bytes
    EXPECT_EXIT(disk_open(path.c_str(), "rb"), testing::ExitedWithCode(1), "^Invalid record list\n$");

    DiskImage short_list = make();
    raw_list(short_list, Bytes(100, 1));
    testing::internal::CaptureStderr();
    HumaxDisk *disk = disk_open(path.c_str(), "rb");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Record list is empty\n");
    EXPECT_EQ(disk->records.count, 0);
    disk_close(disk);
}

TEST_F(RecordLists, SaveRotatesTheBackupAndMovesTheSignature)
{
    DiskImage image = make();
    Bytes second = entry(304, 3);
    second[0] = 0xAA; // opaque lead bytes of a later entry
    image.write_record_list({entry(304, 2), second, entry(304, 4)}, 304);
    Bytes before = image.read_file(1, "_RECORD_LIST_");

    HumaxDisk *disk = disk_open(path.c_str(), "rb+");
    reclist_remove_entry(disk, disk->records.head);
    disk_close(disk);

    DiskImage after(path);
    EXPECT_EQ(after.read_file(1, "_RL_BACKUP_"), before);
    Bytes now = after.read_file(1, "_RECORD_LIST_");
    ASSERT_EQ(now.size(), 2u * 304 + 5);
    EXPECT_EQ(Bytes(now.begin(), now.begin() + 5), (Bytes{1, 0, 0, 1, 1}));
    EXPECT_EQ(now[6], 3);
    EXPECT_EQ(Bytes(now.end() - 5, now.end()), Bytes(5, 0));
    auto info = after.find(1, "_RECORD_LIST_");
    EXPECT_EQ(info->attributes, 0x1000u);
    EXPECT_TRUE(testimg::check_image(path).empty());
}

TEST_F(RecordLists, EmptyListLeavesNeitherFile)
{
    DiskImage image = make();
    image.write_record_list({entry(304, 2)}, 304);
    HumaxDisk *disk = disk_open(path.c_str(), "rb+");
    reclist_remove_entry(disk, disk->records.head);
    disk_close(disk);
    DiskImage after(path);
    EXPECT_FALSE(after.find(1, "_RECORD_LIST_"));
    EXPECT_FALSE(after.find(1, "_RL_BACKUP_"));
    EXPECT_TRUE(testimg::check_image(path).empty());

    // Saving with no list on the disk reports the failed rename and goes on.
    disk = disk_open(path.c_str(), "rb+");
    reclist_append(&disk->records);
    entry_set_file_number(disk->records.head, 2);
    testing::internal::CaptureStderr();
    reclist_save(disk);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Oldname _RECORD_LIST_ does not exist\n");
    disk_close(disk);
    EXPECT_TRUE(DiskImage(path).find(1, "_RECORD_LIST_"));
}

TEST_F(RecordLists, TwoSwapsRestoreTheNames)
{
    DiskImage image = make();
    image.write_record_list({entry(304, 2)}, 304);
    HumaxDisk *disk = disk_open(path.c_str(), "rb+");
    reclist_save(disk); // creates the backup
    disk_close(disk);
    Bytes list = DiskImage(path).read_file(1, "_RECORD_LIST_");
    image.add_file(1, "marker", Bytes{1});

    for (int round = 0; round < 2; ++round) {
        disk = disk_open(path.c_str(), "rb+");
        testing::internal::CaptureStderr();
        reclist_swap_backup(disk);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Main and backup recording lists have been swapped\n");
        disk_close(disk);
    }
    DiskImage after(path);
    EXPECT_EQ(after.read_file(1, "_RECORD_LIST_"), list);
    EXPECT_TRUE(after.find(1, "_RL_BACKUP_"));
    EXPECT_FALSE(after.find(1, "_RL_TMP_"));
}

TEST_F(RecordLists, HeaderFilesRoundTripAtBothLengths)
{
    for (unsigned length : {304u, 316u}) {
        RecordList list;
        list.record_length = length;
        RecordEntry *e = reclist_append(&list);
        Bytes bytes = testimg::pattern_bytes(length, length);
        std::copy(bytes.begin(), bytes.end(), e->bytes);
        std::string hre = dir.file("x.hre");
        testing::internal::CaptureStderr();
        hre_write(&list, e, hre.c_str());
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Copying hre file...\n");
        EXPECT_EQ(testimg::read_host_file(hre), bytes);
        RecordEntry *back = hre_read_entry(&list, hre.c_str());
        EXPECT_EQ(list.count, 2);
        EXPECT_EQ(back->state, 0);
        EXPECT_EQ(Bytes(back->bytes, back->bytes + length), bytes);
        reclist_clear(&list);
    }
}

TEST_F(RecordLists, CopyToAnotherDiskKeepsBytesAndState)
{
    DiskImage image = make();
    HumaxDisk *disk = disk_open(path.c_str(), "rb");
    RecordEntry source;
    source.bytes[200] = 7;
    source.state = STATE_AV_CHECKED;
    RecordEntry *copy = entry_copy_to_list(&source, disk);
    EXPECT_EQ(copy->bytes[200], 7);
    EXPECT_EQ(copy->state, STATE_AV_CHECKED);
    EXPECT_EQ(disk->records.tail, copy);
    disk_close(disk);
}

} // namespace

namespace {

HumaxDisk *load_tolerant(const std::string &path, ListLoad *found, unsigned long failing_read = 0)
{
    HumaxDisk *disk = disk_create();
    disk_open_stream(disk, path.c_str(), "rb");
    if (failing_read != 0) {
        FaultPlan plan;
        plan.kind = FaultKind::Read;
        plan.action = FaultAction::Fail;
        plan.at = failing_read;
        disk_stream_fault(&disk->stream, plan);
    }
    *found = disk_load_tolerant(disk);
    return disk;
}

} // namespace

// The mount's loading: the list's problems are returned, not reported, and nothing is
// asked; the volume's problems end the run as in every other opening.
TEST_F(RecordLists, TolerantLoadReturnsTheListsProblems)
{
    ListLoad found;
    DiskImage image = make(0xE000000F);
    image.write_record_list({entry(316, 2), entry(316, 3)}, 316);
    testing::internal::CaptureStderr();
    HumaxDisk *disk = load_tolerant(path, &found);
    EXPECT_EQ(found, ListLoad::Loaded);
    EXPECT_EQ(disk->records.count, 2);
    EXPECT_EQ(disk->records.record_length, 316u);
    disk_close(disk);

    make(0xE000000F); // no list: nothing is asked (stdin is not even read)
    answer("yes\n");
    disk = load_tolerant(path, &found);
    EXPECT_EQ(found, ListLoad::Empty);
    EXPECT_EQ(fgetc(stdin), 'y');
    disk_close(disk);

    DiskImage odd = make(0xE000000F);
    raw_list(odd, Bytes(400, 0));
    disk = load_tolerant(path, &found);
    EXPECT_EQ(found, ListLoad::UnknownLength);
    disk_close(disk);

    DiskImage unsigned_list = make();
    Bytes list = entry(304, 2);
    list.insert(list.end(), 5, 0);
    raw_list(unsigned_list, list);
    disk = load_tolerant(path, &found);
    EXPECT_EQ(found, ListLoad::Invalid);
    EXPECT_EQ(disk->records.count, 0);
    EXPECT_EQ(disk->records.head, nullptr);
    disk_close(disk);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    make(0xE000000E);
    EXPECT_EXIT(load_tolerant(path, &found), testing::ExitedWithCode(1),
                "^Unknown Humax disk format\n$");
}

// A read error inside the list: with the disk's read errors noted it is returned, the
// error kept; the programs' loading still ends with the system's report.
TEST_F(RecordLists, AnUnreadableListIsAProblemOfTheListForTheTolerantLoad)
{
    DiskImage image = make();
    image.write_record_list({entry(304, 2), entry(304, 3)}, 304);
    // The reads of opening: sector 0, then per partition its descriptor, table and
    // directory; the list's contents come next.
    const unsigned long list_read = 1 + 3 * 3 + 1;
    ListLoad found;
    HumaxDisk *disk = load_tolerant(path, &found, list_read);
    EXPECT_EQ(found, ListLoad::ReadError);
    EXPECT_EQ(disk->read_errno, EIO);
    EXPECT_EQ(disk->records.count, 0);
    EXPECT_EQ(disk->read_errors, ReadErrors::End);
    disk_close(disk);
    disk = load_tolerant(path, &found, list_read + 1);
    EXPECT_EQ(found, ListLoad::Loaded); // the read after it: nothing else fails
    disk_close(disk);

    EXPECT_EXIT(
        {
            HumaxDisk *d = disk_create();
            disk_open_stream(d, path.c_str(), "rb");
            FaultPlan plan;
            plan.kind = FaultKind::Read;
            plan.action = FaultAction::Fail;
            plan.at = list_read;
            disk_stream_fault(&d->stream, plan);
            disk_load(d, {});
        },
        testing::ExitedWithCode(1), "^_RECORD_LIST_: Input/output error\n$");
}
