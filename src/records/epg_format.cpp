#include "records/epg_format.h"

#include "disk/file_map.h"

bool epg_detect_record_size(FileMap *file, uint32_t event_count, unsigned *size, Error *error)
{
    uint8_t probe[EPG_PROBE_SIZE];
    size_t got = 0;
    if (!dfile_map_read(file, EPG_COUNT_SIZE, probe, sizeof probe, &got, error))
        return false;
    *size = EPG_RECORD_SHORT;
    if (event_count <= 1 || got < sizeof probe)
        return true;
    uint32_t first_end = epg_be32(probe + EVENT_START) + epg_be32(probe + EVENT_DURATION);
    if (epg_be32(probe + EPG_RECORD_SHORT + EVENT_START) == first_end)
        *size = EPG_RECORD_SHORT;
    else if (epg_be32(probe + EPG_RECORD_LONG + EVENT_START) == first_end)
        *size = EPG_RECORD_LONG;
    return true;
}
