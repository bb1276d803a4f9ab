#include "records/entry_edit.h"

#include <cstdio>

#include "common/fatal.h"
#include "records/listing.h"
#include "records/record_list.h"

void entry_set_byte(const RecordList *list, RecordEntry *entry, unsigned offset, uint8_t value)
{
    // record_length is never 0 on an opened disk, but the comparison must not wrap.
    if (list->record_length == 0 || offset > list->record_length - 1)
        fatal("offset out of range\n");
    uint8_t old = entry->bytes[offset];
    if (old == value)
        fprintf(stderr, "No change\n");
    else
        fprintf(stderr, "Changing offset %u(0x%03X) from %u(0x%02X) to %u(0x%02X)\n", offset,
                offset, unsigned{old}, unsigned{old}, unsigned{value}, unsigned{value});
    entry->bytes[offset] = value;
}

void cmd_modify_entry(HumaxDisk *disk, int number, int offset, uint8_t value)
{
    RecordEntry *entry = reclist_walk_to(disk, number, nullptr);
    if (entry == nullptr)
        fatal("Recording %d does not exist\n", number);
    entry_set_byte(&disk->records, entry, static_cast<unsigned>(offset), value);
    // Saved also when nothing changed: the backup then equals the list.
    reclist_save(disk);
}
