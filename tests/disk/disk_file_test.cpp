#include <gtest/gtest.h>

#include <cstring>

#include "common/run_options.h"
#include "disk/disk_file.h"
#include "disk/fat.h"
#include "disk_image.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;
using testimg::Placement;

class DiskFiles : public ::testing::Test {
  protected:
    testimg::TempDir dir;
    std::string path = dir.file("disk.img");
    void SetUp() override { run_options = RunOptions{}; }

    // Reads the whole file in pieces of `piece` bytes through dfile_read.
    static Bytes read_in_pieces(DiskFile *file, uint32_t piece, std::vector<uint32_t> *sizes = nullptr)
    {
        Bytes out;
        const uint8_t *data;
        while (!dfile_eof(file)) {
            uint32_t n = dfile_read(&data, piece, file);
            if (sizes)
                sizes->push_back(n);
            out.insert(out.end(), data, data + n);
            if (n == 0)
                break;
        }
        return out;
    }
};

TEST_F(DiskFiles, WholeClusterReadsAndTheTail)
{
    DiskImage image(path, testimg::default_spec());
    Bytes contents = testimg::pattern_bytes(10000);
    image.add_file(0, "5.av", contents, 0x1002, Placement::Fragmented);
    HumaxDisk *disk = disk_open_volume(path.c_str(), "rb");
    DiskFile *file = dfile_open(disk, 0, "5.av", Swap::Yes);
    std::vector<uint32_t> sizes;
    EXPECT_EQ(read_in_pieces(file, 4096, &sizes), contents);
    EXPECT_EQ(sizes, (std::vector<uint32_t>{4096, 4096, 1808}));
    const uint8_t *data;
    EXPECT_EQ(dfile_read(&data, 4096, file), 0u);
    dfile_close(file);
    disk_close(disk);
}

TEST_F(DiskFiles, OddPiecesCrossClusterBoundariesInOrder)
{
    DiskImage image(path, testimg::default_spec());
    Bytes contents = testimg::pattern_bytes(3 * 4096 + 77, 9);
    image.add_file(1, "list", contents, 0x1000, Placement::Reversed);
    HumaxDisk *disk = disk_open_volume(path.c_str(), "rb");
    DiskFile *file = dfile_open(disk, 1, "list", Swap::Yes);
    for (uint32_t piece : {5u, 316u, 304u, 4096u, 1u, 4095u}) {
        dfile_rewind(file);
        EXPECT_EQ(read_in_pieces(file, piece), contents) << piece;
    }
    // A read that ends exactly where the buffered bytes end, then a larger one.
    dfile_rewind(file);
    const uint8_t *data;
    ASSERT_EQ(dfile_read(&data, 96, file), 96u);
    ASSERT_EQ(dfile_read(&data, 4000, file), 4000u);
    ASSERT_EQ(dfile_read(&data, 316, file), 316u);
    EXPECT_EQ(0, memcmp(data, contents.data() + 4096, 316));
    dfile_close(file);
    disk_close(disk);
}

TEST_F(DiskFiles, BulkReadsMatchAndWithoutSwapGiveStoredBytes)
{
    DiskImage image(path, testimg::default_spec());
    Bytes contents = testimg::pattern_bytes(20 * 4096 + 6, 3);
    image.add_file(0, "7.av", contents, 0x1002, Placement::Fragmented);
    HumaxDisk *disk = disk_open_volume(path.c_str(), "rb");
    DiskFile *file = dfile_open(disk, 0, "7.av", Swap::Yes);
    Bytes out, buffer(5 * 4096 + 100);
    for (size_t n; (n = dfile_read_into(file, buffer.data(), buffer.size())) > 0;)
        out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<long>(n));
    EXPECT_EQ(out, contents);
    dfile_close(file);

    file = dfile_open(disk, 0, "7.av", Swap::No);
    out.clear();
    for (size_t n; (n = dfile_read_into(file, buffer.data(), buffer.size())) > 0;)
        out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<long>(n));
    EXPECT_EQ(out, image.read_file_raw(0, "7.av"));
    dfile_close(file);
    disk_close(disk);
}

TEST_F(DiskFiles, EmptyFileIsAtItsEndAtOnce)
{
    DiskImage image(path, testimg::default_spec());
    image.add_file(0, "empty", Bytes{});
    HumaxDisk *disk = disk_open_volume(path.c_str(), "rb");
    DiskFile *file = dfile_open(disk, 0, "empty", Swap::Yes);
    EXPECT_TRUE(dfile_eof(file));
    const uint8_t *data;
    EXPECT_EQ(dfile_read(&data, 100, file), 0u);
    dfile_close(file);
    EXPECT_EQ(dfile_open(disk, 0, "missing", Swap::Yes), nullptr);
    uint64_t size = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(dfile_size(nullptr, &size), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error - file not opened\n");
    disk_close(disk);
}

TEST_F(DiskFiles, SizeBeyondTheChainIsTruncatedWithAWarning)
{
    DiskImage image(path, testimg::default_spec());
    image.add_file(0, "short.av", testimg::pattern_bytes(4096), 0x1002);
    Bytes slot = image.dir_slot(0, 0);
    slot[36] = 0x88; // size 5000 = 0x1388
    slot[37] = 0x13;
    image.set_dir_slot(0, 0, slot);
    HumaxDisk *disk = disk_open_volume(path.c_str(), "rb");
    testing::internal::CaptureStderr();
    DiskFile *file = dfile_open(disk, 0, "short.av", Swap::Yes);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning file allocation error - truncating to 4096 bytes\n");
    EXPECT_EQ(read_in_pieces(file, 4096).size(), 4096u);
    dfile_close(file);
    disk_close(disk);
}

TEST_F(DiskFiles, ChainWithoutEndMarkerIsReadToItsLastCluster)
{
    DiskImage image(path, testimg::default_spec());
    Bytes contents = testimg::pattern_bytes(2 * 4096);
    image.add_file_at(0, "nomark.av", contents, {4, 9});
    image.set_fat_entry(0, 9, FAT_FREE);
    HumaxDisk *disk = disk_open_volume(path.c_str(), "rb");
    DiskFile *file = dfile_open(disk, 0, "nomark.av", Swap::Yes);
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_in_pieces(file, 4096), contents);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Missing end of file marker\n");
    dfile_close(file);
    disk_close(disk);
}

TEST_F(DiskFiles, LoopsAndStrayFirstSectorsNeitherHangNorReadOutside)
{
    DiskImage image(path, testimg::default_spec());
    image.add_file_at(0, "loop.av", testimg::pattern_bytes(3 * 4096), {3, 4, 5});
    image.set_fat_entry(0, 5, 3);
    image.add_file(0, "stray.av", testimg::pattern_bytes(4096));
    Bytes slot = image.dir_slot(0, 1);
    slot[12] = 5; // first sector far before the data area
    slot[13] = slot[14] = slot[15] = 0;
    image.set_dir_slot(0, 1, slot);
    image.add_file(0, "beyond.av", testimg::pattern_bytes(4096));
    slot = image.dir_slot(0, 2);
    slot[12] = slot[13] = slot[14] = 0xF0; // beyond the last cluster
    image.set_dir_slot(0, 2, slot);

    HumaxDisk *disk = disk_open_volume(path.c_str(), "rb+");
    testing::internal::CaptureStderr();
    DiskFile *loop = dfile_open(disk, 0, "loop.av", Swap::Yes);
    Bytes got = read_in_pieces(loop, 4096);
    EXPECT_EQ(got.size(), 3u * 4096);
    dfile_close(loop);
    for (const char *name : {"stray.av", "beyond.av"}) {
        DiskFile *file = dfile_open(disk, 0, name, Swap::Yes);
        ASSERT_NE(file, nullptr);
        EXPECT_TRUE(dfile_eof(file)) << name;
        dfile_close(file);
        dfile_delete(disk, 0, name);
    }
    dfile_delete(disk, 0, "loop.av");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(disk->partitions[0].dir_head, nullptr);
    disk_close(disk);
}

TEST_F(DiskFiles, WritesInOddPiecesLandWhicheverBoundaryTheyCross)
{
    for (uint32_t size : {10000u, 8192u, 4097u, 303u, 5u}) {
        DiskImage image(path, testimg::default_spec());
        Bytes contents = testimg::pattern_bytes(size, size);
        HumaxDisk *disk = disk_open_volume(path.c_str(), "rb+");
        DiskFile *file = dfile_create(disk, 1, "new.epg", size, 0x1000, Swap::Yes);
        size_t at = 0;
        while (at < size) {
            size_t piece = std::min<size_t>(304, size - at);
            EXPECT_EQ(dfile_write(contents.data() + at, piece, file), piece);
            at += piece;
        }
        // Past the size nothing more is accepted.
        EXPECT_EQ(dfile_write(contents.data(), 1, file), 0u);
        dfile_close(file);
        disk_write_tables(disk, 1);
        disk_close(disk);
        DiskImage after(path);
        EXPECT_EQ(after.read_file(1, "new.epg"), contents) << size;
        auto info = after.find(1, "new.epg");
        ASSERT_TRUE(info);
        EXPECT_EQ(info->attributes, 0x1000u);
        EXPECT_EQ(info->allocated_sectors, (size + 4095) / 4096 * 8);
        EXPECT_TRUE(testimg::check_image(path).empty());
    }
}

TEST_F(DiskFiles, WholeClustersGoStraightFromTheCallersMemory)
{
    DiskImage image(path, testimg::default_spec());
    Bytes contents = testimg::pattern_bytes(6 * 4096 + 10, 4);
    Bytes scratch = contents;
    scratch.push_back(0x5A); // one byte more than the file holds
    HumaxDisk *disk = disk_open_volume(path.c_str(), "rb+");
    DiskFile *file = dfile_create(disk, 0, "9.av", contents.size(), 0x1002, Swap::Yes);
    // A write passing the size stores what fits and reports 0.
    EXPECT_EQ(dfile_write_mutable(scratch.data(), scratch.size(), file), 0u);
    // The caller's whole clusters were reversed in place.
    EXPECT_EQ(scratch[0], contents[3]);
    EXPECT_EQ(scratch[3], contents[0]);
    dfile_close(file);
    disk_write_tables(disk, 0);
    disk_close(disk);
    EXPECT_EQ(DiskImage(path).read_file(0, "9.av"), contents);
}

TEST_F(DiskFiles, DeleteFreesTheChainWithinItsBudget)
{
    DiskImage image(path, testimg::default_spec());
    image.add_file(0, "keep.av", testimg::pattern_bytes(2 * 4096, 1));
    image.add_file(0, "gone.av", testimg::pattern_bytes(3 * 4096, 2), 0x1002, Placement::Fragmented);
    HumaxDisk *disk = disk_open_volume(path.c_str(), "rb+");
    uint32_t word0 = fat_word0(&disk->partitions[0]);
    testing::internal::CaptureStderr();
    dfile_delete(disk, 0, "absent.av");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    dfile_delete(disk, 0, "gone.av");
    EXPECT_EQ(fat_word0(&disk->partitions[0]), word0 + 3);
    disk_write_tables(disk, 0);
    disk_close(disk);
    DiskImage after(path);
    EXPECT_FALSE(after.find(0, "gone.av"));
    EXPECT_EQ(after.read_file(0, "keep.av"), testimg::pattern_bytes(2 * 4096, 1));
    EXPECT_TRUE(testimg::check_image(path).empty());
}

TEST_F(DiskFiles, DeleteStopsAtTheBudgetOfACrossedChain)
{
    DiskImage image(path, testimg::default_spec());
    image.add_file_at(0, "victim.av", testimg::pattern_bytes(2 * 4096), {20, 21});
    image.add_file_at(0, "bad.av", testimg::pattern_bytes(4096), {10});
    image.set_fat_entry(0, 10, 20); // bad.av's chain runs into victim.av's clusters
    HumaxDisk *disk = disk_open_volume(path.c_str(), "rb+");
    dfile_delete(disk, 0, "bad.av");
    EXPECT_EQ(fat_get(&disk->partitions[0], 20), 21u);
    EXPECT_EQ(fat_get(&disk->partitions[0], 21), FAT_END);
    disk_close(disk);
}

TEST_F(DiskFiles, RenameMessages)
{
    DiskImage image(path, testimg::default_spec());
    image.add_file(1, "_RECORD_LIST_", Bytes(309, 0));
    HumaxDisk *disk = disk_open_volume(path.c_str(), "rb+");
    testing::internal::CaptureStderr();
    EXPECT_EQ(dfile_rename(disk, 1, "nothing", "_RECORD_LIST_"), 1);
    EXPECT_EQ(dfile_rename(disk, 1, "nothing", "other"), 1);
    EXPECT_EQ(dfile_rename(disk, 1, "_RECORD_LIST_", "_RL_BACKUP_"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Newname _RECORD_LIST_ already exists\nOldname nothing does not exist\n");
    EXPECT_TRUE(dfile_exists(disk, 1, "_RL_BACKUP_"));
    EXPECT_FALSE(dfile_exists(disk, 1, "_RECORD_LIST_"));
    disk_close(disk);
}

TEST_F(DiskFiles, CreateRefusesAnExistingNameAndAFullPartition)
{
    DiskImage image(path, testimg::default_spec());
    image.add_file(0, "2.av", Bytes(4, 1));
    HumaxDisk *disk = disk_open_volume(path.c_str(), "rb+");
    EXPECT_EXIT(dfile_create(disk, 0, "2.av", 10, 0x1002, Swap::Yes), testing::ExitedWithCode(1),
                "^create: 2.av already exists\n$");
    EXPECT_EXIT(dfile_create(disk, 0, "big.av", 256 * 4096, 0x1002, Swap::Yes),
                testing::ExitedWithCode(1), "^Insufficient space\n$");
    disk_close(disk);
}

TEST_F(DiskFiles, AFailedClusterWriteEndsTheRunBeforeTheTables)
{
    DiskImage image(path, testimg::default_spec());
    Bytes before = testimg::read_host_file(path);
    HumaxDisk *disk = disk_open_volume(path.c_str(), "rb"); // writes will fail
    DiskFile *file = dfile_create(disk, 0, "3.av", 4096, 0x1002, Swap::Yes);
    Bytes contents(4096, 7);
    EXPECT_EXIT(dfile_write(contents.data(), contents.size(), file), testing::ExitedWithCode(1),
                "^3.av: Bad file descriptor\n$");
    dfile_close(file);
    disk_close(disk);
    EXPECT_EQ(testimg::read_host_file(path), before);
}

} // namespace
