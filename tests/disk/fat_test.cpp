#include <gtest/gtest.h>

#include "common/run_options.h"
#include "disk/disk_file.h"
#include "disk/fat.h"
#include "disk_image.h"
#include "disk_opening.h"

namespace {

using testimg::DiskImage;

class Fat : public ::testing::Test {
  protected:
    testimg::TempDir dir;
    std::string path = dir.file("disk.img");

    void SetUp() override { run_options = RunOptions{}; }

    DiskImage make(uint32_t clusters = 64, uint16_t cluster_sectors = 8)
    {
        testimg::ImageSpec spec = testimg::default_spec();
        for (auto &p : spec.partitions) {
            p.cluster_count = clusters;
            p.cluster_sectors = cluster_sectors;
        }
        return DiskImage(path, spec);
    }

    // Marks every cluster used except `free_ones`, with word 0 agreeing.
    void leave_free(DiskImage &image, const std::vector<uint32_t> &free_ones, uint32_t clusters)
    {
        for (uint32_t c = 0; c < clusters; ++c)
            image.set_fat_entry(0, c, FAT_END);
        for (uint32_t c : free_ones)
            image.set_fat_entry(0, c, FAT_FREE);
        image.set_fat_word0(0, static_cast<uint32_t>(free_ones.size()));
    }
};

TEST_F(Fat, ClustersNeededAreExact)
{
    make();
    HumaxDisk *disk = testimg::open_volume(path);
    PartitionInfo *p = &disk->partitions[0];
    EXPECT_EQ(fat_clusters_needed(p, 4096), 1u);
    EXPECT_EQ(fat_clusters_needed(p, 4097), 2u);
    EXPECT_EQ(fat_clusters_needed(p, uint64_t{1} << 32), 1048576u);
    EXPECT_EQ(fat_clusters_needed(p, (uint64_t{1} << 32) + 1), 1048577u);
    EXPECT_EQ(fat_clusters_needed(p, 0), 1u); // an empty file keeps one cluster
    disk_close(disk);
}

TEST_F(Fat, FirstFitAcrossHolesLowersWordZero)
{
    DiskImage image = make(16);
    leave_free(image, {2, 5, 6, 15}, 16);
    HumaxDisk *disk = testimg::open_volume(path);
    PartitionInfo *p = &disk->partitions[0];
    ClusterChain chain;
    Error error;
    ASSERT_TRUE(fat_allocate(p, 3 * 4096, &chain, &error));
    EXPECT_EQ(chain.first, 2u);
    EXPECT_EQ(chain.last, 6u);
    EXPECT_EQ(chain.count, 3u);
    EXPECT_EQ(fat_get(p, 2), 5u);
    EXPECT_EQ(fat_get(p, 5), 6u);
    EXPECT_EQ(fat_get(p, 6), FAT_END);
    EXPECT_EQ(fat_word0(p), 1u);
    // The last cluster can be allocated too.
    ASSERT_TRUE(fat_allocate(p, 1, &chain, &error));
    EXPECT_EQ(chain.first, 15u);
    EXPECT_EQ(fat_get(p, 15), FAT_END);
    EXPECT_EQ(fat_word0(p), 0u);
    disk_close(disk);
}

TEST_F(Fat, WordZeroBoundsTheFreeCount)
{
    DiskImage image = make(16);
    leave_free(image, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 16);
    image.set_fat_word0(0, 10);
    HumaxDisk *disk = testimg::open_volume(path);
    PartitionInfo *p = &disk->partitions[0];
    EXPECT_EQ(fat_free_count(p), 10u);
    EXPECT_EQ(p->free_clusters, 10u);
    EXPECT_EQ(disk_free_space(disk, 0), 10u * 4096);
    // Word 0 says 10: eleven clusters are refused though twelve are free, and nothing is
    // taken.
    ClusterChain chain;
    Error error;
    EXPECT_FALSE(fat_allocate(p, 11 * 4096, &chain, &error));
    EXPECT_EQ(error.kind, ErrorKind::Space);
    EXPECT_EQ(error.text, "Insufficient space\n");
    EXPECT_EQ(fat_get(p, 0), FAT_FREE);
    EXPECT_EQ(fat_word0(p), 10u);
    // Taking clusters for a repair goes by the entries alone, and leaves word 0 alone.
    EXPECT_FALSE(fat_take(p, 13, &chain));
    ASSERT_TRUE(fat_take(p, 12, &chain));
    EXPECT_EQ(chain.first, 0u);
    EXPECT_EQ(chain.last, 11u);
    EXPECT_EQ(fat_word0(p), 10u);
    disk_close(disk);
}

TEST_F(Fat, InvalidEntriesAreRejectedAtLoadWithTheirValues)
{
    DiskImage image = make(64);
    image.set_fat_entry(1, 7, 7);
    EXPECT_EXIT(testimg::open_volume(path), testing::ExitedWithCode(1),
                "^EPG partition - error in file allocation table 00000040 00000007 00000007\n$");
    image.set_fat_entry(1, 7, FAT_FREE);
    image.set_fat_entry(2, 3, 0x80000000);
    EXPECT_EXIT(testimg::open_volume(path), testing::ExitedWithCode(1),
                "^MPEG/JPEG partition - error in file allocation table 00000040 00000003 80000000\n$");
    image.set_fat_entry(2, 3, 64); // one past the last cluster
    EXPECT_EXIT(testimg::open_volume(path), testing::ExitedWithCode(1),
                "error in file allocation table 00000040 00000003 00000040");
}

TEST_F(Fat, ClusterCountBeyondTheTableRegionIsClamped)
{
    DiskImage image = make(100); // one table sector holds words for 127 clusters
    image.set_descriptor_u32(0, 232, 5000);
    HumaxDisk *disk = testimg::open_volume(path);
    EXPECT_EQ(disk->partitions[0].cluster_count, 127u);
    disk_close(disk);
}

TEST_F(Fat, ChainLengthOfALoopingChainIsBounded)
{
    DiskImage image = make(16);
    image.add_file_at(0, "loop.av", testimg::pattern_bytes(3 * 4096), {3, 4, 5});
    image.set_fat_entry(0, 5, 3); // 5 leads back to 3
    HumaxDisk *disk = testimg::open_volume(path);
    EXPECT_EQ(fat_chain_sectors_from(&disk->partitions[0], image.find(0, "loop.av")->first_sector), 3u * 8);
    // The chain rule: the next cluster, never past a loop's own entry or the partition.
    uint32_t next = 0;
    EXPECT_TRUE(fat_next(&disk->partitions[0], 5, &next));
    EXPECT_EQ(next, 3u);
    image.set_fat_entry(0, 5, 5);
    image.set_fat_entry(0, 4, 16);
    disk_close(disk);
    DiskOpenOptions unjudged;
    unjudged.validation = Validation::None;
    Error error;
    ASSERT_TRUE(disk_open_volume({path}, unjudged, &disk, &error));
    EXPECT_FALSE(fat_next(&disk->partitions[0], 4, &next));
    EXPECT_FALSE(fat_next(&disk->partitions[0], 5, &next));
    EXPECT_EQ(fat_cluster_position(&disk->partitions[0], 5),
              (uint64_t{image.data_sector(0)} + 5 * 8) * 512);
    disk_close(disk);
}

} // namespace

namespace {

TEST_F(Fat, ClustersFreedSinceTheLastCommitAreNotReused)
{
    DiskImage image = make(16);
    image.add_file_at(0, "old.av", testimg::pattern_bytes(2 * 4096), {0, 1});
    HumaxDisk *disk = testimg::open_volume(path, true);
    PartitionInfo *p = &disk->partitions[0];
    dfile_delete(disk, 0, "old.av");
    ClusterChain chain;
    Error error;
    ASSERT_TRUE(fat_allocate(p, 2 * 4096, &chain, &error));
    EXPECT_EQ(chain.first, 2u);
    EXPECT_EQ(chain.last, 3u);
    EXPECT_TRUE(disk_write_tables(disk, 0, &error));
    // Once committed they are free for the next allocation.
    ASSERT_TRUE(fat_allocate(p, 4096, &chain, &error));
    EXPECT_EQ(chain.first, 0u);
    disk_close(disk);
}

TEST_F(Fat, FirstHalfOfACommitWritesAllocationsOnly)
{
    DiskImage image = make(16);
    image.add_file_at(0, "old.av", testimg::pattern_bytes(4096), {0});
    HumaxDisk *disk = testimg::open_volume(path, true);
    PartitionInfo *p = &disk->partitions[0];
    dfile_delete(disk, 0, "old.av");
    Error error;
    DiskFile *file = dfile_create(disk, 0, "new.av", 2 * 4096, 0x1002, Swap::Yes, &error);
    dfile_close(file);
    bool wrote = false;
    EXPECT_TRUE(fat_write_allocations(disk, p, &wrote, &error));
    EXPECT_TRUE(wrote);
    {
        DiskImage now(path);
        EXPECT_EQ(now.fat_entry(0, 0), FAT_END);  // freed, but its directory entry is still there
        EXPECT_EQ(now.fat_entry(0, 1), 2u);       // the new chain is claimed
        EXPECT_EQ(now.fat_entry(0, 2), FAT_END);
        EXPECT_EQ(now.fat_word0(0), 16u - 1 - 2);
    }
    EXPECT_TRUE(fat_write_allocations(disk, p, &wrote, &error));
    EXPECT_FALSE(wrote); // nothing more to claim
    EXPECT_TRUE(disk_write_tables(disk, 0, &error));
    disk_close(disk);
    DiskImage after(path);
    EXPECT_EQ(after.fat_entry(0, 0), FAT_FREE);
    EXPECT_EQ(after.fat_word0(0), 16u - 2);
    EXPECT_TRUE(testimg::check_image(path).empty());
}

// A commit writes the allocations (write 1), the directory (2), then frees (3): the first
// write that fails is returned with its own message, and nothing after it is written.
TEST_F(Fat, ACommitStopsAtItsFirstFailedWriteAndReturnsIt)
{
    for (unsigned long failing : {1ul, 2ul}) {
        DiskImage image = make(16);
        image.add_file_at(0, "old.av", testimg::pattern_bytes(4096), {0});
        testimg::Bytes directory = image.read_sectors(image.dir_sector(0), 256);
        DiskOpenOptions options = testimg::program_options(true);
        options.wrap_stream = [failing](DiskStream *stream) {
            FaultPlan plan;
            plan.kind = FaultKind::Write;
            plan.action = FaultAction::Fail;
            plan.at = failing;
            disk_stream_fault(stream, plan);
        };
        HumaxDisk *disk = nullptr;
        Error error;
        ASSERT_TRUE(disk_open_volume({path}, options, &disk, &error)) << error.text;
        dfile_delete(disk, 0, "old.av");
        dfile_close(dfile_create(disk, 0, "new.av", 4096, 0x1002, Swap::Yes, &error));
        EXPECT_FALSE(disk_write_tables(disk, 0, &error));
        EXPECT_EQ(error.kind, ErrorKind::Write);
        EXPECT_EQ(error.text, failing == 1 ? "FAT: Input/output error\n" : "Directory: Input/output error\n");
        disk_close(disk);
        DiskImage after(path);
        EXPECT_EQ(after.read_sectors(after.dir_sector(0), 256), directory) << failing;
        EXPECT_EQ(after.fat_entry(0, 0), FAT_END) << failing; // old.av keeps its cluster
        EXPECT_EQ(after.fat_entry(0, 1), failing == 1 ? FAT_FREE : FAT_END) << failing;
    }
}

} // namespace
