#include <gtest/gtest.h>

#include <cstring>

#include "common/error.h"
#include "common/run_options.h"
#include "disk/disk_file.h"
#include "disk/fat.h"
#include "disk/file_map.h"
#include "disk_image.h"
#include "disk_opening.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;
using testimg::Placement;

class DiskFiles : public ::testing::Test {
  protected:
    testimg::TempDir dir;
    std::string path = dir.file("disk.img");
    void SetUp() override { run_options = RunOptions{}; }

    // Reads the whole file in pieces of `piece` bytes, one after the other.
    static Bytes read_in_pieces(FileMap *file, size_t piece, std::vector<size_t> *sizes = nullptr)
    {
        Bytes out, buffer(piece);
        for (uint64_t offset = 0;;) {
            size_t n = 0;
            Error error;
            EXPECT_TRUE(dfile_map_read(file, offset, buffer.data(), piece, &n, &error)) << error.text;
            if (n == 0)
                break;
            if (sizes)
                sizes->push_back(n);
            out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<long>(n));
            offset += n;
        }
        return out;
    }

    static FileMap map_of(HumaxDisk *disk, int part, const char *name, Swap swap = Swap::Yes)
    {
        FileMapOptions options;
        options.swap = swap;
        options.report = true;
        FileMap map;
        EXPECT_TRUE(dfile_map_name(disk, part, name, options, &map)) << name;
        return map;
    }
};

TEST_F(DiskFiles, WholeClusterReadsAndTheTail)
{
    DiskImage image(path, testimg::default_spec());
    Bytes contents = testimg::pattern_bytes(10000);
    image.add_file(0, "5.av", contents, 0x1002, Placement::Fragmented);
    HumaxDisk *disk = testimg::open_volume(path);
    FileMap file = map_of(disk, 0, "5.av");
    std::vector<size_t> sizes;
    EXPECT_EQ(read_in_pieces(&file, 4096, &sizes), contents);
    EXPECT_EQ(sizes, (std::vector<size_t>{4096, 4096, 1808}));
    disk_close(disk);
}

TEST_F(DiskFiles, OddPiecesCrossClusterBoundariesInOrder)
{
    DiskImage image(path, testimg::default_spec());
    Bytes contents = testimg::pattern_bytes(3 * 4096 + 77, 9);
    image.add_file(1, "list", contents, 0x1000, Placement::Reversed);
    HumaxDisk *disk = testimg::open_volume(path);
    FileMap file = map_of(disk, 1, "list");
    for (size_t piece : {5u, 316u, 304u, 4096u, 1u, 4095u, 3u * 4096 + 77})
        EXPECT_EQ(read_in_pieces(&file, piece), contents) << piece;
    disk_close(disk);
}

TEST_F(DiskFiles, BulkReadsMatchAndWithoutSwapGiveStoredBytes)
{
    DiskImage image(path, testimg::default_spec());
    Bytes contents = testimg::pattern_bytes(20 * 4096 + 6, 3);
    image.add_file(0, "7.av", contents, 0x1002, Placement::Fragmented);
    HumaxDisk *disk = testimg::open_volume(path);
    FileMap file = map_of(disk, 0, "7.av");
    EXPECT_EQ(read_in_pieces(&file, 5 * 4096 + 100), contents);
    FileMap stored = map_of(disk, 0, "7.av", Swap::No);
    Bytes raw = image.read_file_raw(0, "7.av");
    EXPECT_EQ(read_in_pieces(&stored, 5 * 4096 + 100), raw);
    // A read that ends the file inside a 4-byte group, with room, stores the whole group
    // as the disk holds it (the copy between disks keeps the stored word).
    Bytes buffer(4096, 0xEE);
    size_t n = 0;
    Error error;
    ASSERT_TRUE(dfile_map_read(&stored, 20 * 4096, buffer.data(), 10, &n, &error));
    EXPECT_EQ(n, 6u);
    Bytes cluster = image.read_sectors(image.data_sector(0) + 8 * image.find(0, "7.av")->clusters.back(), 8);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 8), Bytes(cluster.begin(), cluster.begin() + 8));
    EXPECT_EQ(buffer[8], 0xEE);
    disk_close(disk);
}

TEST_F(DiskFiles, EmptyFileIsAtItsEndAtOnce)
{
    DiskImage image(path, testimg::default_spec());
    image.add_file(0, "empty", Bytes{});
    HumaxDisk *disk = testimg::open_volume(path);
    FileMap file = map_of(disk, 0, "empty");
    EXPECT_EQ(file.size, 0u);
    EXPECT_TRUE(read_in_pieces(&file, 100).empty());
    EXPECT_FALSE(dfile_map_name(disk, 0, "missing", FileMapOptions{}, &file));
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
    HumaxDisk *disk = testimg::open_volume(path);
    testing::internal::CaptureStderr();
    FileMap file = map_of(disk, 0, "short.av");
    FileMap again = map_of(disk, 0, "short.av");
    // Said once, and the entry is left as it is (it is written back as read).
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning file allocation error - truncating to 4096 bytes\n");
    EXPECT_EQ(dirent_size(disk->partitions[0].dir_head), 5000u);
    EXPECT_EQ(read_in_pieces(&file, 4096).size(), 4096u);
    EXPECT_EQ(again.size, 4096u);
    disk_close(disk);
}

TEST_F(DiskFiles, ChainWithoutEndMarkerIsReadToItsLastCluster)
{
    DiskImage image(path, testimg::default_spec());
    Bytes contents = testimg::pattern_bytes(2 * 4096);
    image.add_file_at(0, "nomark.av", contents, {4, 9});
    image.set_fat_entry(0, 9, FAT_FREE);
    HumaxDisk *disk = testimg::open_volume(path);
    FileMap file = map_of(disk, 0, "nomark.av");
    testing::internal::CaptureStderr();
    // Said each time a reading of the file reaches its last cluster.
    EXPECT_EQ(read_in_pieces(&file, 4096), contents);
    EXPECT_EQ(read_in_pieces(&file, 1000), contents);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Missing end of file marker\nMissing end of file marker\n");
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

    HumaxDisk *disk = testimg::open_volume(path, true);
    testing::internal::CaptureStderr();
    FileMap loop = map_of(disk, 0, "loop.av");
    EXPECT_EQ(read_in_pieces(&loop, 4096).size(), 3u * 4096);
    for (const char *name : {"stray.av", "beyond.av"}) {
        FileMap file = map_of(disk, 0, name);
        EXPECT_EQ(file.size, 0u) << name;
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
        HumaxDisk *disk = testimg::open_volume(path, true);
        Error error;
        DiskFile *file = dfile_create(disk, 1, "new.epg", size, 0x1000, Swap::Yes, &error);
        size_t at = 0;
        while (at < size) {
            size_t piece = std::min<size_t>(304, size - at);
            EXPECT_TRUE(dfile_write(contents.data() + at, piece, file, &error));
            at += piece;
        }
        // Past the size nothing more is stored.
        EXPECT_TRUE(dfile_write(contents.data(), 1, file, &error));
        EXPECT_EQ(file->remaining, 0u);
        dfile_close(file);
        EXPECT_TRUE(disk_write_tables(disk, 1, &error));
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
    HumaxDisk *disk = testimg::open_volume(path, true);
    Error error;
    DiskFile *file = dfile_create(disk, 0, "9.av", contents.size(), 0x1002, Swap::Yes, &error);
    // A write passing the size stores what fits.
    EXPECT_TRUE(dfile_write_mutable(scratch.data(), scratch.size(), file, &error));
    // The caller's whole clusters were reversed in place.
    EXPECT_EQ(scratch[0], contents[3]);
    EXPECT_EQ(scratch[3], contents[0]);
    dfile_close(file);
    EXPECT_TRUE(disk_write_tables(disk, 0, &error));
    disk_close(disk);
    EXPECT_EQ(DiskImage(path).read_file(0, "9.av"), contents);
}

TEST_F(DiskFiles, DeleteFreesTheChainWithinItsBudget)
{
    DiskImage image(path, testimg::default_spec());
    image.add_file(0, "keep.av", testimg::pattern_bytes(2 * 4096, 1));
    image.add_file(0, "gone.av", testimg::pattern_bytes(3 * 4096, 2), 0x1002, Placement::Fragmented);
    HumaxDisk *disk = testimg::open_volume(path, true);
    uint32_t word0 = fat_word0(&disk->partitions[0]);
    testing::internal::CaptureStderr();
    dfile_delete(disk, 0, "absent.av");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    dfile_delete(disk, 0, "gone.av");
    EXPECT_EQ(fat_word0(&disk->partitions[0]), word0 + 3);
    Error error;
    EXPECT_TRUE(disk_write_tables(disk, 0, &error));
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
    HumaxDisk *disk = testimg::open_volume(path, true);
    dfile_delete(disk, 0, "bad.av");
    EXPECT_EQ(fat_get(&disk->partitions[0], 20), 21u);
    EXPECT_EQ(fat_get(&disk->partitions[0], 21), FAT_END);
    disk_close(disk);
}

TEST_F(DiskFiles, RenameMessages)
{
    DiskImage image(path, testimg::default_spec());
    image.add_file(1, "_RECORD_LIST_", Bytes(309, 0));
    HumaxDisk *disk = testimg::open_volume(path, true);
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
    HumaxDisk *disk = testimg::open_volume(path, true);
    const PartitionInfo *p = &disk->partitions[0];
    uint32_t word0 = fat_word0(p);
    Error error;
    EXPECT_EQ(dfile_create(disk, 0, "2.av", 10, 0x1002, Swap::Yes, &error), nullptr);
    EXPECT_EQ(error.kind, ErrorKind::Exists);
    EXPECT_EQ(error.text, "create: 2.av already exists\n");
    // One cluster more than is free: refused with nothing taken.
    EXPECT_EQ(dfile_create(disk, 0, "big.av", 256 * 4096, 0x1002, Swap::Yes, &error), nullptr);
    EXPECT_EQ(error.kind, ErrorKind::Space);
    EXPECT_EQ(error.text, "Insufficient space\n");
    EXPECT_EQ(fat_word0(p), word0);
    EXPECT_EQ(fat_free_count(p), 255u);
    EXPECT_EQ(p->dir_head->next, nullptr);
    DiskFile *fits = dfile_create(disk, 0, "all.av", 255 * 4096, 0x1002, Swap::Yes, &error);
    ASSERT_NE(fits, nullptr);
    EXPECT_EQ(fat_word0(p), word0 - 255);
    dfile_close(fits);
    disk_close(disk);
}

TEST_F(DiskFiles, AFailedClusterWriteIsReturnedWithTheFilesName)
{
    DiskImage image(path, testimg::default_spec());
    Bytes before = testimg::read_host_file(path);
    HumaxDisk *disk = testimg::open_volume(path); // writes will fail
    Error error;
    DiskFile *file = dfile_create(disk, 0, "3.av", 4096, 0x1002, Swap::Yes, &error);
    Bytes contents(4096, 7);
    EXPECT_FALSE(dfile_write(contents.data(), contents.size(), file, &error));
    EXPECT_EQ(error.kind, ErrorKind::Write);
    EXPECT_EQ(error.code, EBADF);
    EXPECT_EQ(error.text, "3.av: Bad file descriptor\n");
    dfile_close(file);
    disk_close(disk);
    EXPECT_EQ(testimg::read_host_file(path), before);
}

} // namespace
