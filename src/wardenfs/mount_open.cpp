#include "wardenfs/mount_open.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
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

std::string held_messages;

// diskwarden's advice to use its recovery mode (-r -n) is no option of the mount, which
// uses that mode itself: the sentence is left out of a message shown to its user.
void without_diskwarden_advice(Error *error)
{
    const char *advice = " Recovery mode without information (-r -n)";
    size_t at = error->text.find(advice);
    if (at != std::string::npos)
        error->text.erase(at, error->text.find('\n', at) - at);
}

void hold_message(const char *text)
{
    held_messages += text;
}

} // namespace

void mount_report_list(const HumaxDisk *disk)
{
    if (!error_is_set(disk->list_error))
        return;
    error_warn(disk->list_error);
    warn("The record list cannot be used: mounting with recovery/ and partitions/ only\n");
}

DiskOpenOptions mount_open_options(const DiskOpenOptions &access, MountScope scope)
{
    DiskOpenOptions options = access;
    options.writable = false;
    options.lock = true;
    options.validation = Validation::Strict;
    if (scope == MountScope::FirstPartition) {
        options.policy.recovery = true;
        options.policy.no_info = true;
        options.list = RecordListLoad::Skip;
        return options;
    }
    // Nothing is asked: a disk whose record length only a question could tell is mounted
    // without its list.
    options.list = RecordListLoad::Optional;
    return options;
}

bool mount_open(const char *argument, const DiskOpenOptions &access, MountScope scope, Wfs **wfs,
                Error *error)
{
    char drive[PATH_MAX];
    const char *path = platform_raw_drive_path(argument, drive, sizeof drive) ? drive : argument;
    HumaxDisk *disk = nullptr;
    if (scope == MountScope::Whole && !disk_open({path}, mount_open_options(access), &disk, error)) {
        if (error->kind != ErrorKind::Volume && error->kind != ErrorKind::Truncated &&
            error->kind != ErrorKind::Format)
            return false;
        // What recovery without information reads may still be read: the recordings.
        // Its messages are held until it is known whether it could.
        Error whole = *error;
        without_diskwarden_advice(&whole);
        *error = Error{};
        held_messages.clear();
        message_set_sink(hold_message);
        bool opened = disk_open({path}, mount_open_options(access, MountScope::FirstPartition), &disk, error);
        message_set_sink(nullptr);
        if (!opened) {
            *error = whole;
            return false;
        }
        error_warn(whole);
        message_write(held_messages.c_str());
        warn("The disk cannot be read whole: mounting recovery/ and partitions/AV from its "
             "recordings partition alone\n");
    } else if (scope == MountScope::FirstPartition &&
               !disk_open({path}, mount_open_options(access, scope), &disk, error)) {
        return false;
    }
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
    // The attributes likewise: what the .epg gives them is read once.
    wfs->attributes.resize(1);
    for (MountNode &node : wfs->tree.nodes) {
        if (node.kind != NodeKind::Info)
            continue;
        wfs_render(wfs, &node);
        if (node.recording == 0)
            continue;
        MountAttributes attributes;
        Error ignored; // said by the rendering of the same .epg
        mount_recording_attributes(disk, node.recording, &attributes, &ignored);
        wfs->attributes.resize(std::max<size_t>(wfs->attributes.size(), static_cast<size_t>(node.recording) + 1));
        wfs->attributes[static_cast<size_t>(node.recording)] = std::move(attributes);
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
