#pragma once
// Fragments: runs of contiguous clusters whose packets continue each other, found in one
// pass over the clusters in disk order. Each is kept as a small record of how it begins
// and ends (the packet phase, the counters of its busiest PIDs, its first and last clock
// reference), which is all that joining fragments into streams needs; the clusters
// themselves are read again only to copy a stream.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "carve/carve_packet.h"
#include "carve/carve_psi.h"

constexpr int CARVE_SLOTS = 4;

// The counters of one PID at both ends of a fragment.
struct CarveSlot {
    uint16_t pid = TS_NO_PID; // TS_NO_PID: slot unused
    uint8_t entry = 0;        // counter of its first packet with payload
    uint8_t exit = 0;         // ... and of its last
};

struct CarveFragment {
    uint32_t first_cluster = 0;
    uint32_t clusters = 0;
    uint32_t end = 0;   // bytes of the last cluster that belong to it, a partial packet included
    // Bytes of the first cluster before its first whole packet: below 188 for a fragment
    // that begins with its cluster (the rest of a packet begun elsewhere comes first); more
    // for one that begins where another stream ended inside the cluster.
    uint32_t head = 0;
    uint16_t carry = 0; // bytes of the partial packet at its end (0: ends on a packet boundary)
    uint8_t lead[4] = {};    // the first bytes of the first cluster
    uint8_t partial[4] = {}; // the first bytes of the partial packet at the end
    uint16_t pcr_pid = TS_NO_PID;
    bool has_pcr = false;
    uint64_t first_pcr = 0;
    uint64_t last_pcr = 0;
    CarveSlot slots[CARVE_SLOTS];
    uint32_t facts = 0;   // 1 + index into the facts table; 0: no tables
    uint32_t time = 0;    // UTC at its first clock reference (from a TDT/TOT); 0: unknown
    uint32_t packets = 0; // whole packets, null packets aside
};

// True when the fragment runs to the end of its last cluster (it may go on elsewhere).
inline bool carve_open_end(const CarveFragment &f, uint32_t cluster_length)
{
    return f.end == cluster_length;
}

// Facts of fragments, each distinct set kept once (a recording repeats its tables).
struct CarveFactsTable {
    std::vector<CarveFacts> facts;
    std::unordered_map<std::string, uint32_t> index;
};

// 1 + the index of `facts` in the table (added when new); 0 for empty facts.
uint32_t carve_facts_intern(CarveFactsTable *table, const CarveFacts &facts);

// The facts of a fragment, or null.
const CarveFacts *carve_fragment_facts(const CarveFactsTable &table, const CarveFragment &f);

// The clusters of a pass are fed in ascending order; a cluster that is the next one
// after the open fragment's last, and continues its packets, extends it.
struct CarveBuilder {
    uint32_t cluster_length = 0;
    std::vector<CarveFragment> *out = nullptr;
    CarveFactsTable *facts = nullptr;
    CarveTrack track; // the open fragment's
    CarveTrack probe; // scratch, for finding where packets begin
    CarvePsi psi;
    bool open = false;
    CarveFragment current;
    uint8_t partial[TS_PACKET_SIZE] = {};
};

void carve_builder_start(CarveBuilder *builder, uint32_t cluster_length,
                         std::vector<CarveFragment> *out, CarveFactsTable *facts);

// Feeds one cluster (its bytes in natural order, cluster_length of them).
void carve_builder_feed(CarveBuilder *builder, uint32_t cluster, const uint8_t *data);

// Ends the open fragment: the next cluster fed does not continue it (a cluster that is
// not read, or the end of the pass).
void carve_builder_break(CarveBuilder *builder);

// Where the packets of a cluster begin when nothing before it is known: the phase at which
// the longest run of packets continuing each other starts (the earliest of equals).
// Returns false when no run is long enough to count as a stream (two packets, or one when
// no more fit). For tests and the builder.
bool carve_find_phase(CarveTrack *scratch, const uint8_t *data, uint32_t length, uint32_t *phase);
