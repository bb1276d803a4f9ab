#include "carve/carve_assemble.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t NONE = UINT32_MAX;
// A fragment that many others could nearly continue is ambiguous anyway; looking further
// only costs time (a hostile disk could make every fragment look alike).
constexpr size_t MOST_EXAMINED = 128;

// The packet that straddles the end of `before` and the start of `next`: its header is
// the first bytes of the partial packet, completed from the next cluster's first bytes.
bool straddling_header(const CarveFragment &before, const CarveFragment &next, TsPacket *packet)
{
    if (before.carry == 0)
        return false;
    uint8_t header[TS_PACKET_SIZE] = {};
    uint32_t own = std::min<uint32_t>(before.carry, 4);
    memcpy(header, before.partial, own);
    memcpy(header + own, next.lead, 4 - own);
    return carve_parse_packet(header, packet, true);
}

const CarveSlot *slot_of(const CarveFragment &f, uint16_t pid)
{
    for (const CarveSlot &slot : f.slots) {
        if (slot.pid == pid)
            return &slot;
    }
    return nullptr;
}

uint8_t next_counter(uint8_t counter)
{
    return (counter + 1) & 0x0F;
}

// Every PID kept at both ends must follow on; at least one must be there to tell.
bool counters_follow(const CarveFragment &before, const CarveFragment &next)
{
    TsPacket straddle;
    bool has_straddle = false;
    if (before.carry > 0) {
        if (!straddling_header(before, next, &straddle))
            return false;
        has_straddle = straddle.has_payload && straddle.pid != TS_NULL_PID;
    }
    unsigned common = 0;
    for (const CarveSlot &slot : before.slots) {
        if (slot.pid == TS_NO_PID)
            continue;
        uint8_t last = slot.exit;
        if (has_straddle && straddle.pid == slot.pid) {
            if (straddle.continuity != next_counter(last))
                return false;
            last = straddle.continuity;
        }
        const CarveSlot *other = slot_of(next, slot.pid);
        if (other == nullptr)
            continue;
        if (other->entry != next_counter(last))
            return false;
        ++common;
    }
    if (has_straddle && slot_of(before, straddle.pid) == nullptr) {
        const CarveSlot *other = slot_of(next, straddle.pid);
        if (other != nullptr) {
            if (other->entry != next_counter(straddle.continuity))
                return false;
            ++common;
        }
    }
    return common > 0;
}

bool clocks_follow(const CarveFragment &before, const CarveFragment &next)
{
    if (!before.has_pcr || !next.has_pcr)
        return true;
    return before.pcr_pid == next.pcr_pid && pcr_step_plausible(before.last_pcr, next.first_pcr);
}

// Index of fragment starts by (phase, PID, first counter) of each of their slots.
struct StartKey {
    uint32_t key;
    uint32_t fragment;
    bool operator<(const StartKey &other) const
    {
        return key < other.key || (key == other.key && fragment < other.fragment);
    }
};

uint32_t start_key(uint32_t head, uint16_t pid, uint8_t counter)
{
    return head << 17 | uint32_t{pid} << 4 | counter;
}

std::vector<StartKey> index_starts(const std::vector<CarveFragment> &fragments)
{
    std::vector<StartKey> starts;
    for (uint32_t i = 0; i < fragments.size(); ++i) {
        for (const CarveSlot &slot : fragments[i].slots) {
            if (slot.pid != TS_NO_PID)
                starts.push_back({start_key(fragments[i].head, slot.pid, slot.entry), i});
        }
    }
    std::sort(starts.begin(), starts.end());
    return starts;
}

// The fragments that could continue fragment `a`: none, one, or two (two or more, or too
// many to examine, make it ambiguous).
std::vector<uint32_t> candidates_for(const std::vector<CarveFragment> &fragments,
                                     const std::vector<StartKey> &starts, uint32_t a,
                                     uint32_t cluster_length)
{
    const CarveFragment &before = fragments[a];
    uint32_t head = before.carry > 0 ? TS_PACKET_SIZE - before.carry : 0;
    std::vector<uint32_t> seen, found;
    for (const CarveSlot &slot : before.slots) {
        if (slot.pid == TS_NO_PID)
            continue;
        // The packet straddling the boundary may be one more of this PID.
        for (uint8_t step = 1; step <= (before.carry > 0 ? 2 : 1); ++step) {
            uint32_t key = start_key(head, slot.pid, (slot.exit + step) & 0x0F);
            auto it = std::lower_bound(starts.begin(), starts.end(), StartKey{key, 0});
            for (; it != starts.end() && it->key == key; ++it) {
                if (it->fragment == a || std::find(seen.begin(), seen.end(), it->fragment) != seen.end())
                    continue;
                seen.push_back(it->fragment);
                if (seen.size() > MOST_EXAMINED)
                    return {NONE, NONE};
                if (carve_continues(before, fragments[it->fragment], cluster_length))
                    found.push_back(it->fragment);
                if (found.size() > 1)
                    return found; // ambiguous: no join
            }
        }
    }
    return found;
}

} // namespace

bool carve_continues(const CarveFragment &before, const CarveFragment &next, uint32_t cluster_length)
{
    if (!carve_open_end(before, cluster_length))
        return false;
    uint32_t head = before.carry > 0 ? TS_PACKET_SIZE - before.carry : 0;
    return next.head == head && counters_follow(before, next) && clocks_follow(before, next);
}

std::vector<std::vector<uint32_t>> carve_assemble(const std::vector<CarveFragment> &fragments,
                                                  uint32_t cluster_length)
{
    uint32_t count = static_cast<uint32_t>(fragments.size());
    std::vector<uint32_t> candidate(count, NONE), claims(count, 0);
    {
        std::vector<StartKey> starts = index_starts(fragments);
        for (uint32_t a = 0; a < count; ++a) {
            if (!carve_open_end(fragments[a], cluster_length))
                continue;
            std::vector<uint32_t> found = candidates_for(fragments, starts, a, cluster_length);
            for (uint32_t b : found) {
                if (b != NONE)
                    ++claims[b];
            }
            if (found.size() == 1)
                candidate[a] = found[0];
        }
    }
    std::vector<uint32_t> next(count, NONE), previous(count, NONE);
    for (uint32_t a = 0; a < count; ++a) {
        uint32_t b = candidate[a];
        if (b != NONE && claims[b] == 1) {
            next[a] = b;
            previous[b] = a;
        }
    }
    std::vector<std::vector<uint32_t>> streams;
    std::vector<bool> taken(count, false);
    auto follow = [&](uint32_t from) {
        std::vector<uint32_t> stream;
        for (uint32_t f = from; f != NONE && !taken[f]; f = next[f]) {
            taken[f] = true;
            stream.push_back(f);
        }
        streams.push_back(std::move(stream));
    };
    for (uint32_t f = 0; f < count; ++f) {
        if (previous[f] == NONE)
            follow(f);
    }
    // What is left forms loops (a hostile disk): each is cut at its first fragment on disk.
    for (uint32_t f = 0; f < count; ++f) {
        if (!taken[f])
            follow(f);
    }
    std::sort(streams.begin(), streams.end(),
              [](const std::vector<uint32_t> &x, const std::vector<uint32_t> &y) { return x[0] < y[0]; });
    return streams;
}
