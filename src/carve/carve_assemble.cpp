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

// The busiest PID of each is one the other carries too: the tables' PIDs alone (the same
// in every recording) do not make two fragments one stream.
bool same_streams(const CarveFragment &before, const CarveFragment &next)
{
    return before.slots[0].pid != TS_NO_PID && next.slots[0].pid != TS_NO_PID &&
           slot_of(next, before.slots[0].pid) != nullptr && slot_of(before, next.slots[0].pid) != nullptr;
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

// Index of fragment starts by (phase, PID, first counter) of each of their slots; a
// fragment that begins where another ended inside its cluster continues nothing.
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
        if (fragments[i].head >= TS_PACKET_SIZE)
            continue;
        for (const CarveSlot &slot : fragments[i].slots) {
            if (slot.pid != TS_NO_PID)
                starts.push_back({start_key(fragments[i].head, slot.pid, slot.entry), i});
        }
    }
    std::sort(starts.begin(), starts.end());
    return starts;
}

// How well the clocks back a possible join: not at all (a side without a clock
// reference), through clocks beside it (of fragments joined, or that could be joined, to
// either side), or by both fragments' own clocks.
enum class Evidence : uint8_t { Untimed, Inferred, Direct };

struct Candidate {
    uint32_t before;
    uint32_t next;
    Evidence evidence;
    bool refuted; // clocks on both sides that do not follow on
};

// The fragments that could continue fragment `a`, added to `found`; false (nothing added)
// when too many look alike to examine.
bool add_candidates(const std::vector<CarveFragment> &fragments, const std::vector<StartKey> &starts,
                    uint32_t a, uint32_t cluster_length, std::vector<Candidate> *found)
{
    const CarveFragment &before = fragments[a];
    uint32_t head = before.carry > 0 ? TS_PACKET_SIZE - before.carry : 0;
    std::vector<uint32_t> seen;
    std::vector<Candidate> mine;
    for (const CarveSlot &slot : before.slots) {
        if (slot.pid == TS_NO_PID)
            continue;
        // The packet straddling the boundary may be one more of this PID.
        for (uint8_t step = 1; step <= (before.carry > 0 ? 2 : 1); ++step) {
            uint32_t key = start_key(head, slot.pid, (slot.exit + step) & 0x0F);
            auto it = std::lower_bound(starts.begin(), starts.end(), StartKey{key, 0});
            for (; it != starts.end() && it->key == key; ++it) {
                uint32_t b = it->fragment;
                if (b == a || std::find(seen.begin(), seen.end(), b) != seen.end())
                    continue;
                seen.push_back(b);
                if (seen.size() > MOST_EXAMINED)
                    return false;
                const CarveFragment &next = fragments[b];
                if (carve_continues(before, next, cluster_length))
                    mine.push_back({a, b, before.has_pcr && next.has_pcr ? Evidence::Direct : Evidence::Untimed, false});
            }
        }
    }
    found->insert(found->end(), mine.begin(), mine.end());
    return true;
}

// A clock reference near one end of a fragment: its own, or that of a fragment joined to
// it (or that could be joined to it) on that side, with the clusters between (each spans
// less than the longest interval between clock references, or it would hold one).
struct Clock {
    uint64_t pcr = 0;
    uint16_t pid = TS_NO_PID;
    uint64_t clusters_between = 0;
};

constexpr int MOST_CLOCK_STEPS = 16;

// What the joins so far, and the candidates beside them, know of the fragments' clocks.
struct JoinState {
    const std::vector<CarveFragment> &fragments;
    std::vector<Candidate> candidates;   // ordered by `before`
    std::vector<uint32_t> by_next;       // candidate indices ordered by `next`
    std::vector<uint32_t> next, previous;
};

// The clocks that may stand at the end of fragment f.
std::vector<Clock> end_clocks(const JoinState &state, uint32_t f)
{
    uint64_t between = 0;
    uint32_t at = f;
    for (int steps = 0; at != NONE && steps < MOST_CLOCK_STEPS; ++steps, at = state.previous[at]) {
        const CarveFragment &x = state.fragments[at];
        if (x.has_pcr)
            return {{x.last_pcr, x.pcr_pid, between}};
        between += x.clusters;
    }
    std::vector<Clock> clocks;
    if (state.previous[f] != NONE)
        return clocks;
    auto first = std::lower_bound(state.by_next.begin(), state.by_next.end(), f,
                                  [&](uint32_t i, uint32_t value) { return state.candidates[i].next < value; });
    for (auto it = first; it != state.by_next.end() && state.candidates[*it].next == f; ++it) {
        const Candidate &c = state.candidates[*it];
        const CarveFragment &x = state.fragments[c.before];
        if (c.refuted)
            continue;
        if (!x.has_pcr)
            return {}; // a way in without a clock: nothing can be told
        clocks.push_back({x.last_pcr, x.pcr_pid, state.fragments[f].clusters});
    }
    return clocks;
}

// The clocks that may stand at the start of fragment f.
std::vector<Clock> start_clocks(const JoinState &state, uint32_t f)
{
    uint64_t between = 0;
    uint32_t at = f;
    for (int steps = 0; at != NONE && steps < MOST_CLOCK_STEPS; ++steps, at = state.next[at]) {
        const CarveFragment &x = state.fragments[at];
        if (x.has_pcr)
            return {{x.first_pcr, x.pcr_pid, between}};
        between += x.clusters;
    }
    std::vector<Clock> clocks;
    if (state.next[f] != NONE)
        return clocks;
    auto first = std::lower_bound(state.candidates.begin(), state.candidates.end(), f,
                                  [](const Candidate &c, uint32_t value) { return c.before < value; });
    for (auto it = first; it != state.candidates.end() && it->before == f; ++it) {
        const CarveFragment &x = state.fragments[it->next];
        if (it->refuted)
            continue;
        if (!x.has_pcr)
            return {}; // a way on without a clock: nothing can be told
        clocks.push_back({x.first_pcr, x.pcr_pid, state.fragments[f].clusters});
    }
    return clocks;
}

// Judges an untimed candidate by the clocks beside it: backed when some clock before it
// and some clock after it follow on, refuted when there are clocks on both sides and none
// do.
void judge_by_neighbours(const JoinState &state, Candidate *c)
{
    std::vector<Clock> ends = end_clocks(state, c->before), starts = start_clocks(state, c->next);
    if (ends.empty() || starts.empty())
        return;
    for (const Clock &end : ends) {
        for (const Clock &start : starts) {
            uint64_t allowed = PCR_MAX_STEP + PCR_INTERVAL * (end.clusters_between + start.clusters_between);
            uint64_t step = pcr_step(end.pcr, start.pcr);
            if (end.pid == start.pid && step > 0 && step <= allowed) {
                c->evidence = Evidence::Inferred;
                return;
            }
        }
    }
    c->refuted = true;
}

// One round of joins: a candidate is taken when it has the best evidence of all the
// candidates of both its fragments, and is the only one with such evidence on either
// side. Candidates whose fragments are already joined elsewhere no longer count.
bool join_round(std::vector<Candidate> &candidates, const std::vector<bool> &ambiguous,
                std::vector<uint32_t> *next, std::vector<uint32_t> *previous)
{
    size_t count = next->size();
    struct Best {
        Evidence evidence = Evidence::Untimed;
        uint32_t count = 0;
        void add(Evidence e)
        {
            if (count == 0 || e > evidence) {
                evidence = e;
                count = 1;
            } else if (e == evidence) {
                ++count;
            }
        }
        bool only(Evidence e) const { return e == evidence && count == 1; }
    };
    std::vector<Best> from(count), to(count);
    auto open = [&](const Candidate &c) {
        return !c.refuted && (*next)[c.before] == NONE && (*previous)[c.next] == NONE;
    };
    for (const Candidate &c : candidates) {
        if (open(c)) {
            from[c.before].add(c.evidence);
            to[c.next].add(c.evidence);
        }
    }
    bool joined = false;
    for (const Candidate &c : candidates) {
        if (!open(c) || ambiguous[c.before] || !from[c.before].only(c.evidence) || !to[c.next].only(c.evidence))
            continue;
        (*next)[c.before] = c.next;
        (*previous)[c.next] = c.before;
        joined = true;
    }
    return joined;
}

// Joins are made in rounds: each round's joins carry clock references to the fragments
// beside them, which may settle candidates that had none.
constexpr int MOST_ROUNDS = 8;

void make_joins(const std::vector<CarveFragment> &fragments, uint32_t cluster_length,
                std::vector<uint32_t> *next, std::vector<uint32_t> *previous)
{
    uint32_t count = static_cast<uint32_t>(fragments.size());
    JoinState state{fragments, {}, {}, std::move(*next), std::move(*previous)};
    std::vector<bool> ambiguous(count, false);
    {
        std::vector<StartKey> starts = index_starts(fragments);
        for (uint32_t a = 0; a < count; ++a) {
            if (carve_open_end(fragments[a], cluster_length))
                ambiguous[a] = !add_candidates(fragments, starts, a, cluster_length, &state.candidates);
        }
    }
    for (uint32_t i = 0; i < state.candidates.size(); ++i)
        state.by_next.push_back(i);
    std::stable_sort(state.by_next.begin(), state.by_next.end(), [&](uint32_t x, uint32_t y) {
        return state.candidates[x].next < state.candidates[y].next;
    });
    for (int round = 0; round < MOST_ROUNDS; ++round) {
        for (Candidate &c : state.candidates) {
            if (c.evidence == Evidence::Untimed && !c.refuted && state.next[c.before] == NONE &&
                state.previous[c.next] == NONE)
                judge_by_neighbours(state, &c);
        }
        if (!join_round(state.candidates, ambiguous, &state.next, &state.previous))
            break;
    }
    *next = std::move(state.next);
    *previous = std::move(state.previous);
}

} // namespace

bool carve_continues(const CarveFragment &before, const CarveFragment &next, uint32_t cluster_length)
{
    if (!carve_open_end(before, cluster_length))
        return false;
    uint32_t head = before.carry > 0 ? TS_PACKET_SIZE - before.carry : 0;
    return next.head == head && same_streams(before, next) && counters_follow(before, next) &&
           clocks_follow(before, next);
}

std::vector<std::vector<uint32_t>> carve_assemble(const std::vector<CarveFragment> &fragments,
                                                  uint32_t cluster_length)
{
    uint32_t count = static_cast<uint32_t>(fragments.size());
    std::vector<uint32_t> next(count, NONE), previous(count, NONE);
    make_joins(fragments, cluster_length, &next, &previous);
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
