#include "diskwarden/copy.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "diskwarden/get.h"
#include "diskwarden/rescue.h"
#include "common/error.h"
#include "common/fatal.h"
#include "common/names.h"
#include "common/progress.h"
#include "common/prompt.h"
#include "common/record_entry.h"
#include "common/run_options.h"
#include "disk/directory.h"
#include "disk/disk_file.h"
#include "disk/fat.h"
#include "disk/file_map.h"
#include "disk/file_rescue.h"
#include "records/listing.h"
#include "records/record_list.h"

namespace {

constexpr size_t NAME_SIZE = DISK_NAME_SIZE;
constexpr size_t TRANSFER_TARGET = size_t{4} << 20;
constexpr unsigned FILES_PER_RECORDING = 3;

const char *const COPY_WARNING =
    "WARNING this may corrupt your Humax hard disk - do you wish to continue? [no]: ";

// The names of one recording's files on both disks.
struct RecordingFiles {
    int partition[FILES_PER_RECORDING];
    char source[FILES_PER_RECORDING][NAME_SIZE];
    char destination[FILES_PER_RECORDING][NAME_SIZE];
};

RecordingFiles recording_files(unsigned from, unsigned to)
{
    static const char *const extensions[FILES_PER_RECORDING] = {"av", "elu", "epg"};
    static const int partitions[FILES_PER_RECORDING] = {PARTITION_AV, PARTITION_AV, PARTITION_EPG};
    RecordingFiles files{};
    for (unsigned i = 0; i < FILES_PER_RECORDING; ++i) {
        files.partition[i] = partitions[i];
        format_bounded(files.source[i], NAME_SIZE, "%d.%s", static_cast<int>(from), extensions[i]);
        format_bounded(files.destination[i], NAME_SIZE, "%u.%s", to, extensions[i]);
    }
    return files;
}

// A transfer length that is a whole number of clusters of both disks when that stays
// reasonable, so that reads and writes both go straight between the disk and the buffer.
// Any length of at least one source cluster copies correctly; the destination buffers
// the pieces that do not fill its clusters.
size_t transfer_length(uint64_t source_cluster, uint64_t destination_cluster)
{
    uint64_t unit = std::lcm(source_cluster, destination_cluster);
    if (unit > TRANSFER_TARGET)
        unit = source_cluster;
    uint64_t whole = TRANSFER_TARGET / unit;
    return static_cast<size_t>(unit * (whole > 0 ? whole : 1));
}

// Writes zeros up to the file's size (used only when the source delivered less than it
// declared, so that no stale disk contents end up inside the copy).
void fill_rest_with_zeros(DiskFile *out, uint8_t *buffer, size_t capacity)
{
    memset(buffer, 0, capacity);
    while (out->remaining > 0) {
        size_t piece = out->remaining < capacity ? static_cast<size_t>(out->remaining) : capacity;
        Error error;
        if (!dfile_write_mutable(buffer, piece, out, &error))
            error_end(error);
    }
}

// Where a disk-to-disk copy's bytes go: the first pass in order through the new file;
// sectors read only when tried alone later are written in place, through the index of
// the new file's clusters (all allocated when it was created).
struct DiskSink {
    HumaxDisk *destination = nullptr;
    int index = 0;
    DiskFile *out = nullptr;
    uint64_t in_order = 0;
    FileMap placed;
    bool mapped = false;
};

// The piece that completes the file is handed over with the rest of its last 4-byte
// group, which holds logical bytes of the stored word beyond the size.
bool disk_sink_write(void *context, uint64_t offset, const void *data, size_t length)
{
    auto *sink = static_cast<DiskSink *>(context);
    auto *bytes = static_cast<uint8_t *>(const_cast<void *>(data));
    if (offset == sink->in_order) {
        size_t piece = length;
        if (length >= sink->out->remaining)
            piece = (length + 3) & ~size_t{3};
        Error error;
        if (!dfile_write_mutable(bytes, piece, sink->out, &error))
            error_end(error);
        sink->in_order += length;
        return true;
    }
    if (!sink->mapped) {
        FileMapOptions options;
        options.swap = Swap::No;
        options.extent = FileExtent::Stored;
        dfile_map(sink->destination, sink->index, sink->out->entry, options, &sink->placed);
        sink->mapped = true;
    }
    Error error;
    if (!dfile_map_write(&sink->placed, offset, bytes, (length + 3) & ~size_t{3}, &error))
        error_end(error);
    return true;
}

// Moves the stored bytes of `in` to `out` (same size, neither swapping); unreadable
// sectors become zeros, said in the run's summary.
void copy_contents(FileMap *in, HumaxDisk *destination, int index, DiskFile *out)
{
    size_t capacity = transfer_length(in->cluster_length, out->length);
    uint8_t *buffer = static_cast<uint8_t *>(malloc(capacity));
    if (buffer == nullptr)
        fatal_errno("malloc");
    uint64_t size = out->remaining;
    Progress progress;
    progress_start_named(&progress, "copy", in->name, size, in->cluster_length);
    DiskSink sink;
    sink.destination = destination;
    sink.index = index;
    sink.out = out;
    RescueOptions options;
    options.retries = run_options.retries;
    options.progress = &progress;
    std::vector<ByteArea> holes;
    dfile_rescue(in, {{0, in->size}}, buffer, capacity, {&sink, disk_sink_write}, options, &holes);
    progress_finish(&progress);
    if (out->remaining > 0)
        fill_rest_with_zeros(out, buffer, capacity);
    free(buffer);
    if (!holes.empty()) {
        FileMap natural = *in;
        natural.swap = Swap::Yes;
        rescue_note_disk_copy(in->name + " (copied as " + out->name + ")", holes,
                              [natural](uint64_t offset, uint8_t *data, size_t length) mutable -> size_t {
                                  size_t got = 0;
                                  Error error;
                                  dfile_map_read(&natural, offset, data, length, &got, &error);
                                  return got;
                              });
    }
}

// Refuses the copy before anything is written when a destination name is taken or the
// destination cannot take the files (space or directory slots). The same checks happen
// again while copying; making them first keeps a refused copy from leaving part of a
// recording behind.
void check_destination(HumaxDisk *source, HumaxDisk *destination, const RecordingFiles &files)
{
    uint64_t clusters[PARTITION_COUNT] = {};
    unsigned entries[PARTITION_COUNT] = {};
    for (unsigned i = 0; i < FILES_PER_RECORDING; ++i) {
        int part = files.partition[i];
        const DirEntry *entry = dir_find(&source->partitions[part], files.source[i]);
        if (entry == nullptr)
            continue;
        if (dfile_exists(destination, part, files.destination[i]))
            fatal("File \"%s\" already exists ...aborting\n", files.destination[i]);
        uint64_t size = dirent_size(entry);
        uint64_t allocated = uint64_t{dirent_get(entry, DIRENT_ALLOCATED_SECTORS)} * SECTOR_SIZE;
        clusters[part] += fat_clusters_needed(&destination->partitions[part],
                                              size < allocated ? size : allocated);
        ++entries[part];
    }
    for (int part = 0; part < PARTITION_COUNT; ++part) {
        if (entries[part] == 0)
            continue;
        PartitionInfo *p = &destination->partitions[part];
        if (fat_free_count(p) < clusters[part])
            fatal("Insufficient space\n");
        uint64_t used = 0;
        for (const DirEntry *e = p->dir_head; e != nullptr; e = e->next)
            ++used;
        if (used + entries[part] > uint64_t{p->dir_sectors} * SECTOR_SIZE / DIR_ENTRY_SIZE)
            fatal("No free directory entries available, aborting...\n");
    }
}

} // namespace

int cmd_copy_file(HumaxDisk *source, int index, const char *source_name,
                  HumaxDisk *destination, const char *destination_name)
{
    FileMapOptions options;
    options.swap = Swap::No;
    options.report = true;
    FileMap in;
    if (!dfile_map_name(source, index, source_name, options, &in)) {
        fprintf(stderr, "File %s does not exist\n", source_name);
        return 1;
    }
    if (destination_name == nullptr)
        fatal("Output file not defined... aborting\n");
    if (dfile_exists(destination, index, destination_name))
        fatal("File \"%s\" already exists ...aborting\n", destination_name);
    const char *dot = strchr(source_name, '.');
    fprintf(stderr, "Copying %s file...\n", dot != nullptr ? dot + 1 : "");
    uint32_t attributes = dirent_get(dir_find(&source->partitions[index], source_name), DIRENT_ATTRIBUTES);
    Error error;
    DiskFile *out = dfile_create(destination, index, destination_name, in.size, attributes, Swap::No, &error);
    if (out == nullptr)
        error_end(error);
    copy_contents(&in, destination, index, out);
    dfile_close(out);
    if (!disk_write_tables(destination, index, &error))
        error_end(error);
    return 0;
}

int cmd_copy_recording(HumaxDisk *source, HumaxDisk *destination, int number)
{
    if (source->records.record_length != destination->records.record_length)
        fatal("Error - incompatible disk formats\n");
    char host_name[HOST_NAME_SIZE];
    RecordEntry *entry = reclist_walk_to(source, number, host_name);
    if (entry == nullptr) {
        fprintf(stderr, "Recording %d does not exist\n", number);
        return 0;
    }
    if (run_options.ask)
        prompt_or_end(COPY_WARNING, 1);
    unsigned to = dir_unused_number(&destination->partitions[PARTITION_AV], ".av");
    if (to == 0)
        fatal("No free recording number on the destination disk (2 to 2047 are all in use), "
              "aborting...\n");
    RecordingFiles files = recording_files(entry_be16(entry, ENTRY_FILE_NUMBER), to);
    rescue_set_recording(number, std::string(host_name, strlen(host_name) - strlen(".ts")));
    check_destination(source, destination, files);
    if (cmd_copy_file(source, files.partition[0], files.source[0], destination,
                      files.destination[0]) == 1) {
        // "File %s does not exist" has been said; a backup goes on with the next one.
        if (!run_options.backup)
            fatal_exit(1);
        return GET_STREAM_MISSING;
    }
    for (unsigned i = 1; i < FILES_PER_RECORDING; ++i)
        cmd_copy_file(source, files.partition[i], files.source[i], destination,
                      files.destination[i]);
    RecordEntry *copy = entry_copy_to_list(entry, destination);
    entry_set_file_number(copy, to);
    Error error;
    if (!reclist_save(destination, &error))
        error_end(error);
    return 1;
}
