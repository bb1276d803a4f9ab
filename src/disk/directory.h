#pragma once
// The flat directory of a partition: 1024 slots of 128 bytes, held in memory as a
// singly linked list of the slots in use, in slot order, with new entries appended.
#include <cstdint>
#include <cstring>

#include "common/byte_order.h"

constexpr unsigned DIR_ENTRY_SIZE = 128;
constexpr unsigned DIR_NAME_OFFSET = 64;
constexpr unsigned DIR_NAME_LENGTH = 60;
constexpr uint32_t DIR_REQUIRED_SECTORS = 256;
constexpr uint32_t ATTRIBUTE_BUFFER = 0x4;

struct PartitionInfo;
struct HumaxDisk;
struct Error;

// One directory slot: its 128 bytes as on the disk, except that `name` (at 64, 60 bytes,
// not necessarily NUL-terminated) is held in natural byte order.
struct DirEntry {
    uint8_t bytes[DIR_ENTRY_SIZE]{};
    DirEntry *next = nullptr;
    mutable bool size_reported = false; // a size its clusters do not hold has been said
};

inline uint32_t dirent_get(const DirEntry *entry, unsigned offset)
{
    return load_le32(entry->bytes + offset);
}

inline void dirent_set(DirEntry *entry, unsigned offset, uint32_t value)
{
    store_le32(entry->bytes + offset, value);
}

constexpr unsigned DIRENT_FIRST_SECTOR = 12;
constexpr unsigned DIRENT_LAST_SECTOR = 20;
constexpr unsigned DIRENT_ALLOCATED_SECTORS = 28;
constexpr unsigned DIRENT_SIZE_HIGH = 32;
constexpr unsigned DIRENT_SIZE_LOW = 36;
constexpr unsigned DIRENT_ATTRIBUTES = 40;

inline uint64_t dirent_size(const DirEntry *entry)
{
    return uint64_t{dirent_get(entry, DIRENT_SIZE_HIGH)} << 32 | dirent_get(entry, DIRENT_SIZE_LOW);
}

inline void dirent_set_size(DirEntry *entry, uint64_t size)
{
    dirent_set(entry, DIRENT_SIZE_HIGH, static_cast<uint32_t>(size >> 32));
    dirent_set(entry, DIRENT_SIZE_LOW, static_cast<uint32_t>(size));
}

// The entry's name, at most 60 bytes (not necessarily terminated inside the entry).
inline const char *dirent_name(const DirEntry *entry)
{
    return reinterpret_cast<const char *>(entry->bytes + DIR_NAME_OFFSET);
}

// Copies the name, bounded to 60 bytes, into `out` (at least 61 bytes) with a terminator.
inline void dirent_copy_name(const DirEntry *entry, char *out)
{
    memcpy(out, dirent_name(entry), DIR_NAME_LENGTH);
    out[DIR_NAME_LENGTH] = '\0';
}

// Stores `name` (at most 60 bytes, NUL-padded).
void dirent_set_name(DirEntry *entry, const char *name);

// Reads the directory of partition i into memory (called by disk opening): every slot
// whose first sector is not 0, as stored. Returns 0, or the errno of a failed read (the
// directory is then empty).
int dir_read(HumaxDisk *disk, int index);

// Writes the directory back compacted: the entries in list order, then zero slots.
// Refuses a list longer than the region before anything is written (dir_require_room's
// error). False, with *error set (ErrorKind::Write, the system's error,
// "Directory: ..."), when the write fails: the region may then hold part of the list.
bool dir_write(HumaxDisk *disk, PartitionInfo *partition, Error *error);

// Slots of the directory region not taken by the entries in memory (0 when they are more
// than the region holds).
unsigned dir_free_slots(const PartitionInfo *partition);

// False, with "No free directory entries available, aborting...\n" (ErrorKind::Space),
// when the entries in memory no longer fit the region (checked before a commit writes
// anything).
bool dir_require_room(const PartitionInfo *partition, Error *error);

// The first entry named `name` (compared over at most 60 bytes), or null.
DirEntry *dir_find(PartitionInfo *partition, const char *name);

// A new all-zero entry appended at the end of the list.
DirEntry *dir_new_entry(PartitionInfo *partition);

// Takes the entry out of the list and frees it; an entry not in the list is left alone.
void dir_remove_entry(PartitionInfo *partition, DirEntry *entry);

// Removes and frees every entry.
void dir_clear(PartitionInfo *partition);

// The smallest n from 2 to 2047 such that no entry is named n followed by `suffix`;
// 0 when all are taken or `suffix` is null.
unsigned dir_unused_number(PartitionInfo *partition, const char *suffix);
