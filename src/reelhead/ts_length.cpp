#include "reelhead/ts_length.h"


namespace {

constexpr uint64_t PCR_CLOCK = 90000;          // ticks per second of the PCR base
constexpr uint64_t PCR_WRAP = uint64_t{1} << 33; // the base is a 33-bit count

// Packets up to the PMT's are counted by where they end (a resynchronisation may skip
// bytes); from the first packet past it on, by number.
bool find_first_pcr(TsReader *reader, uint16_t pcr_pid, int64_t pmt_end, uint64_t *first)
{
    uint8_t packet[TS_PACKET_SIZE];
    unsigned past_pmt = 0;
    while (past_pmt < TS_PCR_SEARCH_LIMIT && ts_read_packet(reader, packet)) {
        if (ts_packet_pcr(packet, pcr_pid, first))
            return true;
        if (past_pmt > 0) {
            ++past_pmt;
        } else {
            int64_t at = ts_reader_position(reader);
            if (at < 0 || at > pmt_end)
                past_pmt = 1;
        }
    }
    return false;
}

} // namespace

std::optional<uint64_t> ts_recording_length(TsReader *reader, uint16_t pcr_pid, int64_t pmt_end)
{
    if (ts_reader_seek(reader, 0, HostSeek::Start) != 0)
        return std::nullopt;
    uint64_t first = 0;
    if (!find_first_pcr(reader, pcr_pid, pmt_end, &first))
        return std::nullopt;
    // Fails for a file shorter than the window: the search goes on from the first PCR.
    ts_reader_seek(reader, -TS_TAIL_WINDOW, HostSeek::End);
    uint64_t last = first;
    uint64_t base = 0;
    uint8_t packet[TS_PACKET_SIZE];
    while (ts_read_packet(reader, packet)) {
        if (ts_packet_pcr(packet, pcr_pid, &base))
            last = base;
    }
    if (last < first)
        last += PCR_WRAP;
    return (last - first) / PCR_CLOCK;
}
