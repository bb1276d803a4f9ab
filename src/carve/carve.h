#pragma once
// The carver: finds the transport streams that lie in clusters of a recorder disk that no
// file holds (what deleting a recording leaves behind), or in every cluster (a disk whose
// tables are gone), joins their fragments, names them, and copies them to the host. It
// only ever reads the disk.
//
// Memory: one bit per cluster for what to scan, and one small record per fragment (a run
// of clusters that continue each other: one per recording on a tidy disk, at most one per
// cluster on a disk that interleaved everything), besides one transfer buffer.
#include <cstdint>
#include <string>
#include <vector>

#include "carve/carve_epg.h"
#include "carve/carve_fragment.h"
#include "carve/carve_scan.h"
#include "carve/carve_volume.h"

// How a found stream stands to the recordings the disk still lists.
enum class CarveRelation {
    None,
    Copy,      // the same recording as a live file (a deleted duplicate): not listed
    Continues, // it goes on where a live file's chain stops: the lost rest of that file
    Inside,    // it lies in a live file's clusters (scanning every cluster finds those too)
};

struct CarveStream {
    std::vector<uint32_t> fragments; // into CarveResult::fragments, in stream order
    uint32_t first_cluster = 0;
    uint64_t size = 0;    // bytes: whole packets from the first to the last
    uint32_t packets = 0; // whole packets, null packets aside
    bool has_duration = false;
    uint64_t seconds = 0; // from the first to the last clock reference, rounded down
    // What its tables say.
    bool has_programme = false;
    uint16_t programme = 0;
    uint16_t pmt_pid = TS_NO_PID;
    uint16_t pcr_pid = TS_NO_PID;
    std::vector<CarveElementary> elementary;
    std::string service; // SDT
    std::string event;   // EIT present event
    uint32_t recorded = 0; // UTC at its start, from TDT/TOT; 0: unknown
    std::string guide;     // the title of a deleted programme-information event that fits it
    CarveRelation relation = CarveRelation::None;
    std::string related; // the live file's name
};

struct CarveResult {
    uint32_t cluster_length = 0;
    std::vector<CarveFragment> fragments;
    CarveFactsTable facts;
    std::vector<CarveStream> streams; // listed, numbered from 1, in disk order
    std::vector<CarveStream> copies;  // copies of live files: not listed
    std::vector<CarveEvent> guide;    // events of deleted programme information
    CarveReadStats av_reads;
    CarveReadStats epg_reads;
};

// A stream needs this many packets (about 1.5 kB) to be listed: fewer are what random
// bytes can look like, or the scraps a stream leaves in a cluster.
constexpr uint32_t CARVE_MIN_PACKETS = 8;

// Bytes the scan of `volume` reads (for a progress display).
uint64_t carve_scan_bytes(const CarveVolume &volume);

// Scans the disk as `volume` says and fills `result`. Read errors do not stop it: they are
// counted in the result's read statistics (a stream ends at an unreadable cluster).
void carve_find(HumaxDisk *disk, const CarveVolume &volume, CarveResult *result,
                const CarveProgress &progress);

// The bytes of a stream's clusters, as copying reads them: for each fragment its first
// cluster, cluster count, and the part of the first and last cluster that belongs.
uint64_t carve_fragment_bytes(const CarveFragment &f, uint32_t cluster_length, bool first, bool last);

// One listing line (without newline): number, size, duration and what is known of it, the
// disk's texts as text_shown shows them.
std::string carve_stream_line(const CarveStream &stream, unsigned number);
