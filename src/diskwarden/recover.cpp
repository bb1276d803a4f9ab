#include "diskwarden/recover.h"

#include <cstdio>
#include <cstring>

#include "diskwarden/get.h"
#include "diskwarden/rescue.h"
#include "diskwarden/recset.h"
#include "common/error.h"
#include "common/fatal.h"
#include "common/names.h"
#include "common/run_options.h"
#include "disk/directory.h"
#include "records/info.h"
#include "records/recovery_names.h"
#include "records/text.h"

namespace {

constexpr size_t NAME_SIZE = RECOVERY_NAME_SIZE;

const char *const RECORDING_EXTENSION = ".av";
const char *const HOST_PATTERN = RECOVERY_HOST_PATTERN;

// The name of the recording last selected by the scan (handed to the caller) and its
// programme-information companion.
char selected_name[NAME_SIZE];
char companion_name[NAME_SIZE];

// N.av gives N.epg: "epg" over the two letters after the dot.
void set_companion(const char *name)
{
    memcpy(companion_name, name, strlen(name) + 1);
    strcpy(strchr(companion_name, '.') + 1, "epg");
}

// Set when a recording's programme information could not be read for its listing line:
// the run goes on (the recordings are what recovery is for) and ends with status 1.
bool information_unreadable = false;

// The information of the selected recording's companion. Under -i, where the information
// is what was asked for, a failed read ends the run; in a listing line it is said, marked
// and passed over, so that one unreadable .epg does not stop the copies.
// The failure is left in *error for the caller to say once its line is complete.
void show_information(HumaxDisk *disk, InfoMode mode, Error *error)
{
    if (info_show_checked(stdout, disk, companion_name, nullptr, mode, error) != InfoShown::Failed)
        return;
    if (mode == INFO_FULL)
        error_end(*error);
    printf(": ***Info unreadable***");
    information_unreadable = true;
}

// One listing line: the number, the name under -x, then the buffer mark or the
// programme titles (or the disabled mark) on the same line.
void print_line(HumaxDisk *disk, const DirEntry *entry, int count, const char *name, InfoMode mode)
{
    printf("%3d", count);
    if (run_options.extended)
        printf(" %s", text_shown(name).c_str());
    Error error;
    if (dirent_get(entry, DIRENT_ATTRIBUTES) & ATTRIBUTE_BUFFER)
        printf(": ***Buffer***");
    else
        show_information(disk, mode, &error);
    printf("\n");
    if (error_is_set(error)) {
        fflush(stdout);
        error_warn(error);
    }
}

// Gives the disk name and the host name the same extension, both searched afresh.
// False when either buffer has no room (never for the names the scan takes).
bool set_extensions(const char *extension, char *disk_name, char *host_name)
{
    return name_set_extension(extension, RECORDING_EXTENSION, disk_name, NAME_SIZE) &&
           name_set_extension(extension, ".ts", host_name, NAME_SIZE);
}

// Copies one companion; a missing one is reported and passed over.
void get_companion(HumaxDisk *disk, int index, const char *extension, char *disk_name,
                   char *host_name)
{
    if (!set_extensions(extension, disk_name, host_name))
        return;
    if (cmd_get_file(disk, index, disk_name, host_name) == 1)
        fprintf(stderr, "Error opening %s\n", text_shown(disk_name).c_str());
}

// Copies recording `number`, found as `name`, to recover_NNNN.ts with its companions.
void get_recording(HumaxDisk *disk, int number, const char *name, InfoMode mode)
{
    char disk_name[NAME_SIZE];
    char host_name[NAME_SIZE];
    memcpy(disk_name, name, strlen(name) + 1);
    format_bounded(host_name, sizeof host_name, HOST_PATTERN, number);
    rescue_set_recording(number, std::string(host_name, strcspn(host_name, ".")));
    if (cmd_get_file(disk, PARTITION_AV, disk_name, host_name) == 1)
        fatal("Error opening %s\n", text_shown(disk_name).c_str());
    get_companion(disk, PARTITION_AV, ".elu", disk_name, host_name);
    if (mode != INFO_DISABLED)
        get_companion(disk, PARTITION_EPG, ".epg", disk_name, host_name);
    // The helper remembers positions inside these buffers, which end here.
    name_forget_extension();
}

} // namespace

const char *cmd_recover_scan(HumaxDisk *disk, int number, InfoMode mode)
{
    int count = 0;
    char name[NAME_SIZE];
    for (const DirEntry *e = disk->partitions[PARTITION_AV].dir_head; e != nullptr; e = e->next) {
        if (!recovery_recording_name(e, name))
            continue;
        ++count;
        if (number != 0 && number != count)
            continue;
        set_companion(name);
        if (mode == INFO_FULL) {
            Error error;
            show_information(disk, INFO_FULL, &error);
        }
        else
            print_line(disk, e, count, name, mode);
        if (number == count) {
            memcpy(selected_name, name, sizeof name);
            return selected_name;
        }
    }
    return nullptr;
}

void cmd_recover_get(HumaxDisk *disk, const std::string &list, InfoMode mode)
{
    RecordingSet set;
    recset_parse(list.c_str(), &set);
    for (int32_t number : set.values) {
        printf("Rec: %u\n", static_cast<unsigned>(number));
        // Number 0 would make the scan list everything; like every number that is not a
        // position among the recordings, it names none.
        const char *name = number >= 1 ? cmd_recover_scan(disk, number, mode) : nullptr;
        if (name == nullptr)
            fatal("Recording %d does not exist\n", number);
        if (mode != INFO_FULL)
            get_recording(disk, number, name, mode);
    }
    recset_free(&set);
}

bool cmd_recover_information_failed()
{
    return information_unreadable;
}
