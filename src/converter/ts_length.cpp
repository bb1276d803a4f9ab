#include "converter/ts_length.h"

#include <unistd.h>

#include "converter/ts_packet.h"

namespace {

constexpr uint64_t PCR_CLOCK = 90000;          // ticks per second of the PCR base
constexpr uint64_t PCR_WRAP = uint64_t{1} << 33; // the base is a 33-bit count

bool find_first_pcr(int fd, uint16_t pcr_pid, uint64_t *first)
{
    uint8_t packet[TS_PACKET_SIZE];
    for (unsigned read = 0; read < TS_HEAD_SCAN_LIMIT && ts_read_packet(fd, packet); ++read) {
        if (ts_packet_pcr(packet, pcr_pid, first))
            return true;
    }
    return false;
}

} // namespace

uint64_t ts_recording_length(int fd, uint16_t pcr_pid)
{
    if (lseek(fd, 0, SEEK_SET) != 0)
        return 0;
    uint64_t first = 0;
    if (!find_first_pcr(fd, pcr_pid, &first))
        return 0;
    // Fails for a file shorter than the window: the search goes on from the first PCR.
    lseek(fd, -TS_TAIL_WINDOW, SEEK_END);
    uint64_t last = first;
    uint64_t base = 0;
    uint8_t packet[TS_PACKET_SIZE];
    while (ts_read_packet(fd, packet)) {
        if (ts_packet_pcr(packet, pcr_pid, &base))
            last = base;
    }
    if (last < first)
        last += PCR_WRAP;
    return (last - first) / PCR_CLOCK;
}
