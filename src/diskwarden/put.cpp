#include "diskwarden/put.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/aligned_buffer.h"
#include "common/error.h"
#include "common/fatal.h"
#include "common/names.h"
#include "common/progress.h"
#include "common/record_entry.h"
#include "disk/disk_file.h"
#include "platform/dir_search.h"
#include "platform/host_file.h"
#include "records/record_list.h"

namespace {

constexpr uint32_t STREAM_ATTRIBUTES = 0x1002;
constexpr uint32_t COMPANION_ATTRIBUTES = 0x1000;
constexpr size_t EXTENSION_FIELD = 5; // written by name_set_extension, terminators included
// Host data moves in pieces of about this size (whole clusters), so that the disk side
// writes long runs of contiguous clusters straight from the transfer buffer.
constexpr uint64_t TRANSFER_BYTES = uint64_t{4} << 20;
constexpr size_t BUFFER_ALIGNMENT = 4096;

// Host names are looked up relative to a directory handle: the searched directory for -p,
// HOST_CWD for names given directly.
bool host_status(int directory, const char *name, HostStatus *status)
{
    if (host_status_at(directory, name, status))
        return true;
    perror(name);
    return false;
}

// Pipes and devices have no size to allocate for, and could block the run.
void require_regular_file(const char *name, const HostStatus &status)
{
    if (!status.regular)
        fatal("%s: not a regular file\n", name);
}

int host_open(int directory, const char *name)
{
    int fd = host_open_read_at(directory, name);
    if (fd < 0)
        fatal_errno(name);
    return fd;
}

// Reads until `length` bytes are in or the file ends. Returns the bytes read.
size_t read_fully(int fd, uint8_t *buffer, size_t length, const char *name)
{
    size_t got = 0;
    if (!host_read_fully(fd, buffer, length, &got))
        fatal_errno(name);
    return got;
}

[[noreturn]] void changed_while_copying(const char *name)
{
    fatal("File '%s' changed size while it was copied ...aborting\n", name);
}

// Copies exactly `size` bytes of the host file to the created disk file. A host file
// that ends early or still has bytes after them stops the run before any table is
// written, so no disk file claims bytes that were never copied.
void copy_contents(int fd, const char *name, DiskFile *file, uint64_t size)
{
    uint64_t cluster = file->length;
    uint64_t capacity = TRANSFER_BYTES / cluster * cluster;
    uint64_t whole_file = (size + cluster - 1) / cluster * cluster;
    if (capacity < cluster)
        capacity = cluster;
    if (capacity > whole_file)
        capacity = whole_file;
    // Aligned, so that whole clusters go to an aligned disk stream without a bounce copy.
    AlignedBuffer buffer;
    if (capacity > 0)
        aligned_buffer_make(&buffer, static_cast<size_t>(capacity), BUFFER_ALIGNMENT);
    Progress progress;
    progress_start_named(&progress, "put", name, size, cluster);
    Error error;
    for (uint64_t left = size; left > 0;) {
        size_t want = static_cast<size_t>(left < capacity ? left : capacity);
        size_t got = read_fully(fd, buffer.data, want, name);
        if (got < want)
            changed_while_copying(name);
        if (!dfile_write_mutable(buffer.data, got, file, &error))
            error_end(error);
        left -= got;
        progress_update(&progress, size - left);
    }
    progress_finish(&progress);
    aligned_buffer_free(&buffer);
    uint8_t probe;
    if (read_fully(fd, &probe, 1, name) != 0)
        changed_while_copying(name);
}

// Copies one host file to a new disk file without committing the partition's tables.
// Returns 1 when the host file does not exist (after its error text), 0 when copied.
int put_file_at(HumaxDisk *disk, int directory, int index, const char *host_name,
                const char *disk_name, uint32_t attributes)
{
    HostStatus status;
    if (!host_status(directory, host_name, &status))
        return 1;
    require_regular_file(host_name, status);
    int fd = host_open(directory, host_name);
    if (dfile_exists(disk, index, disk_name))
        fatal("File \"%s\" already exists ...aborting\n", disk_name);
    fprintf(stderr, "Copying file '%s'...\n", host_name);
    uint64_t size = status.size;
    Error error;
    DiskFile *file = dfile_create(disk, index, disk_name, size, attributes, Swap::Yes, &error);
    if (file == nullptr)
        error_end(error);
    copy_contents(fd, host_name, file, size);
    dfile_close(file);
    host_close(fd);
    return 0;
}

// The base name's extension must be ".ts": any other member of a recording's set would
// put the same recording once more, and a pattern such as "*" would put it four times.
void require_stream_name(const char *name)
{
    const char *base = strrchr(name, '/');
    base = base != nullptr ? base + 1 : name;
    const char *dot = strrchr(base, '.');
    if (dot == nullptr || strcmp(dot, ".ts") != 0)
        fatal("Invalid file type\n");
}

// Reads the recording header, which must be exactly one entry of this disk's length.
// Returns false (after the error text) when there is no header file.
bool read_header(int directory, const char *name, unsigned record_length, uint8_t *header)
{
    HostStatus status;
    if (!host_status(directory, name, &status))
        return false;
    if (!status.regular || status.size != record_length)
        fatal("Incompatible hre file\n");
    int fd = host_open(directory, name);
    uint8_t probe;
    if (read_fully(fd, header, record_length, name) != record_length ||
        read_fully(fd, &probe, 1, name) != 0)
        fatal("Incompatible hre file\n");
    host_close(fd);
    return true;
}

unsigned choose_file_number(HumaxDisk *disk)
{
    unsigned number = dir_unused_number(&disk->partitions[PARTITION_AV], ".av");
    // 0 and 1 name the recorder's time-shift buffers.
    if (number == 0)
        fatal("No free file number: 2.av to 2047.av all exist ...aborting\n");
    return number;
}

void refuse_taken_name(HumaxDisk *disk, int index, const char *disk_name)
{
    if (dfile_exists(disk, index, disk_name))
        fatal("Error: file %s already exists\n", disk_name);
}

bool host_has(int directory, const char *name)
{
    HostStatus status;
    return host_status_at(directory, name, &status);
}

// Refuses the recording before its stream is copied when a directory it adds to has no
// room: the stream and its companion in the AV directory, the programme information and
// (until a backup exists to be replaced) the saved record list in the EPG directory.
// `work` holds the host name; its extension is changed here.
void require_directory_room(HumaxDisk *disk, int directory, char *work)
{
    unsigned av = 1, epg = dfile_exists(disk, PARTITION_EPG, RECORD_BACKUP_NAME) ? 0 : 1;
    name_set_extension(".elu", nullptr, nullptr, 0);
    av += host_has(directory, work) ? 1 : 0;
    name_set_extension(".epg", nullptr, nullptr, 0);
    epg += host_has(directory, work) ? 1 : 0;
    if (dir_free_slots(&disk->partitions[PARTITION_AV]) < av ||
        dir_free_slots(&disk->partitions[PARTITION_EPG]) < epg)
        fatal("No free directory entries available, aborting...\n");
}

// Puts one recording. Its files are committed together, after the last one is copied,
// and then the record list: a run that stops half-way leaves the disk as it was.
void put_recording_at(HumaxDisk *disk, int directory, const char *host_name)
{
    require_stream_name(host_name);
    size_t capacity = strlen(host_name) + EXTENSION_FIELD + 1;
    char *work = static_cast<char *>(malloc(capacity));
    if (work == nullptr)
        fatal_errno("malloc");
    memcpy(work, host_name, strlen(host_name) + 1);

    unsigned record_length = disk->records.record_length;
    uint8_t header[RECORD_BUFFER_SIZE] = {};
    name_set_extension(".hre", ".ts", work, capacity);
    if (!read_header(directory, work, record_length, header)) {
        name_forget_extension();
        free(work);
        return;
    }
    unsigned number = choose_file_number(disk);
    char av_name[DISK_NAME_SIZE], elu_name[DISK_NAME_SIZE], epg_name[DISK_NAME_SIZE];
    format_bounded(av_name, sizeof av_name, "%u.av", number);
    format_bounded(elu_name, sizeof elu_name, "%u.elu", number);
    format_bounded(epg_name, sizeof epg_name, "%u.epg", number);
    // Checked before the stream is copied: a clash found afterwards would have cost the
    // whole copy.
    refuse_taken_name(disk, PARTITION_AV, elu_name);
    refuse_taken_name(disk, PARTITION_EPG, epg_name);
    require_directory_room(disk, directory, work);

    name_set_extension(".ts", nullptr, nullptr, 0);
    if (put_file_at(disk, directory, PARTITION_AV, work, av_name, STREAM_ATTRIBUTES) != 0)
        fatal_exit(1);
    name_set_extension(".elu", nullptr, nullptr, 0);
    put_file_at(disk, directory, PARTITION_AV, work, elu_name, COMPANION_ATTRIBUTES);
    name_set_extension(".epg", nullptr, nullptr, 0);
    put_file_at(disk, directory, PARTITION_EPG, work, epg_name, COMPANION_ATTRIBUTES);
    Error error;
    if (!disk_write_tables(disk, PARTITION_AV, &error))
        error_end(error);
    // Saving the list commits partition 1, and N.epg with it.

    RecordEntry *entry = reclist_append(&disk->records);
    memcpy(entry->bytes, header, record_length);
    entry_set_file_number(entry, number);
    if (!reclist_save(disk, &error))
        error_end(error);
    name_forget_extension();
    free(work);
}

} // namespace

void cmd_put(HumaxDisk *disk, const char *pattern)
{
    DirSearch search;
    const char *name = nullptr;
    switch (dir_search_first(&search, pattern, &name)) {
    case SearchStart::Failed: fatal("Error searching for file\n");
    case SearchStart::NoMatch: fatal("%s: No files found\n", pattern);
    case SearchStart::Found: break;
    }
    do
        put_recording_at(disk, dir_search_directory(&search), name);
    while (dir_search_next(&search, &name));
    bool failed = search.error != 0;
    dir_search_close(&search);
    if (failed)
        fatal("Error searching for file\n");
}

void cmd_put_recording(HumaxDisk *disk, const char *host_name)
{
    put_recording_at(disk, HOST_CWD, host_name);
}
