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

// A stream that stops inside a cluster may be followed there by another one at the same
// stride (what is left of an older recording after a newer one ended); it is taken as a
// fragment of its own, a few times per cluster at most.
constexpr int RESTARTS_PER_CLUSTER = 2;

void begin_fragment(CarveBuilder *b, uint32_t cluster, const uint8_t *data, uint32_t head, int restarts);

// After the whole packets up to `stop` were taken from the cluster: the fragment either
// runs on to the cluster's end (holding its partial last packet, when that still looks
// like the stream's next packet) or ends at `stop`.
void settle_cluster_end(CarveBuilder *b, uint32_t cluster, const uint8_t *data, uint32_t stop, int restarts)
{
    CarveFragment &f = b->current;
    uint32_t rest = b->cluster_length - stop;
    bool runs_on = rest < TS_PACKET_SIZE && (rest == 0 || data[stop] == TS_SYNC_BYTE);
    if (runs_on && rest >= 4) {
        TsPacket header;
        runs_on = carve_parse_packet(data + stop, &header, true) &&
                  (!header.has_payload || carve_track_accepts(&b->track, header));
    }
    if (runs_on) {
        f.end = b->cluster_length;
        f.carry = static_cast<uint16_t>(rest);
        memcpy(b->partial, data + stop, rest);
        memset(f.partial, 0, sizeof f.partial);
        memcpy(f.partial, data + stop, std::min<uint32_t>(rest, 4));
        return;
    }
    f.end = stop;
    f.carry = 0;
    close_fragment(b);
    if (restarts > 0 && rest >= 2 * TS_PACKET_SIZE &&
        run_length(&b->probe, data, b->cluster_length, stop) >= MIN_START_PACKETS)
        begin_fragment(b, cluster, data, stop, restarts - 1);
}

void begin_fragment(CarveBuilder *b, uint32_t cluster, const uint8_t *data, uint32_t head, int restarts)
{
    carve_track_reset(&b->track);
    carve_psi_reset(&b->psi);
    b->current = CarveFragment{};
    b->current.first_cluster = cluster;
    b->current.clusters = 1;
    b->current.head = head;
    memcpy(b->current.lead, data, 4);
    b->open = true;
    settle_cluster_end(b, cluster, data, take_packets(b, data, head), restarts);
}

// What a cluster's packets say about the open fragment, read without taking them. It goes
// on with the fragment when most of its packets are of PIDs the fragment carries, the
// first packet of each such PID carries its next counter, and no clock reference jumps.
// (The tables' PIDs are the same in every recording, and another recording with the same
// layout can match every counter up to its first clock reference.)
class ContinuationProbe {
  public:
    explicit ContinuationProbe(const CarveTrack &track)
        : track_(track), has_pcr_(track.has_pcr), last_pcr_(track.last_pcr) {}

    // False once the packet refutes the fragment (the verdict is then no).
    bool look(const TsPacket &p)
    {
        if (p.pid == TS_NULL_PID)
            return true;
        if (p.has_payload && !look_counter(p))
            return false;
        if (p.has_pcr && p.pid == track_.pcr_pid && has_pcr_ && !p.discontinuity) {
            if (!pcr_step_plausible(last_pcr_, p.pcr))
                return false;
            last_pcr_ = p.pcr;
        }
        return true;
    }

    bool goes_on() const { return followed_ > 0 && known_ > foreign_; }

  private:
    const CarveTrack &track_;
    bool has_pcr_;
    uint64_t last_pcr_;
    unsigned known_ = 0, foreign_ = 0, followed_ = 0;
    uint16_t met_[16] = {};
    size_t mets_ = 0;

    bool look_counter(const TsPacket &p)
    {
        const PidTrack &known = track_.pids[p.pid];
        if (known.flags == 0) {
            ++foreign_;
            return true;
        }
        ++known_;
        for (size_t i = 0; i < mets_; ++i) {
            if (met_[i] == p.pid)
                return true;
        }
        if (mets_ < 16)
            met_[mets_++] = p.pid;
        if (p.continuity != ((known.last + 1) & 0x0F))
            return false;
        ++followed_;
        return true;
    }
};

// True when the cluster continues the open fragment: the packet begun at the end of the
// last cluster completes into one that continues the stream, a sync byte follows it, and
// the cluster's packets confirm the stream and do not refute it. Then the straddling
// packet is taken and *resume is where the cluster's whole packets begin.
bool continues(CarveBuilder *b, const uint8_t *data, uint32_t *resume)
{
    uint32_t carry = b->current.carry;
    uint32_t need = carry > 0 ? TS_PACKET_SIZE - carry : 0;
    if (need + TS_PACKET_SIZE > b->cluster_length || data[need] != TS_SYNC_BYTE)
        return false;
    ContinuationProbe probe(b->track);
    uint8_t whole[TS_PACKET_SIZE];
    TsPacket straddle;
    if (carry > 0) {
        memcpy(whole, b->partial, carry);
        memcpy(whole + carry, data, need);
        if (!carve_parse_packet(whole, &straddle) || !carve_track_accepts(&b->track, straddle) ||
            !probe.look(straddle))
            return false;
    }
    TsPacket packet;
    for (uint32_t at = need; at + TS_PACKET_SIZE <= b->cluster_length; at += TS_PACKET_SIZE) {
        if (!carve_parse_packet(data + at, &packet))
            break;
        if (!probe.look(packet))
            return false;
    }
    if (!probe.goes_on())
        return false;
    if (carry > 0) {
        carve_track_add(&b->track, straddle);
        carve_psi_packet(&b->psi, whole, straddle, b->track);
    }
    *resume = need;
    return true;
}

void start_fragment(CarveBuilder *b, uint32_t cluster, const uint8_t *data)
{
    uint32_t phase;
    if (carve_find_phase(&b->probe, data, b->cluster_length, &phase))
        begin_fragment(b, cluster, data, phase, RESTARTS_PER_CLUSTER);
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
            settle_cluster_end(b, cluster, data, take_packets(b, data, resume), RESTARTS_PER_CLUSTER);
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
