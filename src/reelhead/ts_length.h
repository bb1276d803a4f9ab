#pragma once
// The length of a recording, from the program clock reference at its head and tail.
#include <cstdint>
#include <optional>

#include "reelhead/ts_packet.h"

// The tail of the stream searched for the last PCR: 5320 packets.
constexpr int64_t TS_TAIL_WINDOW = 1000160;
// Packets searched for the first PCR after the packet that completed the PMT. Streams
// carry a PCR at least every tenth of a second, so a stream without one this far past its
// tables has none worth measuring, and a large file is never read through. The search
// starts at the head of the file all the same: a PCR may come before the tables.
constexpr unsigned TS_PCR_SEARCH_LIMIT = 32768;

// Whole seconds between the first PCR on `pcr_pid` (searched from offset 0 up to
// TS_PCR_SEARCH_LIMIT packets past `pmt_end`, the offset just after the packet that
// completed the PMT) and the last one in the final TS_TAIL_WINDOW bytes of the file. A
// file shorter than the window is searched on from just after the first PCR. A last PCR
// below the first counts as one wrap of the 33-bit clock; the first PCR's own value
// counts as the last when the tail has none. None when the first PCR was not found.
std::optional<uint64_t> ts_recording_length(TsReader *reader, uint16_t pcr_pid, int64_t pmt_end);
