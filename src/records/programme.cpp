#include "records/programme.h"

#include <cstring>

#include "disk/file_map.h"
#include "records/dvb_text.h"
#include "records/epg_format.h"

bool programme_synopsis(HumaxDisk *disk, const char *epg_name, std::string *utf8, Error *error)
{
    utf8->clear();
    FileMap file;
    if (!dfile_map_name(disk, PARTITION_EPG, epg_name, FileMapOptions{}, &file))
        return true;
    uint8_t count_bytes[EPG_COUNT_SIZE];
    size_t got = 0;
    if (!dfile_map_read(&file, 0, count_bytes, sizeof count_bytes, &got, error))
        return false;
    if (got < sizeof count_bytes)
        return true;
    uint32_t count = epg_be32(count_bytes);
    unsigned record_size;
    if (!epg_detect_record_size(&file, count, &record_size, error))
        return false;
    uint8_t record[EPG_RECORD_LONG];
    uint32_t longest = 0;
    uint32_t seen = 0;
    for (uint64_t offset = EPG_COUNT_SIZE; offset < file.size && seen < count; offset += record_size, ++seen) {
        if (!dfile_map_read(&file, offset, record, record_size, &got, error))
            return false;
        if (got < record_size)
            break;
        uint32_t duration = epg_be32(record + EVENT_DURATION);
        if (duration <= longest)
            continue;
        longest = duration;
        if (!dvb_text_utf8(record + EVENT_SYNOPSIS, record_size - EVENT_SYNOPSIS, utf8))
            utf8->clear();
    }
    return true;
}
