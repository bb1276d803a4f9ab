#include "diskwarden/domain_map.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/error.h"
#include "common/fatal.h"
#include "common/record_entry.h"
#include "diskwarden/recset.h"
#include "diskwarden/rescue.h"
#include "disk/directory.h"
#include "disk/file_map.h"
#include "platform/host_file.h"
#include "records/disk_open.h"

namespace {

using Areas = std::vector<std::pair<uint64_t, uint64_t>>; // [begin, end) in bytes

void add_sectors(Areas *areas, uint64_t first, uint64_t count)
{
    if (count > 0)
        areas->emplace_back(first * SECTOR_SIZE, (first + count) * SECTOR_SIZE);
}

// Every cluster the file's chain holds for its size.
void add_file(HumaxDisk *disk, int index, const DirEntry *entry, Areas *areas)
{
    FileMapOptions options;
    options.extent = FileExtent::Stored;
    FileMap map;
    dfile_map(disk, index, entry, options, &map);
    for (const ClusterRun &run : map.runs) {
        uint64_t begin = map.data_position + uint64_t{run.first} * map.cluster_length;
        areas->emplace_back(begin, begin + uint64_t{run.count} * map.cluster_length);
    }
}

bool has_extension(const DirEntry *entry, const char *extension)
{
    char name[DIR_NAME_LENGTH + 1];
    dirent_copy_name(entry, name);
    size_t length = strlen(name), wanted = strlen(extension);
    return length > wanted && strcmp(name + length - wanted, extension) == 0;
}

void add_structures(HumaxDisk *disk, Areas *areas)
{
    add_sectors(areas, 0, 1);
    for (int i = 0; i < disk->partition_count; ++i) {
        const PartitionInfo *p = &disk->partitions[i];
        const PartitionRead &found = disk->volume.partitions[i];
        add_sectors(areas, p->start_sector, 1);
        if (found.descriptor_errno != 0 || found.unsupported)
            continue;
        add_sectors(areas, p->utab_sector, p->utab_sectors);
        add_sectors(areas, p->fat_sector, p->fat_sectors);
        add_sectors(areas, p->dir_sector, p->dir_sectors);
        if (!found.loaded)
            continue;
        for (const DirEntry *e = p->dir_head; e != nullptr; e = e->next)
            if (i != PARTITION_AV || has_extension(e, ".elu"))
                add_file(disk, i, e, areas);
    }
}

void add_recordings(HumaxDisk *disk, const std::string &list, Areas *areas)
{
    RecordingSet set;
    recset_parse(list.c_str(), &set);
    for (int32_t number : set.values) {
        RecordEntry *entry = reclist_find(&disk->records, number, 0);
        if (entry == nullptr) {
            fprintf(stderr, "Recording %d does not exist\n", number);
            continue;
        }
        char name[32];
        snprintf(name, sizeof name, "%d.av", entry_be16(entry, ENTRY_FILE_NUMBER));
        const DirEntry *file = dir_find(&disk->partitions[PARTITION_AV], name);
        if (file != nullptr && disk->volume.partitions[PARTITION_AV].loaded)
            add_file(disk, PARTITION_AV, file, areas);
    }
    recset_free(&set);
}

// Sorted, overlapping and touching areas joined.
Areas joined(Areas areas)
{
    std::sort(areas.begin(), areas.end());
    Areas out;
    for (const auto &area : areas) {
        if (!out.empty() && area.first <= out.back().second)
            out.back().second = std::max(out.back().second, area.second);
        else
            out.push_back(area);
    }
    return out;
}

std::string map_text(const Areas &areas, uint64_t disk_bytes)
{
    std::vector<ByteArea> marked;
    marked.reserve(areas.size());
    for (const auto &area : areas)
        marked.push_back({area.first, area.second});
    return rescue_mapfile_text({"Domain mapfile by diskwarden: '+' the areas to rescue first", '+', '?', disk_bytes},
                               marked);
}

} // namespace

int cmd_domain_map(const CommandRequest &request, const DiskOpenOptions &access)
{
    if (request.source_path.empty())
        fatal("Humax disk not found\n");
    DiskOpenOptions options = access;
    options.validation = Validation::None;
    options.list = request.get_list ? RecordListLoad::Optional : RecordListLoad::Skip;
    HumaxDisk *disk = nullptr;
    Error error;
    if (!disk_open({request.source_path}, options, &disk, &error))
        error_end(error);
    Areas areas;
    add_structures(disk, &areas);
    if (request.get_list)
        add_recordings(disk, *request.get_list, &areas);
    areas = joined(std::move(areas));
    uint64_t disk_bytes = disk->volume.disk_bytes;
    if (disk_bytes != UINT64_MAX && !areas.empty() && areas.back().second > disk_bytes)
        disk_bytes = areas.back().second; // a partial image: the drive is larger
    std::string text = map_text(areas, disk_bytes);
    disk_close(disk);
    HostOutput out;
    const char *path = request.domain_map.c_str();
    if (!host_output_begin(&out, path) || !host_output_write(&out, text.data(), text.size()) ||
        !host_output_commit(&out)) {
        host_output_abandon(&out);
        fatal_errno(path);
    }
    return 0;
}
