#pragma once
// The record list of a disk: "_RECORD_LIST_" in partition 1 (entries back to back and a
// five-byte zero trailer), and its previous version "_RL_BACKUP_".
#include "common/record_entry.h"
#include "disk/humax_disk.h"

constexpr const char *RECORD_LIST_NAME = "_RECORD_LIST_";
constexpr const char *RECORD_BACKUP_NAME = "_RL_BACKUP_";
constexpr const char *RECORD_TMP_NAME = "_RL_TMP_";
constexpr uint32_t LIST_FILE_ATTRIBUTES = 0x1000;

// 304 or 316 from the size (and where both fit, the content) of the list file; asks
// "Is this a Finnish 9200? [no]: " when there is no list. 0 when undecidable.
unsigned reclist_detect_record_length(HumaxDisk *disk);

// The same without a question: 0 when there is no list file, or when undecidable.
unsigned reclist_record_length_of_list(HumaxDisk *disk);

// Fills the disk's list from "_RECORD_LIST_" (record_length must be set). An absent or
// short list is empty ("Record list is empty\n"); a first entry without the signature
// ends the process ("Invalid record list\n").
void reclist_load(HumaxDisk *disk);

// What reading the list found.
enum class ListRead {
    Loaded,
    Empty,       // no list file, or one shorter than an entry
    NoSignature, // the first entry lacks the signature (the entries are in the list)
    ReadError,   // its contents could not be read (see below)
};

// Fills the disk's list like reclist_load, but prints nothing and ends nothing for what it
// finds: the caller decides. A read error ends the process as always unless the disk's
// read errors are ReadErrors::Note; it is then in disk->read_errno and ReadError returned
// (the entries read before it are in the list).
ListRead reclist_read(HumaxDisk *disk);

// Rewrites the whole list: the previous list becomes the backup, an empty list leaves
// neither file. Commits partition 1.
void reclist_save(HumaxDisk *disk);

// reclist_unlink, then reclist_save.
void reclist_remove_entry(HumaxDisk *disk, RecordEntry *entry);

// Exchanges the names of the list and its backup on the disk, commits partition 1 and
// reports it. The list in memory is not changed.
void reclist_swap_backup(HumaxDisk *disk);

// Appends a copy (bytes and state) of `source` to the destination disk's list.
RecordEntry *entry_copy_to_list(const RecordEntry *source, HumaxDisk *destination);
