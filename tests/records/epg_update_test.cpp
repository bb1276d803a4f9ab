// -E: programme-information files from 328-byte to 332-byte event records.
#include <gtest/gtest.h>

#include "common/run_options.h"
#include "disk_image.h"
#include "disk_opening.h"
#include "records/epg_update.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;

constexpr uint32_t ATTRIBUTES = 0x1000;

// `count` events, each starting where the one before ends, so that the record size can be
// told from the content.
Bytes contiguous_epg(unsigned count, unsigned record_size)
{
    std::vector<testimg::EpgEventSpec> events;
    uint32_t start = 1400000000;
    for (unsigned i = 0; i < count; ++i) {
        uint32_t duration = 600 + 60 * i;
        events.push_back({start, duration, "Event " + std::to_string(i), "Synopsis"});
        start += duration;
    }
    Bytes epg = testimg::make_epg(events, record_size);
    // Opaque bytes too, to see that they are carried.
    for (unsigned i = 0; i < count; ++i)
        epg[4 + i * record_size] = static_cast<uint8_t>(0xA0 + i);
    return epg;
}

// The 332-byte form of a 328-byte file, written out here independently: count, then every
// complete record followed by four zero bytes.
Bytes expected_conversion(const Bytes &old)
{
    Bytes result(old.begin(), old.begin() + 4);
    for (size_t at = 4; at + 328 <= old.size(); at += 328) {
        result.insert(result.end(), old.begin() + at, old.begin() + at + 328);
        result.insert(result.end(), 4, 0);
    }
    return result;
}

class EpgUpdate : public ::testing::Test {
  protected:
    testimg::TempDir dir;
    std::string path = dir.file("disk.img");
    DiskImage image{path, testimg::default_spec()};

    void SetUp() override
    {
        run_options = RunOptions{};
        image.add_file(0, "7.av", testimg::pattern_bytes(1000));
        image.write_record_list({testimg::make_entry(304, 7, 1400000000, 1400003600, "Film")}, 304);
    }

    // Runs the update in this process; returns what it wrote to standard error.
    std::string update()
    {
        HumaxDisk *disk = testimg::open_disk(path, true);
        testing::internal::CaptureStderr();
        Error error;
        EXPECT_TRUE(epg_update_all(disk, &error)) << error.text;
        std::string err = testing::internal::GetCapturedStderr();
        disk_close(disk);
        EXPECT_EQ(testimg::check_image(path, 304), std::vector<std::string>{});
        return err;
    }

    bool exists(const std::string &name) const { return image.find(1, name).has_value(); }
};

TEST_F(EpgUpdate, ConvertsOldFilesAndLeavesNewOnes)
{
    Bytes old3 = contiguous_epg(3, 328);  // 988 bytes
    Bytes new2 = contiguous_epg(2, 332);  // 668 bytes
    Bytes empty = contiguous_epg(0, 328); // 4 bytes
    Bytes upper = contiguous_epg(1, 328);
    image.add_file(1, "7.epg", old3);
    image.add_file(1, "8.epg", new2);
    image.add_file(1, "9.epg", empty);
    image.add_file(1, "10.EPG", upper); // the suffix is compared case-sensitively
    image.add_file(1, "epgsave.dat", testimg::pattern_bytes(500));

    EXPECT_EQ(update(), "Updating 7.epg to v20+\n"
                        "File 8.epg is already at v20+\n"
                        "File 9.epg is already at v20+\n");

    Bytes converted = image.read_file(1, "7.epg");
    ASSERT_EQ(converted.size(), 1000u);
    EXPECT_EQ(converted, expected_conversion(old3));
    EXPECT_EQ(image.find(1, "7.epg")->attributes, ATTRIBUTES);
    EXPECT_EQ(image.read_file(1, "8.epg"), new2);
    EXPECT_EQ(image.read_file(1, "9.epg"), empty);
    EXPECT_EQ(image.read_file(1, "10.EPG"), upper);
    EXPECT_EQ(image.read_file(1, "epgsave.dat"), testimg::pattern_bytes(500));
    EXPECT_FALSE(exists("7.tmp"));
}

// 83 records of 328 bytes and 82 of 332 bytes are both 27228 bytes: the content decides.
TEST_F(EpgUpdate, SizeOfBothFormsGoesByContent)
{
    Bytes old83 = contiguous_epg(83, 328);
    Bytes new82 = contiguous_epg(82, 332);
    ASSERT_EQ(old83.size(), 27228u);
    ASSERT_EQ(new82.size(), 27228u);
    image.add_file(1, "7.epg", old83);
    image.add_file(1, "8.epg", new82);

    EXPECT_EQ(update(), "Updating 7.epg to v20+\nFile 8.epg is already at v20+\n");
    EXPECT_EQ(image.read_file(1, "7.epg"), expected_conversion(old83));
    EXPECT_EQ(image.read_file(1, "8.epg"), new82);
}

// A damaged size: the incomplete tail is dropped and the copy holds no stale bytes.
TEST_F(EpgUpdate, DamagedSizeDropsTheTail)
{
    Bytes damaged = contiguous_epg(1, 328);
    Bytes tail = testimg::pattern_bytes(100, 9);
    damaged.insert(damaged.end(), tail.begin(), tail.end());
    // Clusters full of old bytes where the copy will go: the first free ones.
    image.add_file(1, "filler", Bytes(8192, 0xEE));
    image.remove_file(1, "filler");
    image.add_file(1, "7.epg", damaged);

    EXPECT_EQ(update(), "Updating 7.epg to v20+\n");
    Bytes converted = image.read_file(1, "7.epg");
    EXPECT_EQ(converted.size(), 4u + 332);
    EXPECT_EQ(converted, expected_conversion(damaged));
}

// The count bytes are copied as they are, even when they promise more records than
// the file holds.
TEST_F(EpgUpdate, CountThatPromisesMoreIsKept)
{
    Bytes epg = contiguous_epg(3, 328);
    epg.resize(4 + 2 * 328 + 200);
    image.add_file(1, "7.epg", epg);

    EXPECT_EQ(update(), "Updating 7.epg to v20+\n");
    Bytes converted = image.read_file(1, "7.epg");
    EXPECT_EQ(testimg::get_be32(converted, 0), 3u);
    EXPECT_EQ(converted, expected_conversion(epg));
}

TEST_F(EpgUpdate, FileTooShortForACountIsLeftAlone)
{
    image.add_file(1, "7.epg", Bytes{1, 2});
    EXPECT_EQ(update(), "File 7.epg is too short for programme information - left unchanged\n");
    EXPECT_EQ(image.read_file(1, "7.epg"), (Bytes{1, 2}));
}

// A .tmp beside its .epg is an unfinished copy: it goes, and the .epg is converted.
TEST_F(EpgUpdate, LeftoverTmpBesideItsEpgIsDeleted)
{
    Bytes old3 = contiguous_epg(3, 328);
    image.add_file(1, "7.epg", old3);
    image.add_file(1, "7.tmp", testimg::pattern_bytes(600, 3));

    EXPECT_EQ(update(), "Updating 7.epg to v20+\n");
    EXPECT_FALSE(exists("7.tmp"));
    EXPECT_EQ(image.read_file(1, "7.epg"), expected_conversion(old3));
}

// A run interrupted after the .epg was deleted leaves the converted copy only under the
// .tmp name: it is the recording's information and becomes the .epg again.
TEST_F(EpgUpdate, LeftoverTmpWithoutItsEpgIsKept)
{
    Bytes copy = expected_conversion(contiguous_epg(3, 328));
    Bytes old2 = contiguous_epg(2, 328);
    image.add_file(1, "7.tmp", copy);
    image.add_file(1, "8.epg", old2);

    // The renamed copy keeps its place in the directory, before 8.epg.
    EXPECT_EQ(update(), "File 7.epg is already at v20+\nUpdating 8.epg to v20+\n");
    EXPECT_FALSE(exists("7.tmp"));
    EXPECT_EQ(image.read_file(1, "7.epg"), copy);
    EXPECT_EQ(image.read_file(1, "8.epg"), expected_conversion(old2));
}

// Only N.epg is a recording's information, and N.tmp this command's own copy: files of
// other names, .tmp or .epg, are not this command's and stay as they are.
TEST_F(EpgUpdate, FilesOfOtherNamesAreLeftAlone)
{
    Bytes old = contiguous_epg(2, 328);
    Bytes foreign = testimg::pattern_bytes(300, 4);
    image.add_file(1, "2.epg.tmp", foreign);
    image.add_file(1, "foo.tmp", foreign);
    image.add_file(1, "notes.epg", old);
    image.add_file(1, "07.tmp", foreign);

    EXPECT_EQ(update(), "");
    for (const char *name : {"2.epg.tmp", "foo.tmp", "07.tmp"})
        EXPECT_EQ(image.read_file(1, name), foreign) << name;
    EXPECT_EQ(image.read_file(1, "notes.epg"), old);
    EXPECT_FALSE(exists("2.epg.epg"));
    EXPECT_FALSE(exists("foo.epg"));
}

TEST_F(EpgUpdate, SecondRunFindsEverythingConverted)
{
    image.add_file(1, "7.epg", contiguous_epg(3, 328));
    image.add_file(1, "8.epg", contiguous_epg(83, 328));
    image.add_file(1, "9.epg", contiguous_epg(2, 332));
    update();
    Bytes seven = image.read_file(1, "7.epg"), eight = image.read_file(1, "8.epg");

    std::string second = update();
    EXPECT_NE(second.find("File 7.epg is already at v20+\n"), std::string::npos) << second;
    EXPECT_NE(second.find("File 8.epg is already at v20+\n"), std::string::npos) << second;
    EXPECT_NE(second.find("File 9.epg is already at v20+\n"), std::string::npos) << second;
    EXPECT_EQ(second.find("Updating"), std::string::npos) << second;
    EXPECT_EQ(image.read_file(1, "7.epg"), seven);
    EXPECT_EQ(image.read_file(1, "8.epg"), eight);
}

// Running out of room ends the run; what was converted before stays converted, the file
// that did not fit keeps its old form, and no half-made copy is left.
TEST_F(EpgUpdate, NoRoomForACopyKeepsEverythingComplete)
{
    Bytes small = contiguous_epg(3, 328);  // one cluster, and one for its copy
    Bytes large = contiguous_epg(20, 328); // two clusters, and two for its copy
    image.add_file(1, "7.epg", small);
    image.add_file(1, "8.epg", large);
    uint32_t free_clusters = image.fat_word0(1);
    image.add_file(1, "filler", Bytes((free_clusters - 1) * 4096, 0x11));
    ASSERT_EQ(image.fat_word0(1), 1u);

    HumaxDisk *disk = testimg::open_disk(path, true);
    testing::internal::CaptureStderr();
    Error error;
    EXPECT_FALSE(epg_update_all(disk, &error));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Updating 7.epg to v20+\nUpdating 8.epg to v20+\n");
    EXPECT_EQ(error.kind, ErrorKind::Space);
    EXPECT_EQ(error.text, "Insufficient space\n");
    disk_close(disk);

    EXPECT_EQ(testimg::check_image(path, 304), std::vector<std::string>{});
    EXPECT_EQ(image.read_file(1, "7.epg"), expected_conversion(small));
    EXPECT_EQ(image.read_file(1, "8.epg"), large);
    EXPECT_FALSE(exists("7.tmp"));
    EXPECT_FALSE(exists("8.tmp"));
}

} // namespace
