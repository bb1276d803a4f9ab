#pragma once
// What the analysis of one transport stream found: the programme the header describes,
// its stream identifiers and the recording's length.
#include <cstdint>

#include "common/record_entry.h"

struct StreamInfo {
    uint16_t program_number = 0;
    uint16_t pmt_pid = 0;
    uint16_t video_pid = PID_NONE;
    uint16_t audio_pid = PID_NONE;
    uint16_t pcr_pid = PID_NONE;
    uint16_t spare_pid = PID_NONE; // never set from a stream; the header carries it as none
    uint32_t length_seconds = 0;
    int64_t pmt_end = 0; // file offset just after the packet that completed the PMT
};
