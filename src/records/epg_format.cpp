#include "records/epg_format.h"

#include "disk/disk_file.h"

unsigned epg_detect_record_size(DiskFile *file, uint32_t event_count)
{
    uint8_t probe[EPG_PROBE_SIZE];
    size_t got = dfile_read_into(file, probe, sizeof probe);
    if (event_count <= 1 || got < sizeof probe)
        return EPG_RECORD_SHORT;
    uint32_t first_end = epg_be32(probe + EVENT_START) + epg_be32(probe + EVENT_DURATION);
    if (epg_be32(probe + EPG_RECORD_SHORT + EVENT_START) == first_end)
        return EPG_RECORD_SHORT;
    if (epg_be32(probe + EPG_RECORD_LONG + EVENT_START) == first_end)
        return EPG_RECORD_LONG;
    return EPG_RECORD_SHORT;
}
