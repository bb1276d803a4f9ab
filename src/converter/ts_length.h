#pragma once
// The length of a recording, from the program clock reference at its head and tail.
#include <cstdint>

// The tail of the stream searched for the last PCR: 5320 packets.
constexpr int64_t TS_TAIL_WINDOW = 1000160;
// Packets searched from the start for the first PCR. Streams carry a PCR at least every
// tenth of a second, so a stream without one this far in has none worth measuring, and
// a large file is never read through.
constexpr unsigned TS_HEAD_SCAN_LIMIT = 32768;

// Whole seconds between the first PCR on `pcr_pid` (searched from offset 0 over at most
// TS_HEAD_SCAN_LIMIT packets) and the last one in the final TS_TAIL_WINDOW bytes of the
// file. A file shorter than the window is searched on from just after the first PCR.
// A last PCR below the first counts as one wrap of the 33-bit clock. 0 when the head
// has no PCR; the first PCR's own value counts as the last when the tail has none.
uint64_t ts_recording_length(int fd, uint16_t pcr_pid);
