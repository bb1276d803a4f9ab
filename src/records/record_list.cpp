#include "records/record_list.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/error.h"
#include "common/fatal.h"
#include "disk/disk_file.h"
#include "disk/file_map.h"

namespace {

constexpr unsigned TRAILER_LENGTH = 5;
constexpr uint32_t FORMAT_DETECT = 0xE000000F;
constexpr uint32_t FORMAT_304_A = 0xE000000D;
constexpr uint32_t FORMAT_304_B = 0xE0000030;

// The record length the disk format of partition 1 fixes; 0 when the list must decide
// (FORMAT_DETECT). False for a format no recorder writes.
bool format_record_length(const HumaxDisk *disk, unsigned *length, Error *error)
{
    uint32_t format = disk->partitions[PARTITION_EPG].format_code;
    *length = 0;
    if (format == FORMAT_304_A || format == FORMAT_304_B)
        *length = RECORD_LENGTH_SHORT;
    else if (format != FORMAT_DETECT)
        return error_set(error, ErrorKind::Format, "Unknown Humax disk format\n");
    return true;
}

// Reads the pieces of `chunk` bytes of the list from `from` on, in order, calling
// found(piece) for each whole one as long as it returns true. The list is read in blocks
// of many pieces: a list of thousands of entries takes a few transfers.
template <typename Found>
bool read_pieces(FileMap *list, uint64_t from, unsigned chunk, Error *error, Found found)
{
    constexpr size_t PIECES_PER_READ = 256;
    const size_t block = size_t{chunk} * PIECES_PER_READ;
    std::vector<uint8_t> pieces(block);
    for (uint64_t offset = from; offset < list->size; offset += block) {
        // No more than the list holds (to the end of its last 4-byte group): an
        // unreadable sector after its end, in its last cluster, is none of the list's.
        size_t wanted = static_cast<size_t>(std::min<uint64_t>(block, (list->size - offset + 3) / 4 * 4));
        size_t got = 0;
        if (!dfile_map_read(list, offset, pieces.data(), wanted, &got, error))
            return false;
        for (size_t at = 0; at + chunk <= got; at += chunk)
            if (!found(pieces.data() + at))
                return true;
        if (got < block)
            return true;
    }
    return true;
}

// Counts the chunks of `chunk` bytes after the first five bytes whose byte 6 (the entry
// marker of the entry that begins five bytes earlier) is 1.
bool count_marked_chunks(FileMap *list, unsigned chunk, unsigned *count, Error *error)
{
    *count = 0;
    uint8_t lead[TRAILER_LENGTH];
    size_t got = 0;
    if (!dfile_map_read(list, 0, lead, TRAILER_LENGTH, &got, error))
        return false;
    if (got < TRAILER_LENGTH)
        return true;
    return read_pieces(list, TRAILER_LENGTH, chunk, error, [&](const uint8_t *piece) {
        *count += piece[6] == 1 ? 1 : 0;
        return true;
    });
}

// 304 or 316 from the size of the list file and, where both fit, its content; 0 when
// that does not tell.
bool length_of_list(FileMap *list, unsigned *length, Error *error)
{
    *length = 0;
    uint64_t data = list->size - TRAILER_LENGTH;
    bool fits_short = data % RECORD_LENGTH_SHORT == 0;
    bool fits_long = data % RECORD_LENGTH_LONG == 0;
    if (fits_short != fits_long) {
        *length = fits_short ? RECORD_LENGTH_SHORT : RECORD_LENGTH_LONG;
        return true;
    }
    if (!fits_short)
        return true;
    // A multiple of both lengths: count the valid entries.
    unsigned long_count, short_count;
    if (!count_marked_chunks(list, RECORD_LENGTH_LONG, &long_count, error) ||
        !count_marked_chunks(list, RECORD_LENGTH_SHORT, &short_count, error))
        return false;
    if (long_count != short_count)
        *length = long_count > short_count ? RECORD_LENGTH_LONG : RECORD_LENGTH_SHORT;
    return true;
}

// The entries, until a piece comes short (which drops the trailer).
bool read_entries(FileMap *list, RecordList *records, Error *error)
{
    unsigned length = records->record_length;
    return read_pieces(list, 0, length, error, [&](const uint8_t *piece) {
        RecordEntry *entry = reclist_append(records);
        memcpy(entry->bytes, piece, length);
        entry->state = 0;
        return true;
    });
}

bool load_list(HumaxDisk *disk, const std::function<bool()> &ask_short_entries, Error *error)
{
    RecordList *records = &disk->records;
    unsigned length = 0;
    if (!format_record_length(disk, &length, error))
        return false;
    FileMapOptions options;
    options.report = true;
    FileMap list;
    if (!dfile_map_name(disk, PARTITION_EPG, RECORD_LIST_NAME, options, &list)) {
        if (length == 0 && ask_short_entries)
            length = ask_short_entries() ? RECORD_LENGTH_SHORT : RECORD_LENGTH_LONG;
        records->record_length = length;
        warn("Record list is empty\n");
        return true;
    }
    if (length == 0 && !length_of_list(&list, &length, error))
        return false;
    if (length == 0)
        return error_set(error, ErrorKind::RecordLength, "Error: unknown record length\n");
    records->record_length = length;
    if (!read_entries(&list, records, error))
        return false;
    if (list.size < length) {
        warn("Record list is empty\n");
        return true;
    }
    if (records->head != nullptr && memcmp(records->head->bytes, LIST_SIGNATURE, ENTRY_LEAD_LENGTH) != 0)
        return error_set(error, ErrorKind::RecordList, "Invalid record list\n");
    return true;
}

} // namespace

bool reclist_load(HumaxDisk *disk, const std::function<bool()> &ask_short_entries, Error *error)
{
    reclist_clear(&disk->records);
    disk->records.record_length = 0;
    if (load_list(disk, ask_short_entries, error))
        return true;
    reclist_clear(&disk->records);
    return false;
}

bool reclist_save(HumaxDisk *disk, Error *error)
{
    RecordList *list = &disk->records;
    dfile_delete(disk, PARTITION_EPG, RECORD_BACKUP_NAME);
    if (!disk_write_tables(disk, PARTITION_EPG, error))
        return false;
    dfile_rename(disk, PARTITION_EPG, RECORD_LIST_NAME, RECORD_BACKUP_NAME);
    if (list->head == nullptr) {
        dfile_delete(disk, PARTITION_EPG, RECORD_BACKUP_NAME);
    } else {
        memcpy(list->head->bytes, LIST_SIGNATURE, ENTRY_LEAD_LENGTH);
        uint64_t size = uint64_t{list->record_length} * static_cast<unsigned>(list->count) + TRAILER_LENGTH;
        DiskFile *file = dfile_create(disk, PARTITION_EPG, RECORD_LIST_NAME, size,
                                      LIST_FILE_ATTRIBUTES, Swap::Yes, error);
        if (file == nullptr) {
            // Nothing after the backup's removal is on the disk: the list keeps its name.
            dfile_rename(disk, PARTITION_EPG, RECORD_BACKUP_NAME, RECORD_LIST_NAME);
            return false;
        }
        bool written = true;
        for (RecordEntry *entry = list->head; entry != nullptr && written; entry = entry->next)
            written = dfile_write(entry->bytes, list->record_length, file, error);
        static const uint8_t trailer[TRAILER_LENGTH] = {};
        written = written && dfile_write(trailer, TRAILER_LENGTH, file, error);
        dfile_close(file);
        if (!written) {
            // Never committed: the disk still holds the list as it was, under its name.
            dfile_delete(disk, PARTITION_EPG, RECORD_LIST_NAME);
            dfile_rename(disk, PARTITION_EPG, RECORD_BACKUP_NAME, RECORD_LIST_NAME);
            return false;
        }
    }
    return disk_write_tables(disk, PARTITION_EPG, error);
}

bool reclist_remove_entry(HumaxDisk *disk, RecordEntry *entry, Error *error)
{
    reclist_unlink(&disk->records, entry);
    return reclist_save(disk, error);
}

bool reclist_swap_backup(HumaxDisk *disk, Error *error)
{
    dfile_rename(disk, PARTITION_EPG, RECORD_LIST_NAME, RECORD_TMP_NAME);
    dfile_rename(disk, PARTITION_EPG, RECORD_BACKUP_NAME, RECORD_LIST_NAME);
    dfile_rename(disk, PARTITION_EPG, RECORD_TMP_NAME, RECORD_BACKUP_NAME);
    if (!disk_write_tables(disk, PARTITION_EPG, error))
        return false;
    warn("Main and backup recording lists have been swapped\n");
    return true;
}

RecordEntry *entry_copy_to_list(const RecordEntry *source, HumaxDisk *destination)
{
    RecordEntry *entry = reclist_append(&destination->records);
    memcpy(entry->bytes, source->bytes, RECORD_BUFFER_SIZE);
    entry->state = source->state;
    return entry;
}
