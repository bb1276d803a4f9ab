#include "carve/carve_packet.h"

namespace {

constexpr uint8_t PID_SEEN = 1;
constexpr uint8_t PID_REPEATED = 2; // its last packet repeated the one before

constexpr uint8_t ADAPTATION = 0x20;
constexpr uint8_t PAYLOAD = 0x10;
constexpr uint8_t FLAG_DISCONTINUITY = 0x80;
constexpr uint8_t FLAG_PCR = 0x10;

uint64_t read_pcr_base(const uint8_t *field)
{
    uint64_t value = 0;
    for (int i = 0; i < 5; ++i)
        value = value << 8 | field[i];
    return value >> 7;
}

bool counter_follows(const PidTrack &pid, const TsPacket &packet)
{
    if (!(pid.flags & PID_SEEN) || packet.discontinuity)
        return true;
    if (packet.continuity == ((pid.last + 1) & 0x0F))
        return true;
    // A packet may be sent twice in a row, never three times.
    return packet.continuity == pid.last && !(pid.flags & PID_REPEATED);
}

} // namespace

bool carve_parse_packet(const uint8_t *bytes, TsPacket *packet, bool header_only)
{
    if (bytes[0] != TS_SYNC_BYTE)
        return false;
    uint8_t control = bytes[3] & (ADAPTATION | PAYLOAD);
    if (control == 0)
        return false;
    *packet = TsPacket{};
    packet->pid = static_cast<uint16_t>((bytes[1] & 0x1F) << 8 | bytes[2]);
    packet->unit_start = bytes[1] & 0x40;
    packet->has_payload = control & PAYLOAD;
    packet->continuity = bytes[3] & 0x0F;
    packet->payload_offset = 4;
    if (header_only || !(control & ADAPTATION))
        return true;
    uint8_t length = bytes[4];
    // Without payload the field fills the packet; with payload it leaves at least a byte.
    if (packet->has_payload ? length > 182 : length != 183)
        return false;
    if (length > 0) {
        uint8_t flags = bytes[5];
        packet->discontinuity = flags & FLAG_DISCONTINUITY;
        if ((flags & FLAG_PCR) && length >= 7) {
            packet->has_pcr = true;
            packet->pcr = read_pcr_base(bytes + 6);
        }
    }
    packet->payload_offset = static_cast<uint8_t>(5 + length);
    return true;
}

void carve_track_reset(CarveTrack *track)
{
    for (uint16_t pid : track->used)
        track->pids[pid] = PidTrack{};
    track->used.clear();
    track->pcr_pid = TS_NO_PID;
    track->has_pcr = false;
    track->first_pcr = track->last_pcr = 0;
    track->packets = 0;
}

bool carve_track_accepts(const CarveTrack *track, const TsPacket &packet)
{
    if (packet.pid == TS_NULL_PID)
        return true;
    if (packet.has_payload && !counter_follows(track->pids[packet.pid], packet))
        return false;
    if (packet.has_pcr && track->has_pcr && packet.pid == track->pcr_pid && !packet.discontinuity)
        return pcr_step_plausible(track->last_pcr, packet.pcr);
    return true;
}

void carve_track_add(CarveTrack *track, const TsPacket &packet)
{
    if (packet.pid == TS_NULL_PID)
        return;
    ++track->packets;
    if (packet.has_payload) {
        PidTrack &pid = track->pids[packet.pid];
        if (!(pid.flags & PID_SEEN)) {
            pid.first = packet.continuity;
            track->used.push_back(packet.pid);
            pid.flags = PID_SEEN;
        } else if (packet.continuity == pid.last && !packet.discontinuity) {
            pid.flags |= PID_REPEATED;
        } else {
            pid.flags &= static_cast<uint8_t>(~PID_REPEATED);
        }
        pid.last = packet.continuity;
        ++pid.payloads;
    }
    if (!packet.has_pcr)
        return;
    if (track->pcr_pid == TS_NO_PID)
        track->pcr_pid = packet.pid;
    if (packet.pid != track->pcr_pid)
        return;
    if (!track->has_pcr) {
        track->has_pcr = true;
        track->first_pcr = packet.pcr;
    }
    track->last_pcr = packet.pcr;
}
