#pragma once
#include "disk/humax_disk.h"

// Loads what a command needs of an opened disk (its stream opened, and locked by the
// caller): the volume (partition table, allocation tables, directories), then, outside
// recovery mode, the disk format of partition 1 decides the record length (0xE000000F by
// detection, 0xE000000D and 0xE0000030 are 304) and the list is loaded. Ends the process
// with the documented messages on failure.
void disk_load(HumaxDisk *disk, const DiskOpenPolicy &policy);

// The two halves of disk_load, for a caller that looks at the volume before anything is
// asked (the record length of some disks is decided by a question): disk_load_volume
// reads and validates the volume; disk_load_records decides the record length and loads
// the list.
void disk_load_volume(HumaxDisk *disk, const DiskOpenPolicy &policy);
void disk_load_records(HumaxDisk *disk, const DiskOpenPolicy &policy);

// disk_create, disk_open_stream and disk_load in one (no lock): for tests and tools.
HumaxDisk *disk_open(const char *path, const char *mode, const DiskOpenPolicy &policy = {});

// What became of the record list in a tolerant load.
enum class ListLoad {
    Loaded,
    Empty,         // no list, or one shorter than an entry: no recordings
    UnknownLength, // the list's size and contents fit neither record length
    Invalid,       // its first entry lacks the signature ("Invalid record list")
    ReadError,     // it could not be read (disk->read_errno)
};

// disk_load for a program that must go on without the record list (the mounted file
// system): the volume is read and validated and the disk format checked as disk_load does,
// ending the process with the same messages, but the list's problems end nothing and ask
// nothing: the list is then left empty and the problem returned. Prints nothing itself.
ListLoad disk_load_tolerant(HumaxDisk *disk);
