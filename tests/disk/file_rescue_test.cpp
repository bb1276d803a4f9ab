// Copying a file of a failing drive (the fault stream plays one): only the unreadable
// sectors are lost, the readable rest comes first, and no sector is read more often than
// the retries allow.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/error.h"
#include "disk/file_rescue.h"
#include "disk_image.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;
using testimg::Placement;

constexpr uint32_t CLUSTER = 4096;   // default_spec()
constexpr size_t BUFFER = 8 * CLUSTER;

struct Copy {
    Bytes bytes;
    std::vector<std::pair<uint64_t, size_t>> writes; // in the order they came
};

bool keep(void *context, uint64_t offset, const void *data, size_t length)
{
    auto *copy = static_cast<Copy *>(context);
    const auto *in = static_cast<const uint8_t *>(data);
    std::copy(in, in + std::min<uint64_t>(length, copy->bytes.size() - offset), copy->bytes.begin() + offset);
    copy->writes.emplace_back(offset, length);
    return true;
}

class Rescue : public ::testing::Test {
  protected:
    testimg::TempDir dir;
    std::string path = dir.file("disk.img");
    HumaxDisk *disk = nullptr;
    Bytes contents = testimg::pattern_bytes(40 * CLUSTER + 1001, 7);
    testimg::FileInfo file;
    uint64_t data_sector = 0;

    void SetUp() override
    {
        DiskImage image(path, testimg::default_spec());
        image.add_file(0, "2.av", contents, 0x1002, Placement::Fragmented);
        file = *image.find(0, "2.av");
        data_sector = image.geometry(0).data_sector;
    }
    void TearDown() override { disk_close(disk); }

    // The device sector (of `unit` bytes) that holds byte `offset` of the file.
    uint64_t sector_of(uint64_t offset, uint32_t unit = 512) const
    {
        uint64_t position = data_sector * 512 + uint64_t{file.clusters[offset / CLUSTER]} * CLUSTER +
                            offset % CLUSTER;
        return position / unit;
    }

    std::vector<ByteArea> copy(const std::vector<FaultSector> &bad, unsigned retries, Copy *out,
                               uint32_t unit = 512)
    {
        DiskOpenOptions options;
        options.wrap_stream = [bad, unit](DiskStream *stream) {
            FaultPlan plan;
            plan.unreadable = bad;
            std::sort(plan.unreadable.begin(), plan.unreadable.end(),
                      [](const FaultSector &a, const FaultSector &b) { return a.sector < b.sector; });
            plan.sector_size = unit;
            disk_stream_fault(stream, plan);
        };
        Error error;
        EXPECT_TRUE(disk_open_volume({path}, options, &disk, &error)) << error.text;
        FileMap map;
        dfile_map(disk, 0, dir_find(&disk->partitions[0], "2.av"), FileMapOptions{}, &map);
        out->bytes.assign(map.size, 0xEE);
        std::vector<uint8_t> buffer(BUFFER);
        std::vector<ByteArea> holes;
        RescueOptions rescue;
        rescue.retries = retries;
        EXPECT_TRUE(dfile_rescue(&map, {{0, map.size}}, buffer.data(), buffer.size(), {out, keep},
                                 rescue, &holes));
        return holes;
    }

    // The contents with zeros in the holes.
    Bytes expected(const std::vector<ByteArea> &holes) const
    {
        Bytes bytes = contents;
        for (const ByteArea &hole : holes)
            std::fill(bytes.begin() + hole.begin, bytes.begin() + hole.end, 0);
        return bytes;
    }
};

TEST_F(Rescue, OnlyTheUnreadableSectorsAreLostAndTheReadableRestComesFirst)
{
    const uint64_t middle = 13 * CLUSTER + 1536, last = 40 * CLUSTER + 512; // the last sector: 489 bytes
    Copy out;
    std::vector<ByteArea> holes = copy({{sector_of(middle)}, {sector_of(last)}}, 0, &out);
    ASSERT_EQ(holes.size(), 2u);
    EXPECT_EQ(holes[0].begin, middle);
    EXPECT_EQ(holes[0].end, middle + 512);
    EXPECT_EQ(holes[1].begin, last);
    EXPECT_EQ(holes[1].end, contents.size());
    EXPECT_EQ(out.bytes, expected(holes));
    // The first pass reached the file's end before any failed area was read again.
    auto back = std::find_if(out.writes.begin() + 1, out.writes.end(),
                             [&](const auto &w) { return w.first < (&w - 1)->first; });
    ASSERT_NE(back, out.writes.end());
    EXPECT_EQ((back - 1)->first + (back - 1)->second, contents.size());
    // Each bad sector: the transfer that failed on it, and one read alone.
    FaultReads reads = disk_stream_fault_reads(&disk->stream);
    EXPECT_EQ(reads.most_of_one_sector, 2u);
}

TEST_F(Rescue, RetriesReadASectorAgainAndNoMore)
{
    const uint64_t at = 21 * CLUSTER + 3 * 512;
    const uint64_t sector = sector_of(at);
    Copy once, twice, never;
    // Failing its first two reads: lost without retries, read on the first retry.
    EXPECT_EQ(copy({{sector, 2}}, 0, &once).size(), 1u);
    EXPECT_EQ(disk_stream_fault_sector_reads(&disk->stream, sector), 2u);
    disk_close(disk);
    EXPECT_TRUE(copy({{sector, 2}}, 3, &twice).empty());
    EXPECT_EQ(twice.bytes, contents);
    EXPECT_EQ(disk_stream_fault_sector_reads(&disk->stream, sector), 3u);
    disk_close(disk);
    // Never readable: 1 + retries reads alone after the failed transfer.
    std::vector<ByteArea> holes = copy({{sector}}, 2, &never);
    ASSERT_EQ(holes.size(), 1u);
    EXPECT_EQ(holes[0].end - holes[0].begin, 512u);
    EXPECT_EQ(disk_stream_fault_sector_reads(&disk->stream, sector), 4u);
    EXPECT_EQ(never.bytes, expected(holes));
}

TEST_F(Rescue, DrivesWith4KiBSectorsLoseTheFilesBytesInThatSector)
{
    // The data area need not start on a 4 KiB boundary: the sector may hold the ends of
    // two clusters that lie apart in the file.
    const uint64_t bad = sector_of(30 * CLUSTER + 100, 4096);
    std::vector<ByteArea> lost;
    for (uint64_t at = 0; at < contents.size(); at += 512)
        if (sector_of(at, 4096) == bad)
            lost.push_back({at, std::min<uint64_t>(at + 512, contents.size())});
    Copy out;
    std::vector<ByteArea> holes = copy({{bad}}, 0, &out, 4096);
    EXPECT_EQ(rescue_bytes(holes), rescue_bytes(lost));
    EXPECT_EQ(out.bytes, expected(lost));
}

TEST_F(Rescue, AHealthyFileReadsAsAPlainCopyDoes)
{
    Copy out;
    EXPECT_TRUE(copy({}, 5, &out).empty());
    EXPECT_EQ(out.bytes, contents);
    for (size_t i = 1; i < out.writes.size(); ++i)
        EXPECT_EQ(out.writes[i].first, out.writes[i - 1].first + out.writes[i - 1].second);
}

} // namespace
