#include "carve/carve_copy.h"

#include <algorithm>
#include <cerrno>

#include "common/aligned_buffer.h"
#include "platform/host_file.h"

namespace {

constexpr size_t BUFFER_ALIGNMENT = 4096;

struct CopyState {
    DiskStream *stream;
    const CarvePartition *part;
    HostOutput out;
    AlignedBuffer buffer;
    uint64_t done = 0;
};

// Copies the clusters [first, first + count) of one fragment; `skip` bytes at the start
// of the first and the bytes past `end` in the last cluster are left out.
CarveCopyFailure copy_run(CopyState *state, uint32_t first, uint32_t count, uint32_t skip,
                          uint32_t end, const CarveProgress &progress)
{
    uint32_t length = state->part->cluster_length;
    uint32_t per_transfer = static_cast<uint32_t>(state->buffer.size / length);
    for (uint32_t at = 0; at < count;) {
        uint32_t run = std::min(per_transfer, count - at);
        uint64_t position = state->part->data_position + uint64_t{first + at} * length;
        size_t bytes = size_t{run} * length;
        if (!disk_read_at(state->stream, position, state->buffer.data, bytes))
            return CarveCopyFailure::DiskRead;
        swap_words(state->buffer.data, bytes / 4);
        size_t from = at == 0 ? skip : 0;
        size_t to = at + run == count ? bytes - length + end : bytes;
        if (to > from && !host_output_write(&state->out, state->buffer.data + from, to - from))
            return CarveCopyFailure::HostWrite;
        state->done += to > from ? to - from : 0;
        if (progress)
            progress(state->done);
        at += run;
    }
    return CarveCopyFailure::None;
}

} // namespace

CarveCopyFailure carve_copy_stream(DiskStream *stream, const CarvePartition &part,
                                   const CarveResult &result, const CarveStream &found,
                                   const char *host_path, const CarveProgress &progress)
{
    CopyState state{stream, &part, {}, {}};
    if (!host_output_begin(&state.out, host_path))
        return CarveCopyFailure::HostWrite;
    uint64_t clusters = std::max<uint64_t>(CARVE_TRANSFER / part.cluster_length, 1);
    aligned_buffer_make(&state.buffer, static_cast<size_t>(clusters * part.cluster_length), BUFFER_ALIGNMENT);
    CarveCopyFailure failure = CarveCopyFailure::None;
    size_t count = found.fragments.size();
    for (size_t i = 0; i < count && failure == CarveCopyFailure::None; ++i) {
        const CarveFragment &f = result.fragments[found.fragments[i]];
        uint32_t skip = i == 0 ? f.head : 0;
        uint32_t end = i + 1 == count ? f.end - f.carry : f.end;
        failure = copy_run(&state, f.first_cluster, f.clusters, skip, end, progress);
    }
    aligned_buffer_free(&state.buffer);
    int error = errno;
    if (failure == CarveCopyFailure::None && !host_output_commit(&state.out))
        return CarveCopyFailure::HostWrite;
    if (failure != CarveCopyFailure::None) {
        host_output_abandon(&state.out);
        errno = error;
    }
    return failure;
}
