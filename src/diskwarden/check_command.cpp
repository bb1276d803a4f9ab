// --check and --repair on the command line: they run alone, on one disk.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "check/check.h"
#include "diskwarden/driver.h"
#include "diskwarden/json_commands.h"
#include "common/fatal.h"
#include "common/prompt.h"
#include "common/run_options.h"

namespace {

// A failure deep in the disk library ends a check with fsck's status for an operational
// error instead of 1.
[[noreturn]] void exit_operational(int status)
{
    fflush(stdout);
    exit(status == 0 ? 0 : CHECK_OPERATIONAL);
}

// getopt_long accepts any unambiguous beginning of a long option.
bool names_option(const char *argument, const char *option)
{
    if (strncmp(argument, "--", 2) != 0 || argument[2] == '\0')
        return false;
    const char *name = argument + 2;
    size_t length = strcspn(name, "=");
    return length <= strlen(option) && strncmp(name, option, length) == 0;
}

bool other_commands(const CommandRequest &r)
{
    return !r.put_name.empty() || r.get_list || r.header_list || r.info_list || r.unprotect_list ||
           r.delete_list || r.list || r.update || r.swap_lists || r.delete_buffers || r.delete_epg_save ||
           r.wait || r.modify_number != -1 || r.modify_offset != -1 || r.modify_value != 0 ||
           run_options.backup || run_options.recovery || run_options.no_info || run_options.extended ||
           r.carve != CarveRequest::None;
}

[[noreturn]] void usage(const char *message)
{
    end_run(CHECK_USAGE, "%s", message);
}

} // namespace

bool cmd_check_requested(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--") == 0)
            return false;
        if (names_option(argv[i], "check") || names_option(argv[i], "repair"))
            return true;
    }
    return false;
}

int cmd_check(const CommandRequest &request, const DiskOpenOptions &access)
{
    if (request.check && request.repair)
        usage("--check and --repair exclude each other: --repair checks first\n");
    if (other_commands(request))
        usage("--check and --repair run alone (with -y and --bad-map)\n");
    if (!request.dest_path.empty())
        usage("--check and --repair take one disk\n");
    if (request.source_path.empty())
        usage("Humax disk not found\n");
    if (request.json)
        cmd_json_failures(request, true);
    else
        fatal_set_handler(exit_operational);
    CheckRequest check;
    check.path = request.source_path;
    check.repair = request.repair;
    check.bad_map = request.bad_map;
    check.json = request.json;
    check.open = access;
    check.ask = [](const std::string &question) {
        fputs(question.c_str(), stderr);
        return prompt_yes_no() != 0;
    };
    int status = check_run(check);
    if (request.json) {
        cmd_json_failures(request, false);
        cmd_json_end(status);
    } else {
        fatal_set_handler(nullptr);
    }
    return status;
}
