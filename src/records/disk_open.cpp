#include "records/disk_open.h"

#include "records/record_list.h"

bool disk_open(const DiskSource &source, const DiskOpenOptions &options, HumaxDisk **disk,
               Error *error)
{
    if (!disk_open_volume(source, options, disk, error))
        return false;
    HumaxDisk *opened = *disk;
    opened->records = RecordList{};
    if (options.list == RecordListLoad::Skip)
        return true;
    Error list_error;
    if (reclist_load(opened, options.ask_short_entries, &list_error))
        return true;
    if (options.list == RecordListLoad::Optional && list_error.kind != ErrorKind::Format) {
        opened->list_error = list_error;
        return true;
    }
    *error = list_error;
    disk_close(opened);
    *disk = nullptr;
    return false;
}
