#pragma once
// The command line and the run of diskwarden.
#include <cstdint>
#include <optional>
#include <string>

#include "disk/humax_disk.h"

// --carve (free clusters) or --carve-all (every cluster).
enum class CarveRequest { None, Free, All };

// What the command line asked for (RunOptions holds the process-wide part). Paths and
// names are kept whole, however long: images on external drives have long paths.
struct CommandRequest {
    std::string source_path; // empty: no disk argument
    std::string dest_path;   // empty: one disk
    std::string put_name;    // empty: no -p
    std::optional<std::string> get_list, header_list, info_list, unprotect_list, delete_list;
    bool list = false, update = false, delete_buffers = false;
    bool swap_lists = false; // -s: the record list and its backup change names
    bool delete_epg_save = false, wait = false;
    int32_t modify_number = -1;
    int32_t modify_offset = -1; // -2 stands for "mg"
    int32_t modify_value = 0;
    bool check = false, repair = false; // --check, --repair
    std::string bad_map;                // --bad-map
    bool json = false;                  // --json
    int progress_fd = -1;               // --progress-fd; -1: none
    std::string domain_map;             // --domain-map
    CarveRequest carve = CarveRequest::None;
};

constexpr int32_t OFFSET_MG = -2;

// Parses the options and disk arguments into `request` and run_options; prints the help
// (and exits 0) and the version line as they come; ends the process on every error.
void cmd_parse(int argc, char **argv, CommandRequest *request);

// True when a command will change the source disk (it is then opened for writing).
bool cmd_source_writes(const CommandRequest &request);

// The path a disk argument names: "N:" is drive N, anything else an image path.
std::string cmd_disk_path(const char *argument);

// Prints the free space of the recordings partition ("\nFree Space: %u.%u %cB\n").
void cmd_show_free_space(struct HumaxDisk *disk);

void cmd_usage(const char *program);

// --check and --repair (with -y and --bad-map): refuses other commands with them (exit
// status 16), then checks the disk, reached as `access` says (direct I/O, a stream
// wrapper). Returns the exit status of the check.
int cmd_check(const CommandRequest &request, const DiskOpenOptions &access);

// True when the command line asks for --check or --repair (its usage errors then end
// with status 16, as fsck's do).
bool cmd_check_requested(int argc, char **argv);

// The whole run, with every disk reached as `access` says (direct I/O, a stream wrapper:
// the programs' test hooks); returns the exit status.
int cmd_main(int argc, char **argv, const DiskOpenOptions &access = {});
