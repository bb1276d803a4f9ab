#pragma once
// The programme-information file N.epg: a 4-byte big-endian event count, then one
// record per event of 328 bytes (recorder software before 1.00.20) or 332 bytes.
#include <cstdint>

#include "common/byte_order.h"

struct FileMap;
struct Error;

constexpr unsigned EPG_COUNT_SIZE = 4;
constexpr unsigned EPG_RECORD_SHORT = 328;
constexpr unsigned EPG_RECORD_LONG = 332;
constexpr unsigned EPG_PROBE_SIZE = 340; // the first record and the start of the second
constexpr unsigned EVENT_START = 4;
constexpr unsigned EVENT_DURATION = 8;
constexpr unsigned EVENT_TITLE = 15;
constexpr unsigned EVENT_TITLE_LENGTH = 52;
constexpr unsigned EVENT_SYNOPSIS = 67;

inline uint32_t epg_be32(const uint8_t *bytes)
{
    return load_be32(bytes);
}

// Reads the probe that follows the count and stores in *size the record size at which the
// second event starts exactly where the first one ends, trying 328 first; 328 when that
// cannot be told (fewer than two events, a short file). False when the file could not be
// read (*error says why).
bool epg_detect_record_size(FileMap *file, uint32_t event_count, unsigned *size, Error *error);
