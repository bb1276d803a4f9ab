#include "diskwarden/get.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/aligned_buffer.h"
#include "common/error.h"
#include "common/fatal.h"
#include "common/names.h"
#include "common/progress.h"
#include "common/prompt.h"
#include "common/run_options.h"
#include "diskwarden/backup.h"
#include "diskwarden/rescue.h"
#include "disk/file_map.h"
#include "disk/file_rescue.h"
#include "platform/host_file.h"
#include "records/header_file.h"
#include "records/listing.h"

namespace {

// Runs of contiguous clusters (and several runs of a fragmented chain) move through one
// buffer of this size: large enough that system calls cost little next to the copying,
// small enough to stay in the processor's own cache between reading, swapping and
// writing. Host writes of several MiB at a time were measured to be slower at times (the
// host file's pages are then taken in large blocks), with no gain when they were not.
constexpr uint64_t TRANSFER_TARGET = 256u << 10;
constexpr size_t PAGE = 4096;

// A buffer of whole clusters, at least one, about TRANSFER_TARGET bytes, page-aligned so
// that an aligned disk stream can read straight into it.
void transfer_buffer(const FileMap *file, AlignedBuffer *buffer)
{
    uint64_t clusters = TRANSFER_TARGET / file->cluster_length;
    aligned_buffer_make(buffer, static_cast<size_t>((clusters > 0 ? clusters : 1) * file->cluster_length), PAGE);
}

[[noreturn]] void host_write_failed(HostOutput *out)
{
    int error = errno;
    host_output_abandon(out);
    errno = error;
    fatal_errno(out->final_path.c_str());
}

// The first pass writes the copy in order; later passes fill in, at their offsets,
// sectors that read only when tried alone.
bool host_sink_write(void *context, uint64_t offset, const void *data, size_t length)
{
    auto *out = static_cast<HostOutput *>(context);
    if (offset == out->written)
        return host_output_write(out, data, length);
    return host_output_write_at(out, offset, data, length);
}

bool host_update_write(void *context, uint64_t offset, const void *data, size_t length)
{
    return host_write_at(*static_cast<int *>(context), offset, data, length);
}

// Reads a host copy for the summary (where its holes fall in the programme).
RescueReader host_reader(const std::string &path)
{
    return [path](uint64_t offset, uint8_t *data, size_t length) -> size_t {
        int fd = host_open_read_at(HOST_CWD, path.c_str());
        size_t got = 0;
        if (fd >= 0 && host_seek(fd, static_cast<int64_t>(offset), HostSeek::Start) >= 0)
            host_read_fully(fd, data, length, &got);
        if (fd >= 0)
            host_close(fd);
        return got;
    };
}

bool is_stream(const FileMap *file)
{
    size_t length = file->name.size();
    return length > 3 && file->name.compare(length - 3, 3, ".av") == 0;
}

RescueOptions rescue_options(Progress *progress)
{
    RescueOptions options;
    options.retries = run_options.retries;
    options.progress = progress;
    return options;
}

// Says what stayed unreadable, or removes a map an earlier copy under this name left.
void settle_map(const FileMap *file, const char *host_path, const std::vector<ByteArea> &holes)
{
    if (holes.empty()) {
        std::string map = rescue_map_path(host_path);
        if (host_exists(map.c_str()) && !host_remove(map.c_str()))
            fatal_errno(map.c_str());
        return;
    }
    rescue_note(host_path, holes, is_stream(file) ? host_reader(host_path) : RescueReader{});
}

// Copies the disk file to a temporary host file that takes the final name only when it
// is complete: an interrupted copy never leaves a short file under the recording's name.
// Several runs of a fragmented chain go out in one host write. Unreadable sectors become
// zeros, and their map is written beside the copy before the copy takes its name, so
// that a copy with holes is never taken for a whole one.
void copy_contents(FileMap *file, const char *host_path)
{
    HostOutput out;
    if (!host_output_begin(&out, host_path))
        fatal_errno(host_path);
    AlignedBuffer buffer;
    transfer_buffer(file, &buffer);
    Progress progress;
    progress_start_named(&progress, "get", host_path, file->size, file->cluster_length);
    std::vector<ByteArea> holes;
    if (!dfile_rescue(file, {{0, file->size}}, buffer.data, buffer.size, {&out, host_sink_write},
                      rescue_options(&progress), &holes))
        host_write_failed(&out);
    progress_finish(&progress);
    aligned_buffer_free(&buffer);
    if (!holes.empty() && !rescue_write_map(host_path, file->size, holes)) {
        int error = errno;
        host_output_abandon(&out);
        errno = error;
        fatal_errno(rescue_map_path(host_path).c_str());
    }
    if (!host_output_commit(&out))
        fatal_errno(host_path);
    settle_map(file, host_path, holes);
}

// A copy of the file with its map beside it (an earlier run could not read all of it):
// reads only its holes again, writes what it now reads in place, and updates the map,
// or removes it when nothing is missing. Nothing readable is replaced, so nothing is
// asked. False (nothing done) when there is no such copy.
bool complete_in_place(FileMap *file, const char *host_path)
{
    HostStatus status;
    std::vector<ByteArea> holes;
    if (!host_status_at(HOST_CWD, host_path, &status) || !status.regular ||
        status.size != file->size || !rescue_read_map(host_path, file->size, &holes))
        return false;
    fprintf(stderr, "Reading the missing parts of \"%s\" again...\n", host_path);
    int fd = host_open_update(host_path);
    if (fd < 0)
        fatal_errno(host_path);
    AlignedBuffer buffer;
    transfer_buffer(file, &buffer);
    std::vector<ByteArea> still;
    bool written = dfile_rescue(file, holes, buffer.data, buffer.size, {&fd, host_update_write},
                                rescue_options(nullptr), &still) &&
                   host_sync(fd);
    int error = errno;
    host_close(fd);
    aligned_buffer_free(&buffer);
    errno = error;
    if (!written)
        fatal_errno(host_path);
    if (!still.empty() && !rescue_write_map(host_path, file->size, still))
        fatal_errno(rescue_map_path(host_path).c_str());
    settle_map(file, host_path, still);
    return true;
}

// What to do with the disk file when its host name is taken: in backup mode, as
// backup_decide_file says; otherwise the question, which ends the process on no.
BackupPiece decide_host_file(const FileMap &file, const char *host_path)
{
    // A link counts as an existing file, dangling or not: it is never written through.
    if (host_path == nullptr || !host_exists(host_path))
        return BackupPiece::Copy;
    if (run_options.backup)
        return backup_decide_file(host_path, file.size);
    std::string question = std::string("File \"") + host_path + "\" already exists, overwrite? [no]: ";
    prompt_or_end(question.c_str(), 1, "");
    return BackupPiece::Copy;
}

// Puts `extension` in place of the host name's extension (searching for it when
// `search` is set); the name always has room, but a failure must not leave the name of
// another piece in place.
void set_host_extension(const char *extension, bool search, char *host_name)
{
    int done = search ? name_set_extension(extension, extension, host_name, HOST_NAME_SIZE)
                      : name_set_extension(extension, nullptr, nullptr, 0);
    if (!done)
        fatal("Host file name too long: %s\n", host_name);
}

void disk_file_name(char *name, const char *format, const RecordEntry *entry)
{
    format_bounded(name, DISK_NAME_SIZE, format, entry_be16(entry, ENTRY_FILE_NUMBER));
}

} // namespace

int cmd_get_file(HumaxDisk *disk, int index, const char *disk_name, const char *host_path)
{
    FileMapOptions options;
    options.report = true;
    FileMap file;
    if (!dfile_map_name(disk, index, disk_name, options, &file))
        return 1;
    if (host_path != nullptr && complete_in_place(&file, host_path))
        return 0;
    BackupPiece piece = decide_host_file(file, host_path);
    if (piece != BackupPiece::Copy)
        return piece == BackupPiece::Skip ? GET_FILE_SKIPPED : GET_FILE_KEPT;
    const char *dot = strchr(disk_name, '.');
    fprintf(stderr, "Copying %s file...\n", dot != nullptr ? dot + 1 : disk_name);
    if (host_path == nullptr || host_path[0] == '\0')
        fatal("Output file not defined... aborting\n");
    copy_contents(&file, host_path);
    return 0;
}

namespace {

// Prints the list line of recording `number` and makes its host name; reports a missing
// recording. The list line goes to standard output, the copy's messages to standard
// error: it is flushed so that they stay in order when both reach the same place.
RecordEntry *walk_to_recording(HumaxDisk *disk, int number, char *host_name)
{
    RecordEntry *entry = reclist_walk_to(disk, number, host_name);
    if (entry == nullptr)
        fprintf(stderr, "File not found\n");
    else
        fflush(stdout);
    return entry;
}

// In backup mode, the host name under which this directory already holds the recording
// (backup.h); the listed name otherwise.
void choose_host_name(const HumaxDisk *disk, const RecordEntry *entry, char *host_name)
{
    if (!run_options.backup)
        return;
    std::string listed(host_name, strlen(host_name) - strlen(".ts"));
    std::string stem = backup_choose_stem(listed, entry, disk->records.record_length);
    format_bounded(host_name, HOST_NAME_SIZE, "%s.ts", stem.c_str());
}

// Writes the header beside the stream unless, in backup mode, what is there must stay.
// True when nothing was kept.
bool write_header(HumaxDisk *disk, const RecordEntry *entry, const char *host_name, bool stream_copied)
{
    if (run_options.backup) {
        BackupPiece piece = backup_decide_header(host_name, entry, disk->records.record_length, stream_copied);
        if (piece != BackupPiece::Copy)
            return piece == BackupPiece::Skip;
    }
    Error error;
    if (!hre_write(&disk->records, entry, host_name, &error))
        error_end(error);
    return true;
}

} // namespace

int cmd_get_recording(HumaxDisk *disk, int number)
{
    char host_name[HOST_NAME_SIZE];
    RecordEntry *entry = walk_to_recording(disk, number, host_name);
    if (entry == nullptr)
        return 0;
    choose_host_name(disk, entry, host_name);
    rescue_set_recording(number, std::string(host_name, strlen(host_name) - strlen(".ts")));
    char disk_name[DISK_NAME_SIZE];
    disk_file_name(disk_name, "%d.av", entry);
    int stream = cmd_get_file(disk, PARTITION_AV, disk_name, host_name);
    // Nothing more of the recording goes beside a file that is not its stream.
    if (stream == GET_FILE_KEPT)
        return GET_PIECE_KEPT;
    if (stream == 1) {
        // A backup goes on: on a damaged disk, the recordings after this one matter most.
        if (!run_options.backup)
            fatal("Error opening %s\n", disk_name);
        fprintf(stderr, "Error opening %s\n", disk_name);
        return GET_STREAM_MISSING;
    }
    set_host_extension(".elu", true, host_name);
    disk_file_name(disk_name, "%d.elu", entry);
    bool kept = cmd_get_file(disk, PARTITION_AV, disk_name, host_name) == GET_FILE_KEPT;
    set_host_extension(".epg", false, host_name);
    disk_file_name(disk_name, "%d.epg", entry);
    kept = cmd_get_file(disk, PARTITION_EPG, disk_name, host_name) == GET_FILE_KEPT || kept;
    set_host_extension(".hre", false, host_name);
    kept = !write_header(disk, entry, host_name, stream == 0) || kept;
    return kept ? GET_PIECE_KEPT : 1;
}

int cmd_get_header(HumaxDisk *disk, int number)
{
    char host_name[HOST_NAME_SIZE];
    RecordEntry *entry = walk_to_recording(disk, number, host_name);
    if (entry == nullptr)
        return 0;
    set_host_extension(".hre", true, host_name);
    Error error;
    if (!hre_write(&disk->records, entry, host_name, &error))
        error_end(error);
    return 1;
}
