#pragma once
// Finding a stream's programme association table and programme map table with
// libdvbpsi, and choosing the stream identifiers from the PMT.

// libdvbpsi's headers rely on these being declared first.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include <dvbpsi/dvbpsi.h>
#include <dvbpsi/descriptor.h>
#include <dvbpsi/psi.h>
#include <dvbpsi/pat.h>
#include <dvbpsi/pmt.h>

#include "reelhead/stream_info.h"
#include "reelhead/ts_packet.h"

// Packets read after the PAT without finding the PMT before the search gives up
// (about 6 MB of stream).
constexpr unsigned TS_PMT_SEARCH_LIMIT = 32768;

// Reads packets from the reader's position, pushing every PID-0 packet to a PAT
// decoder until it delivers a table (a PAT may span several packets). Returns the
// decoded PAT, which the caller releases with dvbpsi_pat_delete, or null when the file
// ends first. Reading stops right after the packet that completed the table.
dvbpsi_pat_t *ts_find_pat(TsReader *reader);

// PAT decoder callback; `data` points to the dvbpsi_pat_t* that receives the table.
// Only the first table delivered is kept; a later one is released at once.
void ts_on_pat(void *data, dvbpsi_pat_t *pat);

// Callback data of the PMT decoder.
struct PmtDecodeState {
    StreamInfo *info = nullptr;
    bool delivered = false;
};

// Writes "." to standard output, then reads on from the reader's position.
// The first packet whose PID is the PMT PID of one of the PAT's programmes (the network
// entry, programme number 0, is not a programme) chooses that programme: its number and
// PID go into `info`, and its packets are pushed to a PMT decoder until it delivers the
// table, which sets the stream identifiers in `info` (ts_on_pmt) and `pmt_end` (the file
// offset just after the packet that completed it).
// Returns true when the PMT was decoded; false at end of file, or when
// TS_PMT_SEARCH_LIMIT packets have been read without the table being delivered.
bool ts_find_pmt(TsReader *reader, const dvbpsi_pat_program_t *programs, StreamInfo *info);

// PMT decoder callback; `data` is a PmtDecodeState. Sets the programme number and PCR
// PID, the video PID (stream types 1 and 2; the last one listed wins) and the audio PID
// (types 3 and 4; the lowest PID wins, and only if lower than the one already set);
// other stream types are ignored. Marks the state delivered and releases the table.
void ts_on_pmt(void *data, dvbpsi_pmt_t *pmt);
