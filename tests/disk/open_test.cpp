#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "common/error.h"
#include "common/run_options.h"
#include "disk/disk_file.h"
#include "disk/disk_io.h"
#include "disk/file_map.h"
#include "disk_image.h"
#include "disk_opening.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;

class Open : public ::testing::Test {
  protected:
    testimg::TempDir dir;
    std::string path = dir.file("disk.img");
    void SetUp() override { run_options = RunOptions{}; }
};

TEST(SwapWords, ReversesEachWordAndIsItsOwnInverse)
{
    uint8_t bytes[11] = {'A', 'B', 'C', 'D', 0x00, 0x01, 0x02, 0x03, 9, 9, 9};
    swap_words(bytes, 0);
    EXPECT_EQ(bytes[0], 'A');
    swap_words(bytes, 2);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(bytes), 4), "DCBA");
    EXPECT_EQ(bytes[4], 0x03);
    EXPECT_EQ(bytes[7], 0x00);
    EXPECT_EQ(bytes[8], 9); // beyond the count: untouched
    // Long and unaligned runs take the vector path.
    Bytes data = testimg::pattern_bytes(4096 + 12);
    Bytes copy = data;
    swap_words(copy.data() + 1, 1026);
    for (size_t w = 0; w < 1026; ++w)
        for (int b = 0; b < 4; ++b)
            ASSERT_EQ(copy[1 + 4 * w + b], data[1 + 4 * w + 3 - b]) << w;
    swap_words(copy.data() + 1, 1026);
    EXPECT_EQ(copy, data);
}

TEST(SectorPosition, NeverTruncatedTo32Bits)
{
    EXPECT_EQ(sector_position(0x800000), 0x100000000ull);
    EXPECT_EQ(sector_position(0xFFFFFFFF), 0x1FFFFFFFE00ull);
}

TEST_F(Open, ReadsTheTableAndEveryDescriptor)
{
    DiskImage image(path, testimg::default_spec());
    HumaxDisk *disk = testimg::open_volume(path);
    ASSERT_EQ(disk->partition_count, 3);
    for (int i = 0; i < 3; ++i) {
        const PartitionInfo &p = disk->partitions[i];
        EXPECT_EQ(p.start_sector, image.start_sector(i));
        EXPECT_EQ(p.data_sector, image.data_sector(i));
        EXPECT_EQ(p.fat_sector, image.fat_sector(i));
        EXPECT_EQ(p.dir_sector, image.dir_sector(i));
        EXPECT_EQ(p.cluster_sectors, 8u);
        EXPECT_EQ(p.cluster_count, 256u);
        EXPECT_EQ(p.free_clusters, 256u);
        EXPECT_EQ(p.format_code, 0xE0000030u);
    }
    disk_close(disk);
}

TEST_F(Open, StartSectorIsBuiltFromTwoHalves)
{
    testimg::ImageSpec spec = testimg::default_spec();
    spec.partitions[0].start_sector = 65568; // 0x00010020
    DiskImage image(path, spec);
    Bytes table = image.read_sectors(0, 1);
    EXPECT_EQ(table[456] | table[457] << 8, 0x0001);
    EXPECT_EQ(table[462] | table[463] << 8, 0x0020);
    HumaxDisk *disk = testimg::open_volume(path);
    EXPECT_EQ(disk->partitions[0].start_sector, 65568u);
    disk_close(disk);
}

TEST_F(Open, PartitionsBeyondFourGibibytes)
{
    testimg::ImageSpec spec = testimg::default_spec();
    spec.partitions[0].start_sector = 0x800010; // past 4 GiB
    spec.partitions[1].start_sector = 0;
    spec.partitions[2].start_sector = 0;
    DiskImage image(path, spec);
    Bytes contents = testimg::pattern_bytes(3 * 4096 + 1);
    image.add_file(0, "2.av", contents);
    HumaxDisk *disk = testimg::open_volume(path, true);
    FileMap map;
    ASSERT_TRUE(dfile_map_name(disk, 0, "2.av", FileMapOptions{}, &map));
    Bytes buffer(1 << 16);
    size_t n = 0;
    Error error;
    ASSERT_TRUE(dfile_map_read(&map, 0, buffer.data(), buffer.size(), &n, &error));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<long>(n)), contents);
    DiskFile *file = dfile_create(disk, 0, "3.av", contents.size(), 0x1002, Swap::Yes, &error);
    EXPECT_TRUE(dfile_write(contents.data(), contents.size(), file, &error));
    dfile_close(file);
    EXPECT_TRUE(disk_write_tables(disk, 0, &error)) << error.text;
    disk_close(disk);
    EXPECT_EQ(DiskImage(path).read_file(0, "3.av"), contents);
    EXPECT_TRUE(testimg::check_image(path).empty());
}

TEST_F(Open, UnknownTableIsRefused)
{
    DiskImage image(path, testimg::default_spec());
    image.write_bytes(476, Bytes{0x00, 0x00}); // markers at 444 and 460 only
    EXPECT_EXIT(testimg::open_volume(path), testing::ExitedWithCode(1),
                "^Unknown partition table\n$");
}

TEST_F(Open, UnknownTableInRecoveryWithoutInfoUsesSectorSixteen)
{
    testimg::ImageSpec spec = testimg::default_spec();
    spec.partitions[0].start_sector = 16;
    DiskImage image(path, spec);
    image.add_file(0, "5.av", Bytes(100, 5));
    image.write_bytes(444, Bytes(48, 0));
    testing::internal::CaptureStderr();
    HumaxDisk *disk = testimg::open_volume(path, false, DiskOpenPolicy{true, true});
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Unknown partition table\nAV partition size mismatch\n");
    EXPECT_EQ(disk->partition_count, 1);
    EXPECT_TRUE(dfile_exists(disk, 0, "5.av"));
    disk_close(disk);
}

TEST_F(Open, RecoveryWithoutInfoReadsOnlyTheFirstPartition)
{
    DiskImage image(path, testimg::default_spec());
    // Garbage in the other partitions' descriptors and tables must not matter.
    image.set_descriptor_u32(1, 276, 7);
    image.set_fat_entry(2, 3, 3);
    HumaxDisk *disk = testimg::open_volume(path, false, DiskOpenPolicy{true, true});
    EXPECT_EQ(disk->partition_count, 1);
    disk_close(disk);
    EXPECT_EXIT(testimg::open_volume(path, false, DiskOpenPolicy{true, false}), testing::ExitedWithCode(1),
                "^Unsupported partition\nRecovery mode without information \\(-r -n\\) can still read the "
                "recordings: it reads the recordings partition alone\n$");
}

TEST_F(Open, DescriptorChecks)
{
    for (uint32_t sectors : {255u, 257u}) {
        DiskImage image(path, testimg::default_spec());
        image.set_descriptor_u32(2, 276, sectors);
        image.set_descriptor_u32(2, 280, 1); // also a size mismatch: reported second
        EXPECT_EXIT(testimg::open_volume(path), testing::ExitedWithCode(1),
                    "^Unsupported partition\n$");
    }
    DiskImage image(path, testimg::default_spec());
    image.set_descriptor_u16(1, 230, 0);
    EXPECT_EXIT(testimg::open_volume(path), testing::ExitedWithCode(1),
                "^Unsupported partition\n$");
    DiskImage mismatch(path, testimg::default_spec());
    mismatch.set_descriptor_u32(1, 280, 8 * 255);
    EXPECT_EXIT(testimg::open_volume(path), testing::ExitedWithCode(1),
                "^EPG partition size mismatch\n$");
}

TEST_F(Open, MissingImageAndCorruptTableSizes)
{
    EXPECT_EXIT(testimg::open_volume(dir.file("none.img")), testing::ExitedWithCode(1),
                "none.img: No such file or directory");
    DiskImage image(path, testimg::default_spec());
    image.set_descriptor_u32(0, 284, 0xFFFFFFF0); // an absurd table length
    image.set_descriptor_u32(0, 232, 0xFFFFFFF0);
    EXPECT_EXIT(testimg::open_volume(path), testing::ExitedWithCode(1),
                "^FAT Memory allocation: Cannot allocate memory\n$");
}

// Opening gives back what stops it, composed where it was found, says nothing itself and
// leaves nothing open: the caller decides what to show and whether to go on.
TEST_F(Open, FailuresAreReturnedWithTheProgramsMessages)
{
    DiskImage image(path, testimg::default_spec());
    image.write_bytes(476, Bytes{0x00, 0x00});
    DiskOpenOptions options;
    options.writable = true;
    options.lock = true;
    HumaxDisk *disk = nullptr;
    Error error;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(disk_open_volume({path}, options, &disk, &error));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(disk, nullptr);
    EXPECT_EQ(error.kind, ErrorKind::Volume);
    EXPECT_EQ(error.text, "Unknown partition table\n");
    EXPECT_FALSE(disk_open_volume({dir.file("none.img")}, options, &disk, &error));
    EXPECT_EQ(error.kind, ErrorKind::Open);
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_EQ(error.text, dir.file("none.img") + ": No such file or directory\n");

    // Not judged, the same disk opens with what was found; the failed opening above left
    // no lock behind, and this one's lock refuses a second writer.
    options.validation = Validation::None;
    ASSERT_TRUE(disk_open_volume({path}, options, &disk, &error)) << error.text;
    EXPECT_TRUE(disk->volume.table_unknown);
    HumaxDisk *second = nullptr;
    EXPECT_FALSE(disk_open_volume({path}, options, &second, &error));
    EXPECT_EQ(error.kind, ErrorKind::Locked);
    EXPECT_EQ(error.text, path + " is in use by another process\n");
    // Told apart before the lock: the same file under another name is the same disk.
    DiskOpenOptions other = options;
    other.distinct_from = disk;
    EXPECT_FALSE(disk_open_volume({dir.path() + "/./disk.img"}, other, &second, &error));
    EXPECT_EQ(error.kind, ErrorKind::SameDisk);
    EXPECT_EQ(error.text, path + " and " + dir.path() + "/./disk.img are the same disk: copying a disk "
                                                        "onto itself is refused\n");
    disk_close(disk);
}

// A disk in memory opens like an image file, and what is written to it stays in that
// memory for the next opening (the fuzz targets use nothing else).
TEST_F(Open, FromMemoryWrittenInPlace)
{
    DiskImage image(path, testimg::default_spec());
    Bytes file = testimg::read_host_file(path);
    MemoryImage memory = memory_image_of(file.data(), file.size());
    DiskOpenOptions options;
    options.writable = true;
    HumaxDisk *disk = nullptr;
    Error error;
    ASSERT_TRUE(disk_open_volume({"memory", &memory}, options, &disk, &error)) << error.text;
    EXPECT_EQ(disk->volume.disk_bytes, file.size());
    Bytes contents = testimg::pattern_bytes(2 * 4096 + 9, 4);
    DiskFile *out = dfile_create(disk, 0, "2.av", contents.size(), 0x1002, Swap::Yes, &error);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(dfile_write(contents.data(), contents.size(), out, &error));
    dfile_close(out);
    EXPECT_TRUE(disk_write_tables(disk, 0, &error)) << error.text;
    disk_close(disk);

    options.writable = false;
    ASSERT_TRUE(disk_open_volume({"memory", &memory}, options, &disk, &error)) << error.text;
    FileMap map;
    ASSERT_TRUE(dfile_map_name(disk, 0, "2.av", FileMapOptions{}, &map));
    Bytes back(contents.size());
    size_t n = 0;
    ASSERT_TRUE(dfile_map_read(&map, 0, back.data(), back.size(), &n, &error));
    EXPECT_EQ(back, contents);
    disk_close(disk);
    EXPECT_EQ(testimg::read_host_file(path), file);
}

} // namespace
