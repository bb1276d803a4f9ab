#include "wardenfs/mount_open.h"

#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "common/fatal.h"
#include "platform/raw_drive.h"
#include "records/disk_records.h"
#include "records/record_list.h"

namespace {

// Says what was wrong with the record list and what the mount shows instead.
void report_list(const HumaxDisk *disk, ListLoad found)
{
    switch (found) {
    case ListLoad::Loaded: return;
    case ListLoad::Empty: warn("Record list is empty\n"); return;
    case ListLoad::UnknownLength: warn("Error: unknown record length\n"); break;
    case ListLoad::Invalid: warn("Invalid record list\n"); break;
    case ListLoad::ReadError: warn("%s: %s\n", RECORD_LIST_NAME, strerror(disk->read_errno)); break;
    }
    warn("The record list cannot be used: mounting with recovery/ and partitions/ only\n");
}

int64_t modification_time(const char *path)
{
    struct stat status;
    return stat(path, &status) == 0 ? static_cast<int64_t>(status.st_mtime) : 0;
}

} // namespace

Wfs *mount_open(const char *argument)
{
    char drive[PATH_MAX];
    const char *path = platform_raw_drive_path(argument, drive, sizeof drive) ? drive : argument;
    HumaxDisk *disk = disk_create();
    disk_open_stream(disk, path, "rb");
    disk_lock_or_refuse(disk);
    ListLoad found = disk_load_tolerant(disk);
    report_list(disk, found);
    return mount_create(disk, modification_time(path));
}

Wfs *mount_create(HumaxDisk *disk, int64_t disk_time)
{
    auto *wfs = new Wfs;
    wfs->disk = disk;
    wfs->uid = getuid();
    wfs->gid = getgid();
    disk->read_errors = ReadErrors::Note;
    disk->read_errno = 0;
    mount_build_tree(disk, disk_time, &wfs->tree);
    return wfs;
}

void mount_close(Wfs *wfs)
{
    if (wfs == nullptr)
        return;
    disk_close(wfs->disk);
    delete wfs;
}
