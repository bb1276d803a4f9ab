#include "carve/carve_fragment.h"

#include <algorithm>
#include <cstring>

namespace {

// A run this long at a steady stride is no accident of random bytes (one in 2^16 per
// phase for two sync bytes, and the headers must agree too); shorter runs count only
// where no more packets fit.
constexpr uint32_t MIN_START_PACKETS = 2;

// Packets from `at` on that continue the probe's stream, at most to the end of the data.
uint32_t run_length(CarveTrack *probe, const uint8_t *data, uint32_t length, uint32_t at)
{
    carve_track_reset(probe);
    uint32_t count = 0;
    TsPacket packet;
    for (; at + TS_PACKET_SIZE <= length; at += TS_PACKET_SIZE, ++count) {
        if (!carve_parse_packet(data + at, &packet) || !carve_track_accepts(probe, packet))
            break;
        carve_track_add(probe, packet);
    }
    return count;
}

// Takes the whole packets from `at` on that continue the open fragment; returns where the
// first one that does not (or the end of the cluster's whole packets) lies.
uint32_t take_packets(CarveBuilder *b, const uint8_t *data, uint32_t at)
{
    TsPacket packet;
    for (; at + TS_PACKET_SIZE <= b->cluster_length; at += TS_PACKET_SIZE) {
        if (!carve_parse_packet(data + at, &packet) || !carve_track_accepts(&b->track, packet))
            return at;
        carve_track_add(&b->track, packet);
        carve_psi_packet(&b->psi, data + at, packet, b->track);
    }
    return at;
}

// The PIDs with the most packets, so that the counters kept are those of streams present
// at both ends of the fragment.
void choose_slots(const CarveTrack &track, CarveSlot *slots)
{
    std::vector<uint16_t> pids(track.used);
    size_t kept = std::min<size_t>(pids.size(), CARVE_SLOTS);
    std::partial_sort(pids.begin(), pids.begin() + static_cast<long>(kept), pids.end(),
                      [&](uint16_t a, uint16_t b) {
                          return track.pids[a].payloads > track.pids[b].payloads ||
                                 (track.pids[a].payloads == track.pids[b].payloads && a < b);
                      });
    for (int i = 0; i < CARVE_SLOTS; ++i) {
        slots[i] = CarveSlot{};
        if (static_cast<size_t>(i) < kept) {
            const PidTrack &pid = track.pids[pids[i]];
            slots[i] = {pids[i], pid.first, pid.last};
        }
    }
}

// UTC at the fragment's first clock reference, from the first time table and the clock
// when it came.
uint32_t time_at_first_pcr(const CarvePsi &psi, const CarveTrack &track)
{
    if (!psi.has_time)
        return 0;
    if (!psi.time_has_pcr || !track.has_pcr)
        return psi.time;
    uint64_t elapsed = pcr_step(track.first_pcr, psi.time_pcr) / PCR_HZ;
    return elapsed < psi.time ? static_cast<uint32_t>(psi.time - elapsed) : psi.time;
}

// Records the open fragment. A partial packet at its end stays: the stream may go on in
// a cluster elsewhere; only a stream's last fragment loses it, when streams are made.
void close_fragment(CarveBuilder *b)
{
    CarveFragment &f = b->current;
    choose_slots(b->track, f.slots);
    f.pcr_pid = b->track.pcr_pid;
    f.has_pcr = b->track.has_pcr;
    f.first_pcr = b->track.first_pcr;
    f.last_pcr = b->track.last_pcr;
    f.packets = b->track.packets;
    f.facts = carve_facts_intern(b->facts, b->psi.facts);
    f.time = time_at_first_pcr(b->psi, b->track);
    b->out->push_back(f);
    b->open = false;
}

// After the whole packets up to `stop` were taken from the cluster: the fragment either
// runs on to the cluster's end (holding its partial last packet, when that still looks
// like the stream's next packet) or ends at `stop`.
void settle_cluster_end(CarveBuilder *b, const uint8_t *data, uint32_t stop)
{
    CarveFragment &f = b->current;
    uint32_t rest = b->cluster_length - stop;
    bool runs_on = rest < TS_PACKET_SIZE && (rest == 0 || data[stop] == TS_SYNC_BYTE);
    if (runs_on && rest >= 4) {
        TsPacket header;
        runs_on = carve_parse_packet(data + stop, &header, true) &&
                  (!header.has_payload || carve_track_accepts(&b->track, header));
    }
    if (!runs_on) {
        f.end = stop;
        f.carry = 0;
        close_fragment(b);
        return;
    }
    f.end = b->cluster_length;
    f.carry = static_cast<uint16_t>(rest);
    memcpy(b->partial, data + stop, rest);
    memset(f.partial, 0, sizeof f.partial);
    memcpy(f.partial, data + stop, std::min<uint32_t>(rest, 4));
}

// True when the cluster continues the open fragment: the packet begun at the end of the
// last cluster completes into one that continues the stream, and a sync byte follows it.
bool continues(CarveBuilder *b, const uint8_t *data, uint32_t *resume)
{
    uint32_t carry = b->current.carry;
    uint32_t need = carry > 0 ? TS_PACKET_SIZE - carry : 0;
    if (need + TS_PACKET_SIZE <= b->cluster_length && data[need] != TS_SYNC_BYTE)
        return false;
    if (carry > 0) {
        uint8_t whole[TS_PACKET_SIZE];
        memcpy(whole, b->partial, carry);
        memcpy(whole + carry, data, need);
        TsPacket packet;
        if (!carve_parse_packet(whole, &packet) || !carve_track_accepts(&b->track, packet))
            return false;
        carve_track_add(&b->track, packet);
        carve_psi_packet(&b->psi, whole, packet, b->track);
    }
    *resume = need;
    return true;
}

void start_fragment(CarveBuilder *b, uint32_t cluster, const uint8_t *data)
{
    uint32_t phase;
    if (!carve_find_phase(&b->probe, data, b->cluster_length, &phase))
        return;
    carve_track_reset(&b->track);
    carve_psi_reset(&b->psi);
    b->current = CarveFragment{};
    b->current.first_cluster = cluster;
    b->current.clusters = 1;
    b->current.head = static_cast<uint16_t>(phase);
    memcpy(b->current.lead, data, 4);
    b->open = true;
    settle_cluster_end(b, data, take_packets(b, data, phase));
}

} // namespace

uint32_t carve_facts_intern(CarveFactsTable *table, const CarveFacts &facts)
{
    if (carve_facts_empty(facts))
        return 0;
    std::string key = carve_facts_key(facts);
    auto found = table->index.find(key);
    if (found != table->index.end())
        return found->second;
    table->facts.push_back(facts);
    uint32_t id = static_cast<uint32_t>(table->facts.size());
    table->index.emplace(std::move(key), id);
    return id;
}

const CarveFacts *carve_fragment_facts(const CarveFactsTable &table, const CarveFragment &f)
{
    if (f.facts == 0 || f.facts > table.facts.size())
        return nullptr;
    return &table.facts[f.facts - 1];
}

bool carve_find_phase(CarveTrack *scratch, const uint8_t *data, uint32_t length, uint32_t *phase)
{
    uint32_t best = 0, best_phase = 0;
    for (uint32_t at = 0; at < TS_PACKET_SIZE && at + TS_PACKET_SIZE <= length; ++at) {
        if (data[at] != TS_SYNC_BYTE)
            continue;
        bool fits_two = at + 2 * TS_PACKET_SIZE <= length;
        if (fits_two && data[at + TS_PACKET_SIZE] != TS_SYNC_BYTE)
            continue;
        uint32_t count = run_length(scratch, data, length, at);
        uint32_t needed = fits_two ? MIN_START_PACKETS : 1;
        if (count >= needed && count > best) {
            best = count;
            best_phase = at;
        }
    }
    *phase = best_phase;
    return best > 0;
}

void carve_builder_start(CarveBuilder *builder, uint32_t cluster_length,
                         std::vector<CarveFragment> *out, CarveFactsTable *facts)
{
    builder->cluster_length = cluster_length;
    builder->out = out;
    builder->facts = facts;
    builder->open = false;
    carve_track_reset(&builder->track);
    carve_track_reset(&builder->probe);
    carve_psi_reset(&builder->psi);
}

void carve_builder_feed(CarveBuilder *b, uint32_t cluster, const uint8_t *data)
{
    if (b->open) {
        CarveFragment &f = b->current;
        uint32_t resume = 0;
        bool next = cluster == f.first_cluster + f.clusters && carve_open_end(f, b->cluster_length);
        if (next && continues(b, data, &resume)) {
            ++f.clusters;
            settle_cluster_end(b, data, take_packets(b, data, resume));
            return;
        }
        close_fragment(b);
    }
    start_fragment(b, cluster, data);
}

void carve_builder_break(CarveBuilder *builder)
{
    if (builder->open)
        close_fragment(builder);
}
