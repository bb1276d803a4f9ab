// The carver over a disk of arbitrary clusters: the volume worked out from whatever the
// partition table and descriptors say, the pass over the AV and EPG partitions, fragments
// joined into streams, every stream named and listed, and the small ones copied to the
// host. None of it may crash, hang, or read beyond the disk.
//
// Input: one options byte (bit 0: every cluster, else the free ones), then chunks of the
// disk as the disk-image target takes them (sector u32, byte count u16, the bytes; all
// little-endian), placed in a disk held in memory; only the low 14 bits of a sector
// count, so that the disk stays below 8 MiB and each input is quick.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "carve/carve.h"
#include "carve/carve_copy.h"
#include "common/error.h"
#include "fuzz_support.h"
#include "records/disk_open.h"

namespace {

constexpr uint32_t SECTOR_MASK = (1u << 14) - 1;
// Each copy is flushed to storage: one small one per input.
constexpr uint64_t COPY_BUDGET = 256u << 10;
constexpr size_t MOST_COPIES = 1;

MemoryImage memory_image(const uint8_t *data, size_t size)
{
    MemoryImage disk;
    for (size_t at = 0; at + 6 <= size;) {
        uint32_t sector = (data[at] | uint32_t{data[at + 1]} << 8) & SECTOR_MASK;
        size_t length = data[at + 4] | size_t{data[at + 5]} << 8;
        at += 6;
        length = std::min(length, size - at);
        memory_image_write(&disk, uint64_t{sector} * SECTOR_SIZE, data + at, length);
        at += length;
    }
    return disk;
}

void carve(HumaxDisk *disk, CarveScope scope)
{
    CarveVolume volume;
    if (carve_volume_make(disk, scope, &volume) != CarveVolumeProblem::None)
        return;
    CarveResult result;
    carve_find(disk, volume, &result, nullptr);
    size_t copies = 0;
    for (size_t i = 0; i < result.streams.size(); ++i) {
        const CarveStream &s = result.streams[i];
        if (carve_stream_line(s, static_cast<unsigned>(i + 1)).empty())
            abort();
        if (s.size <= COPY_BUDGET && copies++ < MOST_COPIES)
            carve_copy_stream(&disk->stream, volume.av, result, s, "found.ts", nullptr);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    fuzz::begin_input();
    fuzz::enter_host_dir();
    MemoryImage image = memory_image(data + 1, size - 1);
    // As the carver opens a disk: read only, the volume read without judging it.
    DiskOpenOptions options;
    options.validation = Validation::None;
    HumaxDisk *opened = nullptr;
    Error error;
    if (!disk_open({"memory", &image}, options, &opened, &error))
        abort(); // a disk in memory always opens
    fuzz::DiskHandle disk(opened);
    try {
        carve(disk.get(), data[0] & 1 ? CarveScope::All : CarveScope::Free);
    } catch (const fuzz::ProgramExit &) {
    }
    return 0;
}
