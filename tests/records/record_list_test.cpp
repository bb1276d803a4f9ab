#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "common/run_options.h"
#include "disk/disk_file.h"
#include "disk_image.h"
#include "disk_opening.h"
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
        HumaxDisk *disk = testimg::open_disk(path);
        EXPECT_EQ(disk->records.record_length, 304u);
        EXPECT_EQ(disk->records.count, 2);
        disk_close(disk);
    }
    make(0xE000000E);
    EXPECT_EXIT(testimg::open_disk(path), testing::ExitedWithCode(1),
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
    HumaxDisk *disk = testimg::open_disk(path);
    EXPECT_EQ(disk->records.record_length, 304u);
    EXPECT_EQ(disk->records.count, 3);
    disk_close(disk);

    DiskImage again = make(0xE000000F);
    again.write_record_list({entry(316, 2), entry(316, 3)}, 316);
    disk = testimg::open_disk(path);
    EXPECT_EQ(disk->records.record_length, 316u);
    disk_close(disk);

    DiskImage odd = make(0xE000000F);
    raw_list(odd, Bytes(400, 0));
    EXPECT_EXIT(testimg::open_disk(path), testing::ExitedWithCode(1),
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
        HumaxDisk *disk = testimg::open_disk(path);
        EXPECT_EQ(disk->records.record_length, length);
        disk_close(disk);
    }
    DiskImage five = make(0xE000000F);
    raw_list(five, Bytes{1, 0, 0, 1, 1});
    EXPECT_EXIT(testimg::open_disk(path), testing::ExitedWithCode(1),
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
        HumaxDisk *disk = testimg::open_disk(path);
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
    EXPECT_EXIT(testimg::open_disk(path), testing::ExitedWithCode(1), "^Invalid record list\n$");

    DiskImage short_list = make();
    raw_list(short_list, Bytes(100, 1));
    testing::internal::CaptureStderr();
    HumaxDisk *disk = testimg::open_disk(path);
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

    HumaxDisk *disk = testimg::open_disk(path, true);
    Error error;
    ASSERT_TRUE(reclist_remove_entry(disk, disk->records.head, &error)) << error.text;
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
    HumaxDisk *disk = testimg::open_disk(path, true);
    Error error;
    ASSERT_TRUE(reclist_remove_entry(disk, disk->records.head, &error)) << error.text;
    disk_close(disk);
    DiskImage after(path);
    EXPECT_FALSE(after.find(1, "_RECORD_LIST_"));
    EXPECT_FALSE(after.find(1, "_RL_BACKUP_"));
    EXPECT_TRUE(testimg::check_image(path).empty());

    // Saving with no list on the disk reports the failed rename and goes on.
    disk = testimg::open_disk(path, true);
    reclist_append(&disk->records);
    entry_set_file_number(disk->records.head, 2);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(reclist_save(disk, &error));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Oldname _RECORD_LIST_ does not exist\n");
    disk_close(disk);
    EXPECT_TRUE(DiskImage(path).find(1, "_RECORD_LIST_"));
}

TEST_F(RecordLists, TwoSwapsRestoreTheNames)
{
    DiskImage image = make();
    image.write_record_list({entry(304, 2)}, 304);
    HumaxDisk *disk = testimg::open_disk(path, true);
    Error error;
    ASSERT_TRUE(reclist_save(disk, &error)); // creates the backup
    disk_close(disk);
    Bytes list = DiskImage(path).read_file(1, "_RECORD_LIST_");
    image.add_file(1, "marker", Bytes{1});

    for (int round = 0; round < 2; ++round) {
        disk = testimg::open_disk(path, true);
        testing::internal::CaptureStderr();
        EXPECT_TRUE(reclist_swap_backup(disk, &error));
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
        Error error;
        EXPECT_TRUE(hre_write(&list, e, hre.c_str(), &error));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Copying hre file...\n");
        EXPECT_EQ(testimg::read_host_file(hre), bytes);
        RecordEntry *back = hre_read_entry(&list, hre.c_str(), &error);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(list.count, 2);
        EXPECT_EQ(back->state, 0);
        EXPECT_EQ(Bytes(back->bytes, back->bytes + length), bytes);
        reclist_clear(&list);
    }
}

TEST_F(RecordLists, HeaderFileFailuresAreReturnedAndLeaveTheListAlone)
{
    RecordList list;
    list.record_length = 304;
    RecordEntry *e = reclist_append(&list);
    std::string nowhere = dir.file("missing/x.hre");
    Error error;
    EXPECT_FALSE(hre_write(&list, e, nowhere.c_str(), &error));
    EXPECT_EQ(error.kind, ErrorKind::Write);
    EXPECT_EQ(error.text, nowhere + ": No such file or directory\n");
    std::string short_file = dir.file("short.hre");
    testimg::write_host_file(short_file, Bytes(303, 1));
    EXPECT_EQ(hre_read_entry(&list, short_file.c_str(), &error), nullptr);
    EXPECT_EQ(error.kind, ErrorKind::Read);
    EXPECT_EQ(error.text, short_file + ": Input/output error\n");
    EXPECT_EQ(list.count, 1);
    reclist_clear(&list);
}

TEST_F(RecordLists, CopyToAnotherDiskKeepsBytesAndState)
{
    DiskImage image = make();
    HumaxDisk *disk = testimg::open_disk(path);
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

// The mount's opening: the record list optional, nothing asked; a read of the disk that
// fails when `failing_read` is given.
HumaxDisk *load_tolerant(const std::string &path, Error *list_error, unsigned long failing_read = 0)
{
    DiskOpenOptions options;
    options.list = RecordListLoad::Optional;
    options.wrap_stream = [failing_read](DiskStream *stream) {
        FaultPlan plan;
        plan.kind = FaultKind::Read;
        plan.action = FaultAction::Fail;
        plan.at = failing_read;
        if (failing_read != 0)
            disk_stream_fault(stream, plan);
    };
    HumaxDisk *disk = nullptr;
    Error error;
    if (!disk_open({path}, options, &disk, &error))
        error_end(error);
    *list_error = disk->list_error;
    return disk;
}

} // namespace

// The mount's loading: the list's problems are returned, not ended on, and nothing is
// asked; the volume's problems and an unknown format fail the opening as always.
TEST_F(RecordLists, OptionalLoadReturnsTheListsProblems)
{
    Error found;
    DiskImage image = make(0xE000000F);
    image.write_record_list({entry(316, 2), entry(316, 3)}, 316);
    testing::internal::CaptureStderr();
    HumaxDisk *disk = load_tolerant(path, &found);
    EXPECT_EQ(found.kind, ErrorKind::None);
    EXPECT_EQ(disk->records.count, 2);
    EXPECT_EQ(disk->records.record_length, 316u);
    disk_close(disk);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    make(0xE000000F); // no list: nothing is asked (stdin is not even read)
    answer("yes\n");
    testing::internal::CaptureStderr();
    disk = load_tolerant(path, &found);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Record list is empty\n");
    EXPECT_EQ(found.kind, ErrorKind::None);
    EXPECT_EQ(disk->records.record_length, 0u);
    EXPECT_EQ(fgetc(stdin), 'y');
    disk_close(disk);

    DiskImage odd = make(0xE000000F);
    raw_list(odd, Bytes(400, 0));
    disk = load_tolerant(path, &found);
    EXPECT_EQ(found.kind, ErrorKind::RecordLength);
    EXPECT_EQ(found.text, "Error: unknown record length\n");
    disk_close(disk);

    DiskImage unsigned_list = make();
    Bytes list = entry(304, 2);
    list.insert(list.end(), 5, 0);
    raw_list(unsigned_list, list);
    testing::internal::CaptureStderr();
    disk = load_tolerant(path, &found);
    EXPECT_EQ(found.kind, ErrorKind::RecordList);
    EXPECT_EQ(found.text, "Invalid record list\n");
    EXPECT_EQ(disk->records.count, 0);
    EXPECT_EQ(disk->records.head, nullptr);
    EXPECT_EQ(disk->records.record_length, 304u);
    disk_close(disk);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    make(0xE000000E);
    EXPECT_EXIT(load_tolerant(path, &found), testing::ExitedWithCode(1),
                "^Unknown Humax disk format\n$");
}

// A read error inside the list: returned to the caller with the system's error, the list
// left empty; the commands' required load fails with the same report.
TEST_F(RecordLists, AnUnreadableListIsAProblemOfTheListForTheOptionalLoad)
{
    DiskImage image = make();
    image.write_record_list({entry(304, 2), entry(304, 3)}, 304);
    // The reads of opening: sector 0, then per partition its descriptor, table and
    // directory; the list's contents come next.
    const unsigned long list_read = 1 + 3 * 3 + 1;
    Error found;
    HumaxDisk *disk = load_tolerant(path, &found, list_read);
    EXPECT_EQ(found.kind, ErrorKind::Read);
    EXPECT_EQ(found.code, EIO);
    const std::string said = found.text;
    EXPECT_EQ(said.rfind("_RECORD_LIST_: Input/output error\n_RECORD_LIST_: reading sectors ", 0), 0u) << said;
    EXPECT_EQ(disk->records.count, 0);
    disk_close(disk);
    disk = load_tolerant(path, &found, list_read + 1);
    EXPECT_EQ(found.kind, ErrorKind::None); // the read after it: nothing else fails
    disk_close(disk);

    DiskOpenOptions options;
    options.list = RecordListLoad::Required;
    options.wrap_stream = [&](DiskStream *stream) {
        FaultPlan plan;
        plan.kind = FaultKind::Read;
        plan.action = FaultAction::Fail;
        plan.at = list_read;
        disk_stream_fault(stream, plan);
    };
    Error error;
    disk = reinterpret_cast<HumaxDisk *>(1);
    EXPECT_FALSE(disk_open({path}, options, &disk, &error));
    EXPECT_EQ(disk, nullptr);
    EXPECT_EQ(error.text, said);
}
