#include "carve/carve_scan.h"

#include <algorithm>
#include <cerrno>

#include "common/aligned_buffer.h"

namespace {

constexpr size_t BUFFER_ALIGNMENT = 4096; // direct I/O reads straight into it

uint64_t cluster_position(const CarvePartition &part, uint32_t cluster)
{
    return part.data_position + uint64_t{cluster} * part.cluster_length;
}

// Reads the run cluster by cluster after its transfer failed.
void read_one_by_one(DiskStream *stream, const CarvePartition &part, uint32_t first, uint32_t count,
                     uint8_t *buffer, const CarveClusterVisitor &visit, CarveReadStats *stats)
{
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t c = first + i;
        if (disk_read_at(stream, cluster_position(part, c), buffer, part.cluster_length)) {
            swap_words(buffer, part.cluster_length / 4);
            visit(c, buffer);
            continue;
        }
        if (stats->unreadable++ == 0)
            stats->first_error = errno;
        visit(c, nullptr);
    }
}

} // namespace

void carve_read_clusters(DiskStream *stream, const CarvePartition &part, const CarveBits &wanted,
                         const CarveClusterVisitor &visit, const CarveProgress &progress,
                         CarveReadStats *stats)
{
    uint32_t length = part.cluster_length;
    uint64_t per_transfer = std::max<uint64_t>(CARVE_TRANSFER / length, 1);
    AlignedBuffer buffer;
    aligned_buffer_make(&buffer, static_cast<size_t>(per_transfer * length), BUFFER_ALIGNMENT);
    uint32_t limit = std::min(part.cluster_count, wanted.size);
    uint64_t done = 0;
    // The run of wanted clusters from `from` on, at most one transfer long.
    auto next_run = [&](uint32_t from, uint32_t *run) {
        uint32_t c = carve_bits_next(wanted, from);
        *run = 0;
        while (c + *run < limit && *run < per_transfer && carve_bit(wanted, c + *run))
            ++*run;
        return c;
    };
    uint32_t run = 0;
    for (uint32_t c = next_run(0, &run); c < limit;) {
        size_t bytes = size_t{run} * length;
        uint32_t following_run = 0;
        uint32_t following = run < limit - c ? next_run(c + run, &following_run) : limit;
        if (disk_read_at(stream, cluster_position(part, c), buffer.data, bytes)) {
            swap_words(buffer.data, bytes / 4);
            for (uint32_t i = 0; i < run; ++i)
                visit(c + i, buffer.data + size_t{i} * length);
        } else {
            read_one_by_one(stream, part, c, run, buffer.data, visit, stats);
        }
        stats->clusters += run;
        done += bytes;
        if (progress)
            progress(done);
        c = following;
        run = following_run;
    }
    aligned_buffer_free(&buffer);
}
