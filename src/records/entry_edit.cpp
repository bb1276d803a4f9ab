#include "records/entry_edit.h"

#include "common/error.h"
#include "records/listing.h"
#include "records/record_list.h"

bool entry_set_byte(const RecordList *list, RecordEntry *entry, unsigned offset, uint8_t value,
                    Error *error)
{
    // record_length is never 0 on an opened disk, but the comparison must not wrap.
    if (list->record_length == 0 || offset > list->record_length - 1)
        return error_set(error, ErrorKind::Refused, "offset out of range\n");
    uint8_t old = entry->bytes[offset];
    if (old == value)
        warn("No change\n");
    else
        warn("Changing offset %u(0x%03X) from %u(0x%02X) to %u(0x%02X)\n", offset, offset,
             unsigned{old}, unsigned{old}, unsigned{value}, unsigned{value});
    entry->bytes[offset] = value;
    return true;
}

bool cmd_modify_entry(HumaxDisk *disk, int number, int offset, uint8_t value, Error *error)
{
    RecordEntry *entry = reclist_walk_to(disk, number, nullptr);
    if (entry == nullptr)
        return error_set(error, ErrorKind::Refused, "Recording %d does not exist\n", number);
    if (!entry_set_byte(&disk->records, entry, static_cast<unsigned>(offset), value, error))
        return false;
    // Saved also when nothing changed: the backup then equals the list.
    return reclist_save(disk, error);
}
