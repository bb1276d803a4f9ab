#pragma once
// Transport-stream packets as the carver meets them inside clusters: the few header
// fields that tell whether one packet continues another (the continuity counter of its
// PID, the clock reference), and the running state of one stream that decides it.
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t TS_PACKET_SIZE = 188;
constexpr uint8_t TS_SYNC_BYTE = 0x47;
constexpr uint16_t TS_NULL_PID = 0x1FFF;
constexpr uint16_t TS_NO_PID = 0x2000; // one above the largest PID: no such stream
constexpr uint32_t TS_PID_COUNT = 0x2000;
constexpr uint64_t PCR_CYCLE = uint64_t{1} << 33; // the 90 kHz base wraps here
constexpr uint64_t PCR_HZ = 90000;
// Clock references of one programme follow each other at most 100 ms apart in a
// conforming stream; a step up to a second is still taken as the same clock (sloppy
// muxers), anything larger, or a step back, as another stream.
constexpr uint64_t PCR_MAX_STEP = PCR_HZ;
// The longest a conforming stream goes without a clock reference (100 ms): a stretch of
// stream that holds none spans less than this.
constexpr uint64_t PCR_INTERVAL = PCR_HZ / 10;

struct TsPacket {
    uint16_t pid = 0;
    uint8_t continuity = 0;
    bool unit_start = false;
    bool has_payload = false;
    bool discontinuity = false; // the adaptation field excuses a jump of counter or clock
    bool has_pcr = false;
    uint64_t pcr = 0;           // the 33-bit base (90 kHz); the extension is not used
    uint8_t payload_offset = 0; // where the payload begins inside the packet
};

// Reads the header of the packet at `bytes` (188 bytes; only the first 4 are needed when
// `header_only`). False when the bytes cannot begin a packet: no sync byte, the reserved
// adaptation-field control, or an adaptation field longer than the packet.
bool carve_parse_packet(const uint8_t *bytes, TsPacket *packet, bool header_only = false);

// The forward step from one clock reference to the next, on the 33-bit circle.
inline uint64_t pcr_step(uint64_t from, uint64_t to)
{
    return (to - from) & (PCR_CYCLE - 1);
}

inline bool pcr_step_plausible(uint64_t from, uint64_t to)
{
    uint64_t step = pcr_step(from, to);
    return step > 0 && step <= PCR_MAX_STEP;
}

// The continuity of one PID within a stream.
struct PidTrack {
    uint8_t first = 0;  // counter of its first packet with payload
    uint8_t last = 0;   // counter of its last packet with payload
    uint8_t flags = 0;  // PID_SEEN, PID_REPEATED
    uint32_t payloads = 0;
};

// The running state of one stream while its packets are read in order: every PID's
// counters and the clock of its first PID that carries one. Reset costs in proportion
// to the PIDs used, not to the 8192 possible.
struct CarveTrack {
    std::vector<PidTrack> pids = std::vector<PidTrack>(TS_PID_COUNT);
    std::vector<uint16_t> used; // PIDs with payload seen, in order of appearance
    uint16_t pcr_pid = TS_NO_PID;
    bool has_pcr = false;
    uint64_t first_pcr = 0;
    uint64_t last_pcr = 0;
    uint32_t packets = 0; // packets taken, null packets aside
};

void carve_track_reset(CarveTrack *track);

// True when `packet` continues the stream: a packet with payload carries the next
// counter of its PID (or repeats the last once, as a duplicate may; a PID not yet seen
// starts anywhere), and a clock reference on the stream's clock PID moves forward by a
// plausible step. A discontinuity indicator excuses both. Null packets always continue.
bool carve_track_accepts(const CarveTrack *track, const TsPacket &packet);

// Takes the packet into the state (after carve_track_accepts said yes).
void carve_track_add(CarveTrack *track, const TsPacket &packet);
