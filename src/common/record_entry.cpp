#include "common/record_entry.h"

#include <cstdlib>
#include <new>

#include "common/byte_order.h"
#include "common/fatal.h"
#include "common/slist.h"

uint16_t entry_be16(const RecordEntry *entry, unsigned offset)
{
    return load_be16(entry->bytes + offset);
}

uint32_t entry_be32(const RecordEntry *entry, unsigned offset)
{
    return load_be32(entry->bytes + offset);
}

void entry_put_be16(RecordEntry *entry, unsigned offset, uint16_t value)
{
    store_be16(entry->bytes + offset, value);
}

void entry_put_be32(RecordEntry *entry, unsigned offset, uint32_t value)
{
    store_be32(entry->bytes + offset, value);
}

void entry_set_file_number(RecordEntry *entry, unsigned number)
{
    entry_put_be16(entry, ENTRY_FILE_NUMBER, static_cast<uint16_t>(number));
    entry_put_be16(entry, ENTRY_FILE_NUMBER_CHECK, static_cast<uint16_t>(number));
}

bool entry_is_protected(const RecordEntry *entry, unsigned record_length)
{
    return (entry->bytes[entry_status_offset(record_length)] & PROTECTED) != 0;
}

RecordEntry *reclist_append(RecordList *list)
{
    RecordEntry *entry = new (std::nothrow) RecordEntry{};
    if (entry == nullptr)
        fatal("malloc\n");
    if (list->tail != nullptr)
        list->tail->next = entry;
    else
        list->head = entry;
    list->tail = entry;
    ++list->count;
    return entry;
}

void reclist_unlink(RecordList *list, RecordEntry *entry)
{
    if (!slist_unlink(list->head, list->tail, entry))
        return;
    delete entry;
    --list->count;
}

RecordEntry *reclist_find(const RecordList *list, int position, uint8_t mask)
{
    if (position == 0 && mask == 0)
        return nullptr;
    int index = 0;
    for (RecordEntry *entry = list->head; entry != nullptr; entry = entry->next) {
        ++index;
        if (mask != 0 ? (entry->state & mask) != 0 : index == position)
            return entry;
    }
    return nullptr;
}

void reclist_clear(RecordList *list)
{
    while (list->head != nullptr)
        reclist_unlink(list, list->head);
}
