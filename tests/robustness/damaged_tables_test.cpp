// Damaged tables must not make a small image cost more than its own size: a chain that
// loops is read once around, and an allocation table that runs past the end of the disk
// holds only the entries on it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "disk/disk_file.h"
#include "disk/fat.h"
#include "disk/file_map.h"
#include "disk/humax_disk.h"
#include "disk_image.h"
#include "disk_opening.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;

class DamagedTables : public ::testing::Test {
  protected:
    testimg::TempDir dir;
    std::string path = dir.file("disk.img");
};

TEST_F(DamagedTables, ALoopingChainIsReadOnceAround)
{
    testimg::ImageSpec spec = testimg::default_spec();
    spec.partitions[0].cluster_sectors = 1;
    spec.partitions[0].cluster_count = 20000;
    DiskImage image(path, spec);
    Bytes stream = testimg::pattern_bytes(3 * 512, 5);
    image.add_file_at(0, "2.av", stream, {30, 31, 7});
    image.set_fat_entry(0, 7, 31); // back into the chain, after its first cluster
    Bytes slot = image.dir_slot(0, 0);
    testimg::put_le32(slot, 28, 0xFFFFFFF0); // the entry claims far more than that
    testimg::put_le32(slot, 32, 1);
    image.set_dir_slot(0, 0, slot);

    HumaxDisk *disk = testimg::open_volume(path);
    testing::internal::CaptureStderr();
    FileMapOptions options;
    options.report = true;
    FileMap file;
    ASSERT_TRUE(dfile_map_name(disk, 0, "2.av", options, &file));
    EXPECT_EQ(fat_chain_sectors_from(&disk->partitions[0], dirent_get(disk->partitions[0].dir_head, DIRENT_FIRST_SECTOR)), 3u);
    Bytes read(1 << 20);
    size_t total = 0;
    Error error;
    EXPECT_TRUE(dfile_map_read(&file, 0, read.data(), read.size(), &total, &error));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(total, stream.size());
    EXPECT_TRUE(std::equal(stream.begin(), stream.end(), read.begin()));
    EXPECT_NE(err.find("truncating to 1536 bytes"), std::string::npos) << err;
    disk_close(disk);
}

TEST_F(DamagedTables, ATableRunningPastTheEndOfTheDiskHoldsOnlyWhatIsOnIt)
{
    DiskImage image(path, testimg::default_spec());
    // The last partition's table claims 64 MiB of entries; the image ends a few
    // megabytes on. (Its directory and data area are empty, so that the entries read from
    // them pass the table's check.)
    image.set_descriptor_u32(2, 232, 0x01000000);
    image.set_descriptor_u32(2, 284, 0x20000);
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    uint64_t words_on_disk = (static_cast<uint64_t>(status.st_size) - uint64_t{image.fat_sector(2)} * 512) / 4;

    testing::internal::CaptureStderr();
    HumaxDisk *disk = testimg::open_volume(path);
    std::string err = testing::internal::GetCapturedStderr();
    const PartitionInfo &p = disk->partitions[2];
    EXPECT_EQ(p.cluster_count, words_on_disk - 1);
    EXPECT_LE(p.fat_words, words_on_disk + 128);
    EXPECT_NE(err.find("MPEG/JPEG partition - allocation table holds"), std::string::npos) << err;
    disk_close(disk);
}

} // namespace
