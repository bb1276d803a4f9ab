#include "records/record_list.h"

#include <cstdio>
#include <cstring>

#include "common/fatal.h"
#include "common/prompt.h"
#include "disk/disk_file.h"

namespace {

constexpr unsigned TRAILER_LENGTH = 5;

// Counts the chunks of `chunk` bytes after the first five bytes whose byte 6 (the entry
// marker of the entry that begins five bytes earlier) is 1.
unsigned count_marked_chunks(DiskFile *file, uint32_t chunk)
{
    dfile_rewind(file);
    const uint8_t *data;
    if (dfile_read(&data, TRAILER_LENGTH, file) < TRAILER_LENGTH)
        return 0;
    unsigned count = 0;
    while (dfile_read(&data, chunk, file) == chunk) {
        if (data[6] == 1)
            ++count;
    }
    return count;
}

unsigned decide_by_content(DiskFile *file)
{
    unsigned long_count = count_marked_chunks(file, RECORD_LENGTH_LONG);
    unsigned short_count = count_marked_chunks(file, RECORD_LENGTH_SHORT);
    if (long_count == short_count)
        return 0;
    return long_count > short_count ? RECORD_LENGTH_LONG : RECORD_LENGTH_SHORT;
}

} // namespace

unsigned reclist_detect_record_length(HumaxDisk *disk)
{
    if (!dfile_exists(disk, PARTITION_EPG, RECORD_LIST_NAME)) {
        fprintf(stderr, "Is this a Finnish 9200? [no]: ");
        return prompt_yes_no() ? RECORD_LENGTH_SHORT : RECORD_LENGTH_LONG;
    }
    return reclist_record_length_of_list(disk);
}

unsigned reclist_record_length_of_list(HumaxDisk *disk)
{
    DiskFile *file = dfile_open(disk, PARTITION_EPG, RECORD_LIST_NAME, Swap::Yes);
    if (file == nullptr)
        return 0;
    uint64_t size = 0;
    dfile_size(file, &size);
    uint64_t data = size - TRAILER_LENGTH;
    bool fits_short = data % RECORD_LENGTH_SHORT == 0;
    bool fits_long = data % RECORD_LENGTH_LONG == 0;
    unsigned result = 0;
    if (fits_short != fits_long)
        result = fits_short ? RECORD_LENGTH_SHORT : RECORD_LENGTH_LONG;
    else if (fits_short) // a multiple of both lengths: count the valid entries
        result = decide_by_content(file);
    dfile_close(file);
    return result;
}

void reclist_load(HumaxDisk *disk)
{
    ListRead found = reclist_read(disk);
    if (found == ListRead::Empty)
        fprintf(stderr, "Record list is empty\n");
    else if (found == ListRead::NoSignature)
        fatal("Invalid record list\n");
}

ListRead reclist_read(HumaxDisk *disk)
{
    RecordList *list = &disk->records;
    list->count = 0;
    DiskFile *file = dfile_open(disk, PARTITION_EPG, RECORD_LIST_NAME, Swap::Yes);
    if (file == nullptr)
        return ListRead::Empty;
    uint64_t size = 0;
    dfile_size(file, &size);
    // An error noted earlier is kept unless this read fails too.
    int noted_before = disk->read_errno;
    disk->read_errno = 0;
    const uint8_t *data;
    while (!dfile_eof(file) && dfile_read(&data, list->record_length, file) == list->record_length) {
        if (disk->read_errno != 0)
            break; // the zeros of a failed read are no entry
        RecordEntry *entry = reclist_append(list);
        memcpy(entry->bytes, data, list->record_length);
        entry->state = 0;
    }
    dfile_close(file);
    if (disk->read_errno != 0)
        return ListRead::ReadError;
    disk->read_errno = noted_before;
    if (size < list->record_length)
        return ListRead::Empty;
    if (list->head != nullptr &&
        memcmp(list->head->bytes, LIST_SIGNATURE, ENTRY_LEAD_LENGTH) != 0)
        return ListRead::NoSignature;
    return ListRead::Loaded;
}

void reclist_save(HumaxDisk *disk)
{
    RecordList *list = &disk->records;
    dfile_delete(disk, PARTITION_EPG, RECORD_BACKUP_NAME);
    disk_write_tables(disk, PARTITION_EPG);
    dfile_rename(disk, PARTITION_EPG, RECORD_LIST_NAME, RECORD_BACKUP_NAME);
    if (list->head == nullptr) {
        dfile_delete(disk, PARTITION_EPG, RECORD_BACKUP_NAME);
    } else {
        memcpy(list->head->bytes, LIST_SIGNATURE, ENTRY_LEAD_LENGTH);
        uint64_t size = uint64_t{list->record_length} * static_cast<unsigned>(list->count) + TRAILER_LENGTH;
        DiskFile *file = dfile_create(disk, PARTITION_EPG, RECORD_LIST_NAME, size,
                                      LIST_FILE_ATTRIBUTES, Swap::Yes);
        for (RecordEntry *entry = list->head; entry != nullptr; entry = entry->next)
            dfile_write(entry->bytes, list->record_length, file);
        static const uint8_t trailer[TRAILER_LENGTH] = {};
        dfile_write(trailer, TRAILER_LENGTH, file);
        dfile_close(file);
    }
    disk_write_tables(disk, PARTITION_EPG);
}

void reclist_remove_entry(HumaxDisk *disk, RecordEntry *entry)
{
    reclist_unlink(&disk->records, entry);
    reclist_save(disk);
}

void reclist_swap_backup(HumaxDisk *disk)
{
    dfile_rename(disk, PARTITION_EPG, RECORD_LIST_NAME, RECORD_TMP_NAME);
    dfile_rename(disk, PARTITION_EPG, RECORD_BACKUP_NAME, RECORD_LIST_NAME);
    dfile_rename(disk, PARTITION_EPG, RECORD_TMP_NAME, RECORD_BACKUP_NAME);
    disk_write_tables(disk, PARTITION_EPG);
    fprintf(stderr, "Main and backup recording lists have been swapped\n");
}

RecordEntry *entry_copy_to_list(const RecordEntry *source, HumaxDisk *destination)
{
    RecordEntry *entry = reclist_append(&destination->records);
    memcpy(entry->bytes, source->bytes, RECORD_BUFFER_SIZE);
    entry->state = source->state;
    return entry;
}
