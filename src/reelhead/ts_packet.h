#pragma once
// Transport-stream packets read from an unbuffered file descriptor, and the few packet
// fields the converter looks at.
#include <cstddef>
#include <cstdint>

constexpr size_t TS_PACKET_SIZE = 188;
constexpr uint8_t TS_SYNC_BYTE = 0x47;

// Reads the next packet into `packet`: skips bytes one at a time until a 0x47 sync byte,
// then reads the 187 bytes after it (repeating short reads). There is no other alignment
// check: any 0x47 byte is taken as the start of a packet.
// Returns 1 with a whole packet in the buffer; 0 at end of file or on a read error.
int ts_read_packet(int fd, uint8_t packet[TS_PACKET_SIZE]);

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
