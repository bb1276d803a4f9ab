#pragma once
// The record list of a disk: "_RECORD_LIST_" in partition 1 (entries back to back and a
// five-byte zero trailer), and its previous version "_RL_BACKUP_".
#include <functional>

#include "common/record_entry.h"
#include "disk/humax_disk.h"

constexpr const char *RECORD_LIST_NAME = "_RECORD_LIST_";
constexpr const char *RECORD_BACKUP_NAME = "_RL_BACKUP_";
constexpr const char *RECORD_TMP_NAME = "_RL_TMP_";
constexpr uint32_t LIST_FILE_ATTRIBUTES = 0x1000;

// Decides the record length and fills the disk's list from "_RECORD_LIST_", as opening a
// disk does: the disk format of partition 1 fixes the length (0xE000000D and 0xE0000030:
// 304), or for 0xE000000F the list's size and content decide it; a disk without a list
// asks `ask_short_entries` (true: 304) when given, and otherwise leaves the length 0. An
// absent or short list is empty ("Record list is empty\n", warn). False, with the list
// left empty (its record length kept), for an unknown format ("Unknown Humax disk
// format\n", ErrorKind::Format), a length the list does not tell ("Error: unknown record
// length\n", RecordLength), a first entry without the signature ("Invalid record
// list\n", RecordList), or a list that could not be read (Read). Asks nothing itself.
bool reclist_load(HumaxDisk *disk, const std::function<bool()> &ask_short_entries, Error *error);

// Rewrites the whole list: the previous list becomes the backup, an empty list leaves
// neither file. Commits partition 1. False when the new list's file cannot be created
// (dfile_create's error, such as no room) or written (dfile_write's): the disk then holds
// the old list without a backup, and the list in memory is not saved. False also when a
// commit fails (disk_write_tables' error): the disk is then as an interrupted save leaves
// it, and nothing more should be written to partition 1.
bool reclist_save(HumaxDisk *disk, Error *error);

// reclist_unlink, then reclist_save.
bool reclist_remove_entry(HumaxDisk *disk, RecordEntry *entry, Error *error);

// Exchanges the names of the list and its backup on the disk, commits partition 1 and
// reports it. The list in memory is not changed. False, with disk_write_tables' error and
// nothing reported, when the commit fails.
bool reclist_swap_backup(HumaxDisk *disk, Error *error);

// Appends a copy (bytes and state) of `source` to the destination disk's list.
RecordEntry *entry_copy_to_list(const RecordEntry *source, HumaxDisk *destination);
