#include "converter/ts_packet.h"

#include <unistd.h>

#include <cerrno>

namespace {

// One read(2), retried when a signal interrupts it.
ssize_t read_some(int fd, uint8_t *buffer, size_t size)
{
    ssize_t got;
    do {
        got = read(fd, buffer, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

} // namespace

int ts_read_packet(int fd, uint8_t packet[TS_PACKET_SIZE])
{
    packet[0] = 0;
    while (packet[0] != TS_SYNC_BYTE) {
        if (read_some(fd, packet, 1) != 1)
            return 0;
    }
    size_t have = 1;
    while (have < TS_PACKET_SIZE) {
        ssize_t got = read_some(fd, packet + have, TS_PACKET_SIZE - have);
        if (got <= 0)
            return 0;
        have += static_cast<size_t>(got);
    }
    return 1;
}

uint16_t ts_packet_pid(const uint8_t packet[TS_PACKET_SIZE])
{
    return static_cast<uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
}

bool ts_packet_pcr(const uint8_t packet[TS_PACKET_SIZE], uint16_t pcr_pid, uint64_t *base)
{
    if (ts_packet_pid(packet) != pcr_pid || !(packet[3] & 0x20) || packet[4] < 7 ||
        !(packet[5] & 0x10))
        return false;
    uint64_t field = 0;
    for (int i = 6; i <= 10; ++i)
        field = field << 8 | packet[i];
    *base = field >> 7;
    return true;
}

bool ts_packet_payload_sane(const uint8_t packet[TS_PACKET_SIZE])
{
    if (!(packet[3] & 0x10))
        return false;
    size_t payload = 4;
    if (packet[3] & 0x20)
        payload += 1 + size_t{packet[4]};
    if (payload >= TS_PACKET_SIZE)
        return false;
    if (packet[1] & 0x40)
        return payload + 1 + packet[payload] < TS_PACKET_SIZE;
    return true;
}
