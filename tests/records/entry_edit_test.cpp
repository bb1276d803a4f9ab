// Changing one byte of a recording's entry.
#include <gtest/gtest.h>

#include "common/run_options.h"
#include "disk_image.h"
#include "common/error.h"
#include "disk_opening.h"
#include "records/entry_edit.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;

TEST(EntrySetByte, ReportsTheChangeInDecimalAndHex)
{
    RecordList list;
    list.record_length = 304;
    RecordEntry entry;
    entry.bytes[5] = 0xFF;
    testing::internal::CaptureStderr();
    Error error;
    entry_set_byte(&list, &entry, 5, 7, &error);
    entry_set_byte(&list, &entry, 303, 0xAB, &error);
    entry_set_byte(&list, &entry, 303, 0xAB, &error);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Changing offset 5(0x005) from 255(0xFF) to 7(0x07)\n"
              "Changing offset 303(0x12F) from 0(0x00) to 171(0xAB)\n"
              "No change\n");
    EXPECT_EQ(entry.bytes[5], 7);
    EXPECT_EQ(entry.bytes[303], 0xAB);
}

TEST(EntrySetByte, OffsetBeyondTheEntryIsRefused)
{
    RecordList list;
    list.record_length = 304;
    RecordEntry entry;
    Error error;
    EXPECT_FALSE(entry_set_byte(&list, &entry, 304, 1, &error));
    EXPECT_EQ(error.text, "offset out of range\n");
    list.record_length = 316;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(entry_set_byte(&list, &entry, 315, 1, &error)); // inside a long entry
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(entry.bytes[315], 1);
    error = Error{};
    EXPECT_FALSE(entry_set_byte(&list, &entry, 316, 1, &error));
    EXPECT_EQ(error.kind, ErrorKind::Refused);
    EXPECT_EQ(error.text, "offset out of range\n");
}

class ModifyEntry : public ::testing::Test {
  protected:
    testimg::TempDir dir;
    std::string path = dir.file("disk.img");
    DiskImage image{path, testimg::default_spec()};
    std::vector<Bytes> entries;

    void SetUp() override
    {
        run_options = RunOptions{};
        for (unsigned n = 2; n <= 4; ++n) {
            image.add_file(0, std::to_string(n) + ".av", testimg::pattern_bytes(100, n));
            entries.push_back(testimg::make_entry(304, n, 1400000000 + n * 7200,
                                                  1400003600 + n * 7200, "Title " + std::to_string(n)));
        }
        entries[2][269] = 9;
        image.write_record_list(entries, 304);
        entries = image.record_list_entries(304); // with the signature, as stored
    }

    // Runs the command in this process; returns standard output and standard error.
    std::pair<std::string, std::string> modify(int number, int offset, uint8_t value)
    {
        HumaxDisk *disk = testimg::open_disk(path, true);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        Error error;
        EXPECT_TRUE(cmd_modify_entry(disk, number, offset, value, &error)) << error.text;
        std::string err = testing::internal::GetCapturedStderr();
        std::string out = testing::internal::GetCapturedStdout();
        disk_close(disk);
        EXPECT_EQ(testimg::check_image(path, 304), std::vector<std::string>{});
        return {out, err};
    }
};

TEST_F(ModifyEntry, ChangesTheByteAndSavesTheList)
{
    auto [out, err] = modify(3, 101, 0x40);
    EXPECT_EQ(out.rfind("  3:", 0), 0u) << out; // the recording's list line, alone
    EXPECT_NE(out.find("Title 4"), std::string::npos) << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
    EXPECT_EQ(err, "Changing offset 101(0x065) from 0(0x00) to 64(0x40)\n");

    std::vector<Bytes> expected = entries;
    expected[2][101] = 0x40;
    EXPECT_EQ(image.record_list_entries(304), expected);
    Bytes old_list = image.read_file(1, "_RL_BACKUP_");
    EXPECT_EQ(old_list.size(), 3u * 304 + 5);
    EXPECT_TRUE(std::equal(entries[2].begin(), entries[2].end(), old_list.begin() + 2 * 304));
}

TEST_F(ModifyEntry, NoChangeStillRewritesListAndBackup)
{
    ASSERT_FALSE(image.find(1, "_RL_BACKUP_"));
    auto [out, err] = modify(3, 269, 9);
    EXPECT_EQ(err, "No change\n");
    EXPECT_EQ(image.record_list_entries(304), entries);
    EXPECT_EQ(image.read_file(1, "_RL_BACKUP_"), image.read_file(1, "_RECORD_LIST_"));
}

TEST_F(ModifyEntry, UnknownRecordingEndsWithoutWriting)
{
    Bytes before = testimg::read_host_file(path);
    HumaxDisk *disk = testimg::open_disk(path, true);
    Error error;
    EXPECT_FALSE(cmd_modify_entry(disk, 4, 101, 1, &error));
    EXPECT_EQ(error.text, "Recording 4 does not exist\n");
    EXPECT_FALSE(cmd_modify_entry(disk, 0, 101, 1, &error));
    EXPECT_EQ(error.text, "Recording 0 does not exist\n");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(cmd_modify_entry(disk, 1, 304, 1, &error));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(error.text, "offset out of range\n");
    disk_close(disk);
    EXPECT_EQ(testimg::read_host_file(path), before);
}

} // namespace
