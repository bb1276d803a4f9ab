#include "reelhead/ts_packet.h"

#include "platform/host_file.h"

int ts_read_packet(int fd, uint8_t packet[TS_PACKET_SIZE])
{
    size_t got = 0;
    packet[0] = 0;
    while (packet[0] != TS_SYNC_BYTE) {
        if (!host_read_fully(fd, packet, 1, &got) || got != 1)
            return 0;
    }
    return host_read_fully(fd, packet + 1, TS_PACKET_SIZE - 1, &got) && got == TS_PACKET_SIZE - 1;
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
