#pragma once
// The one sequential pass over a partition: the chosen clusters read in ascending order,
// runs of contiguous ones in large transfers through one fixed buffer, each word reversed
// back in place, and handed to a visitor cluster by cluster. A transfer that fails is
// tried again cluster by cluster, so that one unreadable sector costs one cluster.
#include <cstdint>
#include <functional>

#include "carve/carve_volume.h"
#include "disk/disk_io.h"

// Called for each cluster read, in ascending order: its bytes in natural order (valid
// until the next call), or null when it could not be read.
using CarveClusterVisitor = std::function<void(uint32_t cluster, const uint8_t *data)>;

// Called after each transfer with the bytes passed so far.
using CarveProgress = std::function<void(uint64_t done)>;

struct CarveReadStats {
    uint64_t clusters = 0;   // clusters handed out, read or not
    uint64_t unreadable = 0; // ... of them that could not be read
    int first_error = 0;     // errno of the first failed read
};

// Bytes a transfer moves at most (whole clusters, at least one): large enough that a
// drive streams, small enough to stay near the processor's cache while it is scanned.
constexpr uint64_t CARVE_TRANSFER = uint64_t{2} << 20;

void carve_read_clusters(DiskStream *stream, const CarvePartition &part, const CarveBits &wanted,
                         const CarveClusterVisitor &visit, const CarveProgress &progress,
                         CarveReadStats *stats);
