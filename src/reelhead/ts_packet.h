#pragma once
// Transport-stream packets read from a host file through a buffer of its own, and the few
// packet fields the converter looks at.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/host_file.h"

constexpr size_t TS_PACKET_SIZE = 188;
constexpr uint8_t TS_SYNC_BYTE = 0x47;
// Bytes taken from the file at a time: junk between packets is searched in memory, not
// with a system call per byte.
constexpr size_t TS_READ_BUFFER = size_t{64} << 10;

// A stream file being read packet by packet. The file's descriptor stays the caller's;
// while a reader is in use, the descriptor is read and moved only through it.
struct TsReader {
    int fd = -1;
    std::vector<uint8_t> buffer;
    size_t next = 0;         // the first unread byte of the buffer
    size_t end = 0;          // the end of the bytes in the buffer
    int64_t buffer_at = 0;   // the file offset of buffer[0]
};

// A reader of `fd` from its current position (which must be known: a regular file).
void ts_reader_init(TsReader *reader, int fd);

// Reads the next packet into `packet`: skips every byte up to the next 0x47 sync byte,
// then takes the 187 bytes after it. There is no other alignment check: any 0x47 byte is
// taken as the start of a packet. Returns 1 with a whole packet in the buffer; 0 at end
// of file (a packet cut short by the end counts as read) or on a read error.
int ts_read_packet(TsReader *reader, uint8_t packet[TS_PACKET_SIZE]);

// The file offset of the next byte the reader would take (just after the last packet
// read, or the bytes skipped before giving up).
int64_t ts_reader_position(const TsReader *reader);

// Moves the reading position as host_seek does; the new position, or -1 (errno set) with
// the position unchanged.
int64_t ts_reader_seek(TsReader *reader, int64_t offset, HostSeek from);

// The 13-bit PID of a packet.
uint16_t ts_packet_pid(const uint8_t packet[TS_PACKET_SIZE]);

// True when the packet carries a program clock reference on `pcr_pid` (adaptation field
// present, at least 7 bytes long, PCR flag set); `base` gets the 33-bit PCR base.
bool ts_packet_pcr(const uint8_t packet[TS_PACKET_SIZE], uint16_t pcr_pid, uint64_t *base);

// True when the packet's payload lies wholly inside the packet (a payload is present,
// the adaptation field leaves room for it and a section start's pointer field stays
// inside the packet). Only such packets are handed to the table decoders, which trust
// these lengths.
bool ts_packet_payload_sane(const uint8_t packet[TS_PACKET_SIZE]);
