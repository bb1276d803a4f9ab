#include "disk/directory.h"

#include <cerrno>
#include <cstdio>
#include <new>

#include "common/error.h"
#include "common/fatal.h"
#include "common/slist.h"
#include "disk/disk_io.h"
#include "disk/humax_disk.h"

namespace {

constexpr unsigned SLOTS_PER_SECTOR = SECTOR_SIZE / DIR_ENTRY_SIZE;
constexpr unsigned NAME_WORDS = DIR_NAME_LENGTH / 4;
constexpr unsigned FIRST_NUMBER = 2;
constexpr unsigned LAST_NUMBER = 2047;

void append(PartitionInfo *partition, DirEntry *entry)
{
    if (partition->dir_tail != nullptr)
        partition->dir_tail->next = entry;
    else
        partition->dir_head = entry;
    partition->dir_tail = entry;
}

unsigned dir_capacity(const PartitionInfo *partition)
{
    return partition->dir_sectors * SLOTS_PER_SECTOR;
}

} // namespace

void dirent_set_name(DirEntry *entry, const char *name)
{
    uint8_t *field = entry->bytes + DIR_NAME_OFFSET;
    memset(field, 0, DIR_NAME_LENGTH);
    strncpy(reinterpret_cast<char *>(field), name, DIR_NAME_LENGTH);
}

int dir_read(HumaxDisk *disk, int index)
{
    PartitionInfo *p = &disk->partitions[index];
    dir_clear(p);
    unsigned capacity = dir_capacity(p);
    uint8_t *region = new (std::nothrow) uint8_t[uint64_t{capacity} * DIR_ENTRY_SIZE];
    if (region == nullptr)
        fatal_errno("malloc");
    if (!disk_read_at(&disk->stream, sector_position(p->dir_sector), region,
                      uint64_t{capacity} * DIR_ENTRY_SIZE)) {
        int error = errno;
        delete[] region;
        return error;
    }
    for (unsigned slot = 0; slot < capacity; ++slot) {
        const uint8_t *raw = region + uint64_t{slot} * DIR_ENTRY_SIZE;
        if (load_le32(raw + DIRENT_FIRST_SECTOR) == 0)
            continue;
        DirEntry *entry = dir_new_entry(p);
        memcpy(entry->bytes, raw, DIR_ENTRY_SIZE);
        swap_words(entry->bytes + DIR_NAME_OFFSET, NAME_WORDS);
    }
    delete[] region;
    return 0;
}

unsigned dir_free_slots(const PartitionInfo *partition)
{
    unsigned capacity = dir_capacity(partition);
    unsigned used = 0;
    for (const DirEntry *e = partition->dir_head; e != nullptr && used <= capacity; e = e->next)
        ++used;
    return used < capacity ? capacity - used : 0;
}

bool dir_require_room(const PartitionInfo *partition, Error *error)
{
    unsigned used = 0;
    for (const DirEntry *e = partition->dir_head; e != nullptr; e = e->next)
        ++used;
    if (used > dir_capacity(partition))
        return error_set(error, ErrorKind::Space, "No free directory entries available, aborting...\n");
    return true;
}

bool dir_write(HumaxDisk *disk, PartitionInfo *partition, Error *error)
{
    unsigned capacity = dir_capacity(partition);
    // Refuse before the first slot is written: a half-written directory would not match
    // its allocation table.
    if (!dir_require_room(partition, error))
        return false;
    uint64_t bytes = uint64_t{capacity} * DIR_ENTRY_SIZE;
    uint8_t *region = new (std::nothrow) uint8_t[bytes]();
    if (region == nullptr)
        fatal_errno("malloc");
    uint8_t *slot = region;
    for (DirEntry *e = partition->dir_head; e != nullptr; e = e->next, slot += DIR_ENTRY_SIZE) {
        memcpy(slot, e->bytes, DIR_ENTRY_SIZE);
        swap_words(slot + DIR_NAME_OFFSET, NAME_WORDS);
    }
    bool ok = disk_write_at(&disk->stream, sector_position(partition->dir_sector), region, bytes);
    int code = errno;
    delete[] region;
    return ok || error_set_errno(error, ErrorKind::Write, code, "Directory");
}

DirEntry *dir_find(PartitionInfo *partition, const char *name)
{
    if (name == nullptr)
        return nullptr;
    for (DirEntry *e = partition->dir_head; e != nullptr; e = e->next) {
        if (strncmp(dirent_name(e), name, DIR_NAME_LENGTH) == 0)
            return e;
    }
    return nullptr;
}

DirEntry *dir_new_entry(PartitionInfo *partition)
{
    DirEntry *entry = new (std::nothrow) DirEntry{};
    if (entry == nullptr)
        fatal_errno("malloc");
    append(partition, entry);
    return entry;
}

void dir_remove_entry(PartitionInfo *partition, DirEntry *entry)
{
    if (slist_unlink(partition->dir_head, partition->dir_tail, entry))
        delete entry;
}

void dir_clear(PartitionInfo *partition)
{
    while (partition->dir_head != nullptr)
        dir_remove_entry(partition, partition->dir_head);
}

unsigned dir_unused_number(PartitionInfo *partition, const char *suffix)
{
    if (suffix == nullptr)
        return 0;
    for (unsigned n = FIRST_NUMBER; n <= LAST_NUMBER; ++n) {
        char name[DIR_NAME_LENGTH + 1];
        snprintf(name, sizeof name, "%u%s", n, suffix);
        if (dir_find(partition, name) == nullptr)
            return n;
    }
    return 0;
}
