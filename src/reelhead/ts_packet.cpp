#include "reelhead/ts_packet.h"

#include <algorithm>
#include <cstring>

namespace {

// Replaces the buffer's bytes, all consumed, with the next ones of the file; false at its
// end or on a read error.
bool refill(TsReader *reader)
{
    reader->buffer_at += static_cast<int64_t>(reader->end);
    reader->next = reader->end = 0;
    size_t got = 0;
    bool ok = host_read_fully(reader->fd, reader->buffer.data(), reader->buffer.size(), &got);
    reader->end = got;
    return ok && got > 0;
}

} // namespace

void ts_reader_init(TsReader *reader, int fd)
{
    reader->fd = fd;
    reader->buffer.assign(TS_READ_BUFFER, 0);
    reader->next = reader->end = 0;
    int64_t at = host_seek(fd, 0, HostSeek::Current);
    reader->buffer_at = at > 0 ? at : 0;
}

int ts_read_packet(TsReader *reader, uint8_t packet[TS_PACKET_SIZE])
{
    const uint8_t *data = reader->buffer.data();
    for (;;) {
        if (reader->next == reader->end && !refill(reader))
            return 0;
        const void *sync = memchr(data + reader->next, TS_SYNC_BYTE, reader->end - reader->next);
        if (sync != nullptr) {
            reader->next = static_cast<size_t>(static_cast<const uint8_t *>(sync) - data) + 1;
            break;
        }
        reader->next = reader->end;
    }
    packet[0] = TS_SYNC_BYTE;
    size_t have = 1;
    while (have < TS_PACKET_SIZE) {
        if (reader->next == reader->end && !refill(reader))
            return 0;
        size_t n = std::min(TS_PACKET_SIZE - have, reader->end - reader->next);
        memcpy(packet + have, data + reader->next, n);
        reader->next += n;
        have += n;
    }
    return 1;
}

int64_t ts_reader_position(const TsReader *reader)
{
    return reader->buffer_at + static_cast<int64_t>(reader->next);
}

int64_t ts_reader_seek(TsReader *reader, int64_t offset, HostSeek from)
{
    // The descriptor stands at the end of the buffered bytes, not where reading is.
    if (from == HostSeek::Current)
        offset += ts_reader_position(reader) - (reader->buffer_at + static_cast<int64_t>(reader->end));
    int64_t at = host_seek(reader->fd, offset, from);
    if (at < 0)
        return -1;
    reader->buffer_at = at;
    reader->next = reader->end = 0;
    return at;
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
