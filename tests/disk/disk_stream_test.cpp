// The disk stream's wrappers: the aligned wrapper lets no unaligned transfer reach a
// backend that demands alignment, whatever the callers ask; the fault injector fails the
// chosen transfer and only that one.
#include <gtest/gtest.h>

#include <cerrno>
#include <random>

#include "disk/disk_io.h"
#include "disk_image.h"

namespace {

using testimg::Bytes;

constexpr uint32_t UNIT = 512;

// A memory disk that refuses unaligned transfers, as a raw drive does, behind the wrapper.
void open_strict(DiskStream *stream, MemoryImage *image, uint32_t unit)
{
    disk_stream_open_memory(stream, image, true);
    stream->alignment = unit;
    disk_stream_align(stream);
}

// Drives of 512-byte sectors and of 4 KiB sectors (what Windows reports for the drive
// becomes the unit).
class AlignedStream : public ::testing::TestWithParam<uint32_t> {};

TEST_P(AlignedStream, AnyTransferArrivesWhole)
{
    const uint32_t unit = GetParam();
    Bytes model = testimg::pattern_bytes(64 * unit + 100, 3);
    MemoryImage image = memory_image_of(model.data(), model.size());
    DiskStream raw;
    disk_stream_open_memory(&raw, &image, true);
    raw.alignment = unit;
    Bytes probe(unit + 1);
    errno = 0;
    EXPECT_FALSE(disk_read_at(&raw, 1, probe.data(), unit)) << "the strict backend must refuse";
    EXPECT_EQ(errno, EINVAL);
    disk_stream_close(&raw);

    DiskStream stream;
    open_strict(&stream, &image, unit);
    std::mt19937 random(7);
    for (int i = 0; i < 400; ++i) {
        uint64_t position = random() % (70 * unit);
        size_t length = random() % (5 * unit) + 1;
        size_t offset = random() % 8; // buffers at any address
        Bytes buffer(length + offset);
        if (i % 2 == 0) {
            ASSERT_TRUE(disk_read_at(&stream, position, buffer.data() + offset, length)) << i;
            for (size_t k = 0; k < length; ++k) {
                uint8_t want = position + k < model.size() ? model[position + k] : 0;
                ASSERT_EQ(buffer[offset + k], want) << i << " at " << position + k;
            }
        } else {
            Bytes data = testimg::pattern_bytes(length, i);
            std::copy(data.begin(), data.end(), buffer.begin() + static_cast<long>(offset));
            ASSERT_TRUE(disk_write_at(&stream, position, buffer.data() + offset, length)) << i;
            if (position + length > model.size())
                model.resize(position + length);
            std::copy(data.begin(), data.end(), model.begin() + static_cast<long>(position));
        }
    }
    disk_stream_close(&stream);
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, AlignedStream, ::testing::Values(512u, 4096u));

TEST(FaultStream, FailsTheChosenTransferOnly)
{
    Bytes contents = testimg::pattern_bytes(8 * UNIT, 1);
    for (FaultKind kind : {FaultKind::Read, FaultKind::Write}) {
        MemoryImage image = memory_image_of(contents.data(), contents.size());
        DiskStream stream;
        disk_stream_open_memory(&stream, &image, true);
        FaultPlan plan;
        plan.kind = kind;
        plan.action = FaultAction::Fail;
        plan.at = 3;
        disk_stream_fault(&stream, plan);
        Bytes buffer(UNIT);
        std::vector<bool> results;
        for (int i = 0; i < 5; ++i) {
            results.push_back(disk_read_at(&stream, 0, buffer.data(), UNIT));
            results.push_back(disk_write_at(&stream, UNIT, buffer.data(), UNIT));
        }
        // The third transfer of the kind, and nothing else.
        for (size_t i = 0; i < results.size(); ++i) {
            bool is_kind = (i % 2 == 0) == (kind == FaultKind::Read);
            EXPECT_EQ(results[i], !(is_kind && i / 2 == 2)) << i;
        }
        disk_stream_close(&stream);
    }
}

} // namespace
