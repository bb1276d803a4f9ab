#include "diskwarden/remove.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "diskwarden/recset.h"
#include "common/error.h"
#include "common/fatal.h"
#include "common/names.h"
#include "common/prompt.h"
#include "disk/disk_file.h"
#include "records/listing.h"
#include "records/record_list.h"

namespace {

constexpr const char *BUFFER_NAMES[] = {"0.av", "1.av"};
constexpr const char *EPG_SAVE_NAME = "epgsave.dat";

// Refusals and the checks that stop -u and -d are not errors: the run ends with status 0,
// and the commands after this one do not run.
constexpr int STOP = 0;

uint16_t file_number(const RecordEntry *entry)
{
    return entry_be16(entry, ENTRY_FILE_NUMBER);
}

// True when an entry that stays in the list names the files of `number`: a damaged list
// may hold one number twice, and deleting one of them must not take the other's files.
bool files_still_named(const RecordList *list, uint16_t number)
{
    for (const RecordEntry *entry = list->head; entry != nullptr; entry = entry->next) {
        if (!(entry->state & STATE_MARKED_FOR_DELETE) && file_number(entry) == number)
            return true;
    }
    return false;
}

void delete_numbered_file(HumaxDisk *disk, int partition, const char *format, unsigned number)
{
    char name[DISK_NAME_SIZE];
    format_bounded(name, sizeof name, format, number);
    dfile_delete(disk, partition, name);
}

// Finds and marks every listed recording; the first missing or protected one ends the
// run before anything has been changed. Returns how many were marked.
int mark_listed(HumaxDisk *disk, const RecordingSet &set)
{
    int marked = 0;
    for (int32_t number : set.values) {
        RecordEntry *entry = reclist_walk_to(disk, number, nullptr);
        if (entry == nullptr)
            end_run(STOP, "Recording %d does not exist\n", number);
        if (entry_is_protected(entry, disk->records.record_length))
            end_run(STOP, "Recording %d is protected - aborting...\n", number);
        entry->state |= STATE_MARKED_FOR_DELETE;
        ++marked;
    }
    return marked;
}

// Deletes the marked recordings in list order, one commit cycle each. The entry leaves
// the saved list before its files go: a run cut short in between leaves files that no
// entry names (recovery mode still finds them), never an entry whose files are missing,
// and the recordings that stay are not touched at any point.
void delete_marked(HumaxDisk *disk)
{
    RecordList *list = &disk->records;
    RecordEntry *entry;
    while ((entry = reclist_find(list, 0, STATE_MARKED_FOR_DELETE)) != nullptr) {
        uint16_t number = file_number(entry);
        Error error;
        if (!reclist_remove_entry(disk, entry, &error))
            error_end(error);
        if (files_still_named(list, number)) {
            warn("Files of %u kept: another entry of the record list names them\n", number);
            continue;
        }
        // The programme information goes first: a run cut between the two commits then
        // leaves N.av without an entry, which recovery mode still finds and which keeps N
        // from being chosen for a new recording. The other order would leave an N.epg that
        // every later put or copy, choosing N, refuses to replace.
        delete_numbered_file(disk, PARTITION_EPG, "%u.epg", number);
        if (!disk_write_tables(disk, PARTITION_EPG, &error))
            error_end(error);
        delete_numbered_file(disk, PARTITION_AV, "%u.av", number);
        delete_numbered_file(disk, PARTITION_AV, "%u.elu", number);
        if (!disk_write_tables(disk, PARTITION_AV, &error))
            error_end(error);
    }
}

} // namespace

int cmd_unprotect(HumaxDisk *disk, int number)
{
    RecordEntry *entry = reclist_walk_to(disk, number, nullptr);
    if (entry == nullptr) {
        fprintf(stderr, "Recording %d does not exist\n", number);
        return 0;
    }
    unsigned record_length = disk->records.record_length;
    if (!entry_is_protected(entry, record_length))
        end_run(STOP, "Recording is already unprotected - aborting...\n");
    entry->bytes[entry_status_offset(record_length)] &= static_cast<uint8_t>(~PROTECTED);
    Error error;
    if (!reclist_save(disk, &error))
        error_end(error);
    return 0;
}

void cmd_delete(HumaxDisk *disk, const std::string &list)
{
    RecordingSet set;
    recset_parse(list.c_str(), &set);
    if (set.values.empty())
        return;
    int marked = mark_listed(disk, set);
    bool plural = marked > 1;
    prompt_or_end(plural ? "These recordings will be deleted, are you sure? [no]: "
                         : "This recording will be deleted, are you sure? [no]: ",
                  STOP);
    delete_marked(disk);
    fprintf(stderr, "File%s successfully deleted\n", plural ? "s" : "");
    recset_free(&set);
}

void cmd_delete_buffers(HumaxDisk *disk)
{
    prompt_or_end("The buffers will be deleted, are you sure? [no]: ", STOP);
    for (const char *name : BUFFER_NAMES)
        dfile_delete(disk, PARTITION_AV, name);
    Error error;
    if (!disk_write_tables(disk, PARTITION_AV, &error))
        error_end(error);
}

void cmd_delete_epg_save(HumaxDisk *disk)
{
    prompt_or_end("The saved EPG data will be deleted, are you sure? [no]: ", STOP);
    if (!dfile_exists(disk, PARTITION_EPG, EPG_SAVE_NAME))
        fatal("epgave.dat: file not found\n");
    dfile_delete(disk, PARTITION_EPG, EPG_SAVE_NAME);
    Error error;
    if (!disk_write_tables(disk, PARTITION_EPG, &error))
        error_end(error);
}
