#include "wardenfs/mount_open.h"

#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "common/error.h"
#include "common/fatal.h"
#include "disk/fat.h"
#include "platform/raw_drive.h"
#include "records/disk_open.h"

namespace {

int64_t modification_time(const char *path)
{
    struct stat status;
    return stat(path, &status) == 0 ? static_cast<int64_t>(status.st_mtime) : 0;
}

} // namespace

void mount_report_list(const HumaxDisk *disk)
{
    if (!error_is_set(disk->list_error))
        return;
    error_warn(disk->list_error);
    warn("The record list cannot be used: mounting with recovery/ and partitions/ only\n");
}

DiskOpenOptions mount_open_options(const DiskOpenOptions &access)
{
    DiskOpenOptions options = access;
    options.writable = false;
    options.lock = true;
    options.validation = Validation::Strict;
    // Nothing is asked: a disk whose record length only a question could tell is mounted
    // without its list.
    options.list = RecordListLoad::Optional;
    return options;
}

bool mount_open(const char *argument, const DiskOpenOptions &access, Wfs **wfs, Error *error)
{
    char drive[PATH_MAX];
    const char *path = platform_raw_drive_path(argument, drive, sizeof drive) ? drive : argument;
    HumaxDisk *disk = nullptr;
    if (!disk_open({path}, mount_open_options(access), &disk, error))
        return false;
    mount_report_list(disk);
    *wfs = mount_create(disk, modification_time(path));
    return true;
}

Wfs *mount_create(HumaxDisk *disk, int64_t disk_time)
{
    auto *wfs = new Wfs;
    wfs->disk = disk;
    wfs->uid = getuid();
    wfs->gid = getgid();
    mount_build_tree(disk, disk_time, &wfs->tree);
    wfs->free_bytes = disk_free_space(disk, PARTITION_AV);
    // Every text now, so that listing and reading them never waits for the disk.
    for (MountNode &node : wfs->tree.nodes) {
        if (node.kind == NodeKind::Info)
            wfs_render(wfs, &node);
    }
    return wfs;
}

void mount_close(Wfs *wfs)
{
    if (wfs == nullptr)
        return;
    disk_close(wfs->disk);
    delete wfs;
}
