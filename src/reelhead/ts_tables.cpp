#include "reelhead/ts_tables.h"

#include <cstdio>

#include "common/fatal.h"
#include "reelhead/ts_packet.h"

namespace {

// The decoders' own diagnostics go to standard error in their own words.
void print_decoder_message(dvbpsi_t *, const dvbpsi_msg_level_t, const char *message)
{
    warn("%s\n", message);
}

dvbpsi_t *new_decoder_handle()
{
    dvbpsi_t *handle = dvbpsi_new(print_decoder_message, DVBPSI_MSG_ERROR);
    if (handle == nullptr)
        fatal("malloc\n");
    return handle;
}

// The programme whose PMT travels on `pid`, or null. The network entry is no programme.
const dvbpsi_pat_program_t *find_programme(const dvbpsi_pat_program_t *programs,
                                           uint16_t pid)
{
    for (const dvbpsi_pat_program_t *p = programs; p != nullptr; p = p->p_next) {
        if (p->i_number != 0 && p->i_pid == pid)
            return p;
    }
    return nullptr;
}

} // namespace

void ts_on_pat(void *data, dvbpsi_pat_t *pat)
{
    auto *slot = static_cast<dvbpsi_pat_t **>(data);
    if (*slot != nullptr) {
        dvbpsi_pat_delete(pat);
        return;
    }
    *slot = pat;
}

dvbpsi_pat_t *ts_find_pat(TsReader *reader)
{
    dvbpsi_pat_t *pat = nullptr;
    dvbpsi_t *handle = new_decoder_handle();
    if (!dvbpsi_pat_attach(handle, ts_on_pat, &pat))
        fatal("malloc\n");
    uint8_t packet[TS_PACKET_SIZE];
    while (pat == nullptr && ts_read_packet(reader, packet)) {
        if (ts_packet_pid(packet) == 0 && ts_packet_payload_sane(packet))
            dvbpsi_packet_push(handle, packet);
    }
    dvbpsi_pat_detach(handle);
    dvbpsi_delete(handle);
    return pat;
}

void ts_on_pmt(void *data, dvbpsi_pmt_t *pmt)
{
    auto *state = static_cast<PmtDecodeState *>(data);
    StreamInfo *info = state->info;
    info->program_number = pmt->i_program_number;
    info->pcr_pid = pmt->i_pcr_pid;
    for (const dvbpsi_pmt_es_t *es = pmt->p_first_es; es != nullptr; es = es->p_next) {
        switch (es->i_type) {
        case 1:
        case 2:
            info->video_pid = es->i_pid;
            break;
        case 3:
        case 4:
            if (es->i_pid < info->audio_pid)
                info->audio_pid = es->i_pid;
            break;
        default:
            break;
        }
    }
    state->delivered = true;
    dvbpsi_pmt_delete(pmt);
}

bool ts_find_pmt(TsReader *reader, const dvbpsi_pat_program_t *programs, StreamInfo *info)
{
    fputc('.', stdout);
    fflush(stdout);

    PmtDecodeState state{info, false};
    const dvbpsi_pat_program_t *chosen = nullptr;
    dvbpsi_t *handle = nullptr;
    uint8_t packet[TS_PACKET_SIZE];
    unsigned passed = 0;
    while (ts_read_packet(reader, packet)) {
        uint16_t pid = ts_packet_pid(packet);
        if (chosen == nullptr && (chosen = find_programme(programs, pid)) != nullptr) {
            handle = new_decoder_handle();
            if (!dvbpsi_pmt_attach(handle, chosen->i_number, ts_on_pmt, &state))
                fatal("malloc\n");
            info->program_number = chosen->i_number;
            info->pmt_pid = chosen->i_pid;
        }
        if (chosen != nullptr && pid == chosen->i_pid && ts_packet_payload_sane(packet)) {
            dvbpsi_packet_push(handle, packet);
            if (state.delivered)
                break;
        }
        if (++passed == TS_PMT_SEARCH_LIMIT)
            break;
    }
    if (handle != nullptr) {
        dvbpsi_pmt_detach(handle);
        dvbpsi_delete(handle);
    }
    if (state.delivered)
        info->pmt_end = ts_reader_position(reader);
    return state.delivered;
}
