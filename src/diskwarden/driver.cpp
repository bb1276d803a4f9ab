#include "diskwarden/driver.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

#include "check/check.h"
#include "check/check_badmap.h"
#include "diskwarden/carve_command.h"
#include "diskwarden/copy.h"
#include "diskwarden/domain_map.h"
#include "diskwarden/get.h"
#include "diskwarden/json_commands.h"
#include "diskwarden/put.h"
#include "diskwarden/recover.h"
#include "diskwarden/recset.h"
#include "diskwarden/rescue.h"
#include "diskwarden/remove.h"
#include "common/error.h"
#include "common/fatal.h"
#include "common/progress.h"
#include "common/prompt.h"
#include "common/run_options.h"
#include "disk/disk_io.h"
#include "disk/fat.h"
#include "platform/process.h"
#include "platform/raw_drive.h"
#include "records/disk_open.h"
#include "records/entry_edit.h"
#include "records/epg_update.h"
#include "records/info.h"
#include "records/listing.h"
#include "records/record_list.h"

namespace {

const char *const OPTION_STRING = "bd:DEg:hH:i:lM:nO:p:rsu:vV:xywZ";
// --help is -h. --version, unlike -v, ends the run at once with status 0, as a version
// query does in other programs.
constexpr int VERSION_AND_EXIT = 0x100;
constexpr int CHECK = 0x101, REPAIR = 0x102, BAD_MAP = 0x103, JSON = 0x104, PROGRESS_FD = 0x105, CARVE = 0x106,
              CARVE_ALL = 0x107, RETRIES = 0x108, DOMAIN_MAP = 0x109;
const option LONG_OPTIONS[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, VERSION_AND_EXIT},
    {"check", no_argument, nullptr, CHECK},
    {"repair", no_argument, nullptr, REPAIR},
    {"bad-map", required_argument, nullptr, BAD_MAP},
    {"json", no_argument, nullptr, JSON},
    {"progress-fd", required_argument, nullptr, PROGRESS_FD},
    {"carve", no_argument, nullptr, CARVE},
    {"carve-all", no_argument, nullptr, CARVE_ALL},
    {"retries", required_argument, nullptr, RETRIES},
    {"domain-map", required_argument, nullptr, DOMAIN_MAP},
    {nullptr, 0, nullptr, 0},
};
// The exit status of a wrong command line: 1, or fsck's 16 for --check and --repair.
int usage_status = 1;

void print_version(const char *program)
{
    fprintf(stderr, "%s version " DW_VERSION " - recorder disk tool\n", program);
}

// A number as strtol reads it with base 0; false when no digit at all was read.
bool parse_long(const char *text, int32_t *value)
{
    char *end = nullptr;
    long result = strtol(text, &end, 0);
    if (end == text)
        return false;
    if (result > INT32_MAX)
        result = INT32_MAX;
    if (result < INT32_MIN)
        result = INT32_MIN;
    *value = static_cast<int32_t>(result);
    return true;
}

unsigned parse_retries(const char *text)
{
    int32_t value = 0;
    if (!parse_long(text, &value) || value < 0)
        fatal("Invalid number of retries: %s\n", text);
    return static_cast<unsigned>(value);
}

void parse_offset(const char *text, CommandRequest *request)
{
    if (parse_long(text, &request->modify_offset))
        return;
    std::string lowered(text);
    text_to_lower(lowered.data());
    if (lowered != "mg")
        fatal("Invalid offset\n");
    request->modify_offset = OFFSET_MG;
}

// --progress-fd N: a descriptor number in decimal that this process has open for writing.
void parse_progress_fd(const char *text, CommandRequest *request)
{
    char *end = nullptr;
    errno = 0;
    long fd = strtol(text, &end, 10);
    if (end == text || *end != '\0' || text[0] == '-' || text[0] == '+' || errno != 0 || fd > INT_MAX) {
        fprintf(stderr, "--progress-fd needs a descriptor number, not \"%s\"\n", text);
        fatal_exit(usage_status);
    }
    if (!platform_fd_writable(static_cast<int>(fd))) {
        fprintf(stderr, "--progress-fd %ld: no descriptor %ld is open for writing\n", fd, fd);
        fatal_exit(usage_status);
    }
    request->progress_fd = static_cast<int>(fd);
}

void apply_option(int option, const char *program, CommandRequest *request)
{
    switch (option) {
    case 'b': run_options.backup = 1; break;
    case 'd': request->delete_list = optarg; break;
    case 'D': request->delete_buffers = true; break;
    case 'E': request->update = true; break;
    case 'g': request->get_list = optarg; break;
    case 'h': cmd_usage(program); fatal_exit(0);
    case 'H': request->header_list = optarg; break;
    case 'i': request->info_list = optarg; break;
    case 'l': request->list = true; break;
    case 'M': request->modify_number = atoi(optarg); break;
    case 'n': run_options.no_info = 1; break;
    case 'O': parse_offset(optarg, request); break;
    case 'p': request->put_name = optarg; break;
    case 'r': run_options.recovery = 1; break;
    case 's': request->swap_lists = true; break;
    case 'u': request->unprotect_list = optarg; break;
    case 'v': print_version(program); break;
    case VERSION_AND_EXIT: print_version(program); fatal_exit(0);
    case 'V':
        if (!parse_long(optarg, &request->modify_value))
            fatal("Invalid data\n");
        break;
    case 'w': request->wait = true; break;
    case 'x': run_options.extended = 1; break;
    case 'y': run_options.ask = 0; break;
    case 'Z': request->delete_epg_save = true; break;
    case CHECK: request->check = true; break;
    case REPAIR: request->repair = true; break;
    case BAD_MAP: request->bad_map = optarg; break;
    case JSON:
        request->json = true;
        run_options.json = 1;
        break;
    case PROGRESS_FD: parse_progress_fd(optarg, request); break;
    case CARVE: request->carve = CarveRequest::Free; break;
    case CARVE_ALL: request->carve = CarveRequest::All; break;
    case RETRIES: run_options.retries = parse_retries(optarg); break;
    case DOMAIN_MAP: request->domain_map = optarg; break;
    default: fatal_exit(usage_status); // getopt has printed its own diagnostic
    }
}

void wait_for_return()
{
    fprintf(stderr, "Press return to continue...\n");
    getchar();
}

void run_recovery(HumaxDisk *disk, const CommandRequest &request)
{
    if (!request.dest_path.empty())
        fatal("Not supported in recover mode\n");
    if (request.swap_lists) {
        // The lists live in the EPG partition, which -n leaves unread.
        if (disk->partition_count <= PARTITION_EPG)
            fatal("The recording lists cannot be swapped with -n\n");
        prompt_or_end("WARNING swapping main and backup recording lists should only be done if "
                     "the main list is corrupt - do you wish to continue? [no]: ", 1);
        Error error;
        if (!reclist_swap_backup(disk, &error))
            error_end(error);
        disk_close(disk);
        return;
    }
    if (request.json) {
        cmd_json_recovery(disk, request);
        disk_close(disk);
        return;
    }
    InfoMode mode = run_options.no_info ? INFO_DISABLED : INFO_TITLES;
    if (request.list)
        cmd_recover_scan(disk, 0, mode);
    if (request.get_list)
        cmd_recover_get(disk, *request.get_list, mode);
    if (request.info_list)
        cmd_recover_get(disk, *request.info_list, INFO_FULL);
    disk_close(disk);
}

// Returns false when a recording could not be backed up (its stream is missing, or a host
// file under its name had to be kept); the loop still visits every recording after it.
bool run_backup(HumaxDisk *source, HumaxDisk *destination)
{
    bool complete = true;
    for (int i = 1; reclist_find(&source->records, i, 0) != nullptr; ++i) {
        int result = destination != nullptr ? cmd_copy_recording(source, destination, i)
                                            : cmd_get_recording(source, i);
        complete = complete && result != GET_STREAM_MISSING && result != GET_PIECE_KEPT;
        run_options.ask = 0;
    }
    return complete;
}

void run_modify(HumaxDisk *disk, const CommandRequest &request)
{
    int32_t offset = request.modify_offset;
    if (offset == OFFSET_MG)
        offset = static_cast<int32_t>(entry_mg_offset(disk->records.record_length));
    if (offset < 0 || request.modify_value < 0)
        fatal("Invalid options\n");
    Error error;
    if (!cmd_modify_entry(disk, request.modify_number, offset,
                          static_cast<uint8_t>(request.modify_value & 0xFF), &error))
        error_end(error);
}

int show_info(HumaxDisk *disk, int number)
{
    Error error;
    if (!cmd_info(disk, number, &error))
        error_end(error);
    return 0;
}

void update_epg(HumaxDisk *disk)
{
    Error error;
    if (!epg_update_all(disk, &error))
        error_end(error);
}

void run_commands(HumaxDisk *source, HumaxDisk *destination, const CommandRequest &request)
{
    if (request.json) {
        cmd_json_records(source, request);
        return;
    }
    if (request.update)
        update_epg(source);
    if (request.list) {
        reclist_walk(source, 0, nullptr);
        cmd_show_free_space(source);
    }
    if (request.modify_number > 0)
        run_modify(source, request);
    if (request.info_list)
        recset_for_each(*request.info_list, source, show_info);
    if (request.unprotect_list)
        recset_for_each(*request.unprotect_list, source, cmd_unprotect);
    if (request.delete_list)
        cmd_delete(source, *request.delete_list);
    if (request.delete_buffers)
        cmd_delete_buffers(source);
    if (request.delete_epg_save)
        cmd_delete_epg_save(source);
    if (request.get_list) {
        if (destination != nullptr)
            recset_for_each(*request.get_list, source, destination, cmd_copy_recording);
        else
            recset_for_each(*request.get_list, source, cmd_get_recording);
    } else if (request.header_list) {
        recset_for_each(*request.header_list, source, cmd_get_header);
    }
    if (!request.put_name.empty() && destination == nullptr) {
        prompt_or_end("WARNING this may corrupt your Humax hard disk - do you wish to continue? [no]: ", 1);
        cmd_put(source, request.put_name.c_str());
    }
}

} // namespace

std::string cmd_disk_path(const char *argument)
{
    char drive[32];
    if (platform_raw_drive_path(argument, drive, sizeof drive))
        return drive;
    return argument;
}

void cmd_parse(int argc, char **argv, CommandRequest *request)
{
    const char *program = argv[0];
    usage_status = cmd_check_requested(argc, argv) ? CHECK_USAGE : 1;
    int option;
    while ((option = getopt_long(argc, argv, OPTION_STRING, LONG_OPTIONS, nullptr)) != -1)
        apply_option(option, program, request);
    int positional = argc - optind;
    if (positional >= 3) {
        fprintf(stderr, "Invalid number of options\n");
        fatal_exit(usage_status);
    }
    if (positional == 2) {
        request->dest_path = cmd_disk_path(argv[optind + 1]);
        request->source_path = cmd_disk_path(argv[optind]);
    } else if (positional == 1) {
        request->source_path = cmd_disk_path(argv[optind]);
    }
}

bool cmd_source_writes(const CommandRequest &request)
{
    bool writes = !request.put_name.empty() || request.delete_list || request.unprotect_list ||
                  request.modify_number > 0 || request.update ||
                  (run_options.recovery && request.swap_lists) || request.delete_buffers ||
                  request.delete_epg_save;
    return writes;
}

void cmd_show_free_space(HumaxDisk *disk)
{
    uint64_t value = disk_free_space(disk, PARTITION_AV);
    uint64_t remainder = 0;
    int unit = 0;
    while (value > 999) {
        remainder = value % 1000;
        value /= 1000;
        ++unit;
    }
    printf("\nFree Space: %u.%u ", static_cast<unsigned>(value), static_cast<unsigned>(remainder / 100));
    if (unit == 0)
        printf("B\n");
    else
        printf("%cB\n", " kMGTPE"[unit]);
}

namespace {

DiskOpenPolicy open_policy()
{
    DiskOpenPolicy policy;
    policy.recovery = run_options.recovery != 0;
    policy.no_info = run_options.no_info != 0;
    return policy;
}

// Opens and locks a disk and loads its volume, refusing a disk this run will write when a
// file's clusters are in another file too; ends the run on failure. Two views of one disk
// must never both write: whatever paths name them, the same file or device is refused
// before either is read (the source against what the destination's path names, the
// destination against the source's stream).
HumaxDisk *open_disk(const std::string &path, bool writable, const DiskOpenOptions &access,
                     const HumaxDisk *other, const std::string &other_path = "")
{
    DiskOpenOptions options = access;
    options.writable = writable;
    options.lock = true;
    options.policy = open_policy();
    options.list = RecordListLoad::Skip;
    if (writable)
        options.vet_volume = check_refuse_damaged;
    options.distinct_from = other;
    options.distinct_from_path = other_path;
    HumaxDisk *disk = nullptr;
    Error error;
    if (!disk_open({path}, options, &disk, &error))
        error_end(error);
    return disk;
}

// A copy from a partial rescue image reads the areas its map does not mark finished, and
// anything past the end of an image shorter than its partitions, as unreadable sectors:
// zeros, a map beside the copy, the summary and status 1, never as the recording's bytes.
void treat_unread_as_unreadable(HumaxDisk *disk, const std::string &map_path)
{
    std::vector<std::pair<uint64_t, uint64_t>> areas;
    if (!map_path.empty()) {
        BadMap map;
        std::string error;
        if (!check_read_bad_map(map_path, &map, &error))
            fatal("%s\n", error.c_str());
        for (const BadArea &area : map.areas)
            areas.emplace_back(area.position, area.end());
        if (map.mapped < UINT64_MAX)
            areas.emplace_back(map.mapped, UINT64_MAX);
    }
    disk_stream_unread(&disk->stream, std::move(areas), disk_stream_size(&disk->stream));
}

bool ask_finnish()
{
    fputs("Is this a Finnish 9200? [no]: ", stderr);
    return prompt_yes_no() != 0;
}

void load_list(HumaxDisk *disk)
{
    Error error;
    if (!reclist_load(disk, ask_finnish, &error))
        error_end(error);
}

// What --json and --progress-fd need of the rest of the command line.
void refuse_scripting_misuse(const CommandRequest &request)
{
    int status = request.check || request.repair ? CHECK_USAGE : 1;
    if (request.json && request.progress_fd == 1)
        end_run(status, "--progress-fd 1 would mix progress into the JSON on standard output\n");
    std::string refusal = request.json ? cmd_json_refusal(request) : "";
    if (!refusal.empty())
        end_run(status, "%s", refusal.c_str());
    progress_set_fd(request.progress_fd);
}

} // namespace

int cmd_main(int argc, char **argv, const DiskOpenOptions &access)
{
    CommandRequest request;
    cmd_parse(argc, argv, &request);
    if (request.json)
        cmd_json_failures(request, false);
    refuse_scripting_misuse(request);
    if (request.check || request.repair)
        return cmd_check(request, access);
    bool copies = request.get_list.has_value() || run_options.backup;
    if (!request.bad_map.empty() && !copies)
        fatal("--bad-map works only with --check, --repair, -g or -b\n");
    if (request.carve != CarveRequest::None)
        return cmd_carve(request, access);
    if (!request.domain_map.empty())
        return cmd_domain_map(request, access);
    if (request.source_path.empty())
        fatal("Humax disk not found\n");
    // Every disk is opened, told apart, locked and vetted before anything is asked: the
    // record lists, which may need a question, are loaded last.
    bool two_disks = !request.dest_path.empty() && !run_options.recovery;
    HumaxDisk *source = open_disk(request.source_path, cmd_source_writes(request), access, nullptr,
                                  two_disks ? request.dest_path : "");
    HumaxDisk *destination = nullptr;
    if (two_disks)
        destination = open_disk(request.dest_path, true, access, source);
    if (run_options.recovery) {
        if (copies)
            treat_unread_as_unreadable(source, request.bad_map);
        run_recovery(source, request);
        bool damaged = rescue_summary();
        return damaged || cmd_recover_information_failed() ? 1 : 0;
    }
    load_list(source);
    if (destination != nullptr)
        load_list(destination);
    // The tables are in memory: from here on the source is read only for the copies.
    if (copies)
        treat_unread_as_unreadable(source, request.bad_map);
    bool complete = true;
    if (run_options.backup)
        complete = run_backup(source, destination);
    else
        run_commands(source, destination, request);
    disk_close(destination);
    disk_close(source);
    // Copies with unreadable sectors are said last, where they are seen.
    bool damaged = rescue_summary();
    if (request.wait)
        wait_for_return();
    return complete && !damaged ? 0 : 1;
}
