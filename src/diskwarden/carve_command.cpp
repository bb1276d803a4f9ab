#include "diskwarden/carve_command.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "carve/carve.h"
#include "carve/carve_copy.h"
#include "common/error.h"
#include "common/fatal.h"
#include "common/names.h"
#include "common/progress.h"
#include "common/prompt.h"
#include "common/run_options.h"
#include "common/shown_text.h"
#include "diskwarden/recset.h"
#include "platform/host_file.h"
#include "records/disk_open.h"

namespace {

constexpr const char *FOUND_PATTERN = "found_%04d.ts";
constexpr size_t FOUND_NAME_SIZE = 32;

bool other_commands(const CommandRequest &r)
{
    return !r.put_name.empty() || r.header_list || r.info_list || r.unprotect_list ||
           r.delete_list || r.update || r.swap_lists || r.delete_buffers || r.delete_epg_save || r.wait ||
           r.modify_number != -1 || r.modify_offset != -1 || r.modify_value != 0 ||
           run_options.backup || run_options.recovery || run_options.no_info ||
           !r.dest_path.empty() || !r.bad_map.empty();
}

// The one place the carver opens a disk: for reading only, with a shared lock, a block
// device with direct I/O (a failing drive then loses a sector where the page cache would
// lose a whole read-ahead window), no record list, and the volume read without judging
// it: a disk whose tables are gone must still give its geometry, and carve_volume_make
// says what stops the scan.
HumaxDisk *open_for_carving(const std::string &path, const DiskOpenOptions &access)
{
    DiskOpenOptions options = access;
    options.writable = false;
    options.lock = true;
    options.validation = Validation::None;
    options.list = RecordListLoad::Skip;
    DiskIdentity identity;
    bool block_device = platform_path_identity(path.c_str(), &identity) && identity.block_device;
    options.direct = access.direct || block_device;
    HumaxDisk *disk = nullptr;
    Error error;
    if (disk_open({path}, options, &disk, &error))
        return disk;
    // A device that refuses direct I/O is still read through the host's cache.
    if (error.kind == ErrorKind::Open && options.direct && !access.direct) {
        options.direct = false;
        if (disk_open({path}, options, &disk, &error))
            return disk;
    }
    error_end(error);
}

void report_problem(const HumaxDisk *disk, CarveVolumeProblem problem)
{
    switch (problem) {
    case CarveVolumeProblem::None:
        return;
    case CarveVolumeProblem::NoPartitionTable:
        if (disk->volume.table_errno != 0) {
            errno = disk->volume.table_errno;
            fatal_errno("Partition table");
        }
        fatal("Unknown partition table\n");
    case CarveVolumeProblem::NoAvPartition:
        if (disk->volume.partitions[PARTITION_AV].descriptor_errno != 0) {
            errno = disk->volume.partitions[PARTITION_AV].descriptor_errno;
            fatal_errno("Partition 0");
        }
        fatal("AV partition: its descriptor gives no clusters to scan\n");
    case CarveVolumeProblem::AvTablesUnread:
        fatal("AV partition: the allocation table or directory cannot be read; "
              "--carve-all scans every cluster without them\n");
    }
}

void warn_unreadable(const char *partition, const CarveReadStats &reads)
{
    if (reads.unreadable == 0)
        return;
    warn("Warning: %" PRIu64 " clusters of the %s partition could not be read (%s); "
         "found streams end at them\n",
         reads.unreadable, partition, strerror(reads.first_error));
}

void find_streams(HumaxDisk *disk, const CarveVolume &volume, CarveResult *result)
{
    if (volume.epg_skipped)
        warn("EPG partition: the allocation table or directory cannot be read; deleted "
             "programme information is not searched\n");
    Progress progress;
    progress_start_named(&progress, "carve", disk->path, carve_scan_bytes(volume), volume.av.cluster_length);
    carve_find(disk, volume, result, [&](uint64_t done) { progress_update(&progress, done); });
    progress_finish(&progress);
    warn_unreadable("AV", result->av_reads);
    warn_unreadable("EPG", result->epg_reads);
}

void list_streams(const CarveResult &result)
{
    uint64_t bytes = 0;
    for (size_t i = 0; i < result.streams.size(); ++i) {
        printf("%s\n", carve_stream_line(result.streams[i], static_cast<unsigned>(i + 1)).c_str());
        bytes += result.streams[i].size;
    }
    fflush(stdout);
    for (const CarveStream &copy : result.copies)
        fprintf(stderr, "Not listed: %" PRIu64 " bytes from cluster %u, a copy of %s\n", copy.size,
                copy.first_cluster, text_shown(copy.related.c_str()).c_str());
    printf("%zu found stream%s, %" PRIu64 " bytes\n", result.streams.size(),
           result.streams.size() == 1 ? "" : "s", bytes);
}

// Asks before an existing host file is replaced, as getting a recording does.
void may_replace(const char *host_name)
{
    if (!host_exists(host_name))
        return;
    std::string question = std::string("File \"") + host_name + "\" already exists, overwrite? [no]: ";
    prompt_or_end(question.c_str(), 1, "");
}

void copy_stream(HumaxDisk *disk, const CarveVolume &volume, const CarveResult &result, int number)
{
    const CarveStream &found = result.streams[static_cast<size_t>(number - 1)];
    printf("%s\n", carve_stream_line(found, static_cast<unsigned>(number)).c_str());
    fflush(stdout);
    char host_name[FOUND_NAME_SIZE];
    format_bounded(host_name, sizeof host_name, FOUND_PATTERN, number);
    may_replace(host_name);
    fprintf(stderr, "Copying %s...\n", host_name);
    Progress progress;
    progress_start_named(&progress, "get", host_name, found.size, volume.av.cluster_length);
    CarveCopyFailure failure = carve_copy_stream(&disk->stream, volume.av, result, found, host_name,
                                                 [&](uint64_t done) { progress_update(&progress, done); });
    progress_finish(&progress);
    if (failure == CarveCopyFailure::DiskRead)
        fatal_errno(disk->path.c_str());
    if (failure == CarveCopyFailure::HostWrite)
        fatal_errno(host_name);
}

void copy_streams(HumaxDisk *disk, const CarveVolume &volume, const CarveResult &result,
                  const std::string &list)
{
    RecordingSet set;
    recset_parse(list.c_str(), &set);
    for (int32_t number : set.values) {
        if (number < 1 || static_cast<size_t>(number) > result.streams.size())
            fatal("Found stream %d does not exist\n", number);
        copy_stream(disk, volume, result, number);
    }
    recset_free(&set);
}

} // namespace

int cmd_carve(const CommandRequest &request, const DiskOpenOptions &access)
{
    if (other_commands(request))
        fatal("--carve and --carve-all work with -l, -g and -y only\n");
    if (request.source_path.empty())
        fatal("Humax disk not found\n");
    HumaxDisk *disk = open_for_carving(request.source_path, access);
    CarveScope scope = request.carve == CarveRequest::All ? CarveScope::All : CarveScope::Free;
    CarveVolume volume;
    report_problem(disk, carve_volume_make(disk, scope, &volume));
    CarveResult result;
    find_streams(disk, volume, &result);
    if (request.list || !request.get_list)
        list_streams(result);
    if (request.get_list)
        copy_streams(disk, volume, result, *request.get_list);
    disk_close(disk);
    return 0;
}
