// The index of cluster runs behind the mount's reads: runs as the chain lays them out,
// and the size that reading by name gives. (A failing read: tests/wardenfs.)
#include <gtest/gtest.h>

#include "disk/disk_file.h"
#include "disk/file_map.h"
#include "common/error.h"
#include "disk_image.h"
#include "disk_opening.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;
using testimg::Placement;

class FileMaps : public ::testing::Test {
  protected:
    testimg::TempDir dir;
    std::string path = dir.file("disk.img");
    HumaxDisk *disk = nullptr;

    void TearDown() override { disk_close(disk); }

    FileMap map_of(int part, const char *name)
    {
        FileMap map;
        dfile_map(disk, part, dir_find(&disk->partitions[part], name), FileMapOptions{}, &map);
        return map;
    }

    static Bytes read_all(FileMap &map, size_t piece)
    {
        Bytes out(map.size + piece);
        size_t done = 0;
        Error error;
        for (size_t n; dfile_map_read(&map, done, out.data() + done, piece, &n, &error) && n > 0;)
            done += n;
        out.resize(done);
        return out;
    }
};

TEST_F(FileMaps, RunsFollowTheChainAndReadsGiveTheContents)
{
    DiskImage image(path, testimg::default_spec()); // 4 KiB clusters
    Bytes a = testimg::pattern_bytes(5 * 4096 + 3, 1), b = testimg::pattern_bytes(4 * 4096, 2),
          c = testimg::pattern_bytes(3 * 4096 + 2, 3);
    image.add_file(0, "2.av", a, 0x1002, Placement::Contiguous);
    image.add_file(0, "3.av", b, 0x1002, Placement::Fragmented);
    image.add_file(0, "4.av", c, 0x1002, Placement::Reversed);
    image.add_file_at(0, "5.av", c, {100, 101, 50, 51}); // two runs of two
    disk = testimg::open_volume(path);

    FileMap map = map_of(0, "2.av");
    ASSERT_EQ(map.runs.size(), 1u);
    EXPECT_EQ(map.runs[0].count, 6u);
    EXPECT_EQ(map.size, a.size());
    map = map_of(0, "3.av");
    EXPECT_EQ(map.runs.size(), 4u);
    map = map_of(0, "5.av");
    ASSERT_EQ(map.runs.size(), 2u);
    EXPECT_EQ(map.runs[0].first, 100u);
    EXPECT_EQ(map.runs[0].count, 2u);
    EXPECT_EQ(map.runs[1].offset, 2u * 4096);
    EXPECT_EQ(map.runs[1].first, 50u);
    for (const char *name : {"2.av", "3.av", "4.av", "5.av"}) {
        FileMap m = map_of(0, name);
        Bytes want = image.read_file(0, name);
        for (size_t piece : {1, 3, 4, 4093, 4096, 10000, 1 << 20})
            EXPECT_EQ(read_all(m, piece), want) << name << " in pieces of " << piece;
    }
}

// The readable size is bounded by the allocated sectors and by a chain that loops or ends
// early; a first sector outside the data area reads as empty.
TEST_F(FileMaps, SizeIsWhatReadingByNameGives)
{
    testimg::ImageSpec spec = testimg::default_spec();
    spec.partitions[0].cluster_sectors = 1;
    spec.partitions[0].cluster_count = 2000;
    DiskImage image(path, spec);
    Bytes stream = testimg::pattern_bytes(3 * 512, 5);
    image.add_file_at(0, "2.av", stream, {30, 31, 7});
    image.set_fat_entry(0, 7, 31); // loops back into the chain
    Bytes slot = image.dir_slot(0, 0);
    testimg::put_le32(slot, 28, 0xFFFFFFF0);
    testimg::put_le32(slot, 32, 1); // and claims more than 4 GiB
    image.set_dir_slot(0, 0, slot);
    image.add_file(0, "3.av", testimg::pattern_bytes(2000, 6));
    Bytes outside = image.dir_slot(0, 1);
    testimg::put_le32(outside, 12, 3); // before the data area
    image.set_dir_slot(0, 1, outside);
    disk = testimg::open_volume(path);

    FileMap map = map_of(0, "2.av");
    EXPECT_EQ(map.size, 3u * 512);
    EXPECT_EQ(read_all(map, 700), stream);
    EXPECT_EQ(dfile_readable_size(&disk->partitions[0], disk->partitions[0].dir_head), map.size);
    map = map_of(0, "3.av");
    EXPECT_EQ(map.size, 0u);
    EXPECT_TRUE(map.runs.empty());
    char byte;
    size_t n = 1;
    Error error;
    EXPECT_TRUE(dfile_map_read(&map, 0, &byte, 1, &n, &error));
    EXPECT_EQ(n, 0u);
}

// A read the disk refuses is returned, with what the read had stored before it, so that
// the caller can give up, go on past it or fill the gap.
TEST_F(FileMaps, AFailedReadReturnsItsErrorAndHowFarItGot)
{
    DiskImage image(path, testimg::default_spec());
    Bytes c = testimg::pattern_bytes(3 * 4096 + 2, 3);
    image.add_file_at(0, "5.av", c, {100, 101, 50, 51}); // two runs of two clusters
    DiskOpenOptions options;
    // The reads of opening: sector 0, then per partition its descriptor, table and
    // directory; then the file's first run, and its second.
    options.wrap_stream = [](DiskStream *stream) {
        FaultPlan plan;
        plan.kind = FaultKind::Read;
        plan.action = FaultAction::Fail;
        plan.at = 1 + 3 * 3 + 2;
        disk_stream_fault(stream, plan);
    };
    Error error;
    ASSERT_TRUE(disk_open_volume({path}, options, &disk, &error)) << error.text;
    FileMap map = map_of(0, "5.av");
    Bytes out(c.size());
    size_t done = 0;
    EXPECT_FALSE(dfile_map_read(&map, 0, out.data(), out.size(), &done, &error));
    EXPECT_EQ(done, 2u * 4096);
    EXPECT_TRUE(std::equal(c.begin(), c.begin() + 2 * 4096, out.begin()));
    EXPECT_EQ(error.kind, ErrorKind::Read);
    EXPECT_EQ(error.code, EIO);
    // Then where the failed read lay: the 4098 bytes of the second run, from cluster 50.
    const uint64_t first = image.data_sector(0) + 50 * 8;
    EXPECT_EQ(error.text, "5.av: Input/output error\n5.av: reading sectors " + std::to_string(first) + "-" +
                              std::to_string(first + 8) + " of the disk (bytes " + std::to_string(first * 512) +
                              " to " + std::to_string((first + 9) * 512 - 1) + ") failed\n");
    // The next read of the same bytes goes through.
    EXPECT_TRUE(dfile_map_read(&map, 2 * 4096, out.data(), out.size(), &done, &error));
    EXPECT_EQ(done, 4098u);
    EXPECT_TRUE(std::equal(c.begin() + 2 * 4096, c.end(), out.begin()));
}

} // namespace
