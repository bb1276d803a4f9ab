#include "reelhead/ts_driver.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "common/error.h"
#include "common/fatal.h"
#include "common/names.h"
#include "reelhead/ts_header.h"
#include "reelhead/ts_length.h"
#include "reelhead/ts_tables.h"
#include "platform/host_file.h"

namespace {

// Room for the longest accepted path with ".hre" appended and the extension field's
// terminators.
constexpr size_t HEADER_NAME_SIZE = TS_PATH_MAX + 6;

bool make_header_name(const char *path, char header_name[HEADER_NAME_SIZE])
{
    if (strlen(path) > TS_PATH_MAX)
        return false;
    strcpy(header_name, path);
    int written = name_set_extension(".hre", ".ts", header_name, HEADER_NAME_SIZE);
    name_forget_extension(); // the position points into this call's buffer
    return written == 1;
}

// The PAT and PMT of the stream; false after the skipping message.
bool find_tables(TsReader *reader, const char *path, StreamInfo *info)
{
    dvbpsi_pat_t *pat = ts_find_pat(reader);
    if (pat == nullptr) {
        warn("Skipping file \"%s\" - unable to find PAT\n", path);
        return false;
    }
    warn("Searching for PMT...\n");
    bool found = ts_find_pmt(reader, pat->p_first_program, info);
    dvbpsi_pat_delete(pat);
    if (!found) {
        warn("Skipping file \"%s\" - unable to find PMT\n", path);
        return false;
    }
    warn("\nPMT %03X found\n", static_cast<unsigned>(info->pmt_pid));
    return true;
}

// Opens the stream for reading; -1 after a message when it is not a regular file.
int open_stream(const char *path)
{
    int fd = host_open_read_at(HOST_CWD, path);
    if (fd < 0)
        fatal_errno(path);
    if (!host_is_regular(fd)) {
        warn("\nSkipping file \"%s\" - not a regular file\n", path);
        host_close(fd);
        return -1;
    }
    return fd;
}

const char *const VERSION_LINE = "reelhead version 0.08 - diskwarden project\n";

void print_usage(const char *program)
{
    warn("Usage: %s [--] FILE.ts...\n"
         "Writes FILE.hre, the recorder's recording header, beside each transport stream,\n"
         "so that diskwarden -p can put the recording onto a recorder disk. An existing\n"
         "header is never replaced. Title and start time come from names such as\n"
         "\"20130526 2030 Title.ts\" (otherwise the file's modification time).\n"
         "  -h, --help      this text\n"
         "  -v, --version   the version line only\n",
         program);
}

enum class Query { None, Help, Version };

// The position of the first "--", after which every argument is a file name even when it
// looks like an option; argc when there is none.
int find_marker(int argc, char **argv)
{
    int i = 1;
    while (i < argc && strcmp(argv[i], "--") != 0)
        ++i;
    return i;
}

// The first help or version option before the marker.
Query find_query(int marker, char **argv)
{
    for (int i = 1; i < marker; ++i) {
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0)
            return Query::Help;
        if (strcmp(argv[i], "-v") == 0 || strcmp(argv[i], "--version") == 0)
            return Query::Version;
    }
    return Query::None;
}

} // namespace

TsResult ts_convert_file(const char *path)
{
    char header_name[HEADER_NAME_SIZE];
    if (!make_header_name(path, header_name)) {
        warn("\nSkipping file \"%s\" - the path is longer than %zu characters\n", path,
             TS_PATH_MAX);
        return TsResult::NoHeader;
    }
    if (host_exists(header_name)) { // a dangling link counts as taken
        warn("\nSkipping file \"%s\" - it already exists\n", header_name);
        return TsResult::HeaderExists;
    }
    int fd = open_stream(path);
    if (fd < 0)
        return TsResult::NoHeader;
    warn("\nAnalysing transport stream %s\n", path);
    warn("Searching for PAT...\n");

    StreamInfo info;
    TsReader reader;
    ts_reader_init(&reader, fd);
    if (!find_tables(&reader, path, &info)) {
        host_close(fd);
        return TsResult::NoHeader;
    }
    std::optional<uint64_t> length = ts_recording_length(&reader, info.pcr_pid, info.pmt_end);
    host_close(fd);
    if (!length)
        warn("Warning: no PCR found - the recording length is unknown and set to 0\n");
    info.length_seconds = static_cast<uint32_t>(length.value_or(0));
    const unsigned s = info.length_seconds;
    warn("Recording length: %02u:%02u:%02u\n", s / 3600, s % 3600 / 60, s % 60);
    Error error;
    if (ts_write_header(&info, path, header_name, &error))
        return TsResult::Written;
    // A header that cannot be created is this stream's failure; one whose bytes cannot
    // be written (a full or failing host disk) ends the run.
    if (error.kind == ErrorKind::Write)
        error_end(error);
    error_warn(error);
    return TsResult::NoHeader;
}

int ts_main(int argc, char **argv)
{
    message_write(VERSION_LINE);
    int marker = find_marker(argc, argv);
    Query query = find_query(marker, argv);
    if (query == Query::Help)
        print_usage(argv[0]);
    if (query != Query::None)
        return 0;
    int files = argc - 1 - (marker < argc ? 1 : 0);
    if (files == 0)
        fatal("Invalid number of argumanets\n");
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        if (i != marker && ts_convert_file(argv[i]) == TsResult::NoHeader)
            status = 1;
    }
    return status;
}
