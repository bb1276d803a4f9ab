#include "diskwarden/json_commands.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

#include "diskwarden/recset.h"
#include "check/check.h"
#include "common/fatal.h"
#include "common/json.h"
#include "common/run_options.h"
#include "disk/fat.h"
#include "records/listing.h"
#include "records/listing_json.h"
#include "records/recovery_names.h"

namespace {

bool other_commands(const CommandRequest &r)
{
    return !r.put_name.empty() || r.get_list || r.header_list || r.unprotect_list || r.delete_list ||
           r.update || r.swap_lists || r.delete_buffers || r.delete_epg_save || r.wait || r.modify_number != -1 ||
           r.modify_offset != -1 || r.modify_value != 0 || run_options.backup || r.carve != CarveRequest::None ||
           !r.domain_map.empty();
}

std::vector<int32_t> parsed(const std::optional<std::string> &list)
{
    RecordingSet set;
    if (list)
        recset_parse(list->c_str(), &set);
    return set.values;
}

// Under --json: the disk the document names, the last message written, and how a
// failure's status is reported (the checker reports the disk library's failures as 8).
std::string failure_disk;
bool failure_has_disk = false;
bool failure_operational = false;
std::string last_message;

void keep_message(const char *text)
{
    fputs(text, stderr);
    last_message = text;
}

[[noreturn]] void fail_with_document(int status)
{
    if (failure_operational && status != 0)
        status = CHECK_OPERATIONAL;
    cmd_json_end(status);
    fflush(stdout);
    exit(status);
}

void begin_document(JsonWriter *json, const HumaxDisk *disk)
{
    json_begin_object(json);
    json_key(json, "disk");
    json_string(json, disk->path);
}

} // namespace

void cmd_json_failures(const CommandRequest &request, bool operational)
{
    failure_disk = request.source_path;
    failure_has_disk = !request.source_path.empty();
    failure_operational = operational;
    message_set_sink(keep_message);
    fatal_set_handler(fail_with_document);
}

void cmd_json_end(int status)
{
    if (json_printed())
        return;
    JsonWriter json;
    json_failure(&json, failure_has_disk ? &failure_disk : nullptr, status, last_message);
    json_print(&json);
}

std::string cmd_json_refusal(const CommandRequest &request)
{
    if (request.check || request.repair) {
        if (request.repair && run_options.ask)
            return "--json with --repair needs -y: --json never waits for an answer\n";
        return "";
    }
    if (other_commands(request) || (!request.list && !request.info_list))
        return "--json works with -l, -i, -r -l, -r -i, --check and --repair\n";
    if (!request.dest_path.empty())
        return "--json takes one disk\n";
    return "";
}

void cmd_json_records(HumaxDisk *disk, const CommandRequest &request)
{
    std::vector<int32_t> asked = parsed(request.info_list);
    std::set<int32_t> informed(asked.begin(), asked.end());
    std::vector<RecordEntry *> entries = reclist_numbered(disk);
    std::vector<std::string> stems = reclist_host_stems(disk);
    std::vector<int32_t> shown;
    if (request.list) {
        for (size_t i = 0; i < entries.size(); ++i)
            shown.push_back(static_cast<int32_t>(i + 1));
    }
    for (int32_t number : asked) {
        if (number < 1 || static_cast<size_t>(number) > entries.size())
            fprintf(stderr, "Recording %d does not exist\n", number);
        else if (!request.list)
            shown.push_back(number);
    }
    JsonWriter json;
    begin_document(&json, disk);
    json_key(&json, "record_length");
    json_uint(&json, disk->records.record_length);
    json_key(&json, "free_bytes");
    json_uint(&json, disk_free_space(disk, PARTITION_AV));
    json_key(&json, "recordings");
    json_begin_array(&json);
    for (int32_t number : shown) {
        size_t i = static_cast<size_t>(number - 1);
        reclist_json_recording(&json, disk, number, entries[i], stems[i], informed.count(number) != 0);
    }
    json_end_array(&json);
    json_end_object(&json);
    json_print(&json);
}

void cmd_json_recovery(HumaxDisk *disk, const CommandRequest &request)
{
    struct Found {
        const DirEntry *entry;
        std::string name;
    };
    std::vector<Found> found;
    char name[RECOVERY_NAME_SIZE];
    for (const DirEntry *e = disk->partitions[PARTITION_AV].dir_head; e != nullptr; e = e->next) {
        if (recovery_recording_name(e, name))
            found.push_back({e, name});
    }
    std::vector<int32_t> asked = parsed(request.info_list);
    std::set<int32_t> informed(asked.begin(), asked.end());
    std::vector<int32_t> shown;
    if (request.list) {
        for (size_t i = 0; i < found.size(); ++i)
            shown.push_back(static_cast<int32_t>(i + 1));
    }
    for (int32_t number : asked) {
        if (number < 1 || static_cast<size_t>(number) > found.size())
            fatal("Recording %d does not exist\n", number);
        if (!request.list)
            shown.push_back(number);
    }
    JsonWriter json;
    begin_document(&json, disk);
    json_key(&json, "recordings");
    json_begin_array(&json);
    for (int32_t number : shown) {
        const Found &f = found[static_cast<size_t>(number - 1)];
        bool information = !run_options.no_info || informed.count(number) != 0;
        recovery_json_recording(&json, disk, number, f.entry, f.name.c_str(), information);
    }
    json_end_array(&json);
    json_end_object(&json);
    json_print(&json);
}
