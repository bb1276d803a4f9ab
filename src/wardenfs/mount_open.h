#pragma once
// Opening a recorder disk for mounting, before anything is mounted: as diskwarden opens a
// disk to read it, with its messages and exit status 1 for every problem of the volume,
// except that a record list that cannot be used leaves the recordings to recovery/.
#include "wardenfs/wfs.h"

// What the mount reads of the disk.
enum class MountScope {
    Whole,         // every partition and the record list; the recordings partition alone
                   // when the rest cannot be read
    FirstPartition // the recordings partition alone, as diskwarden -r -n reads it
};

// Opens the disk `argument` names (an image or device path, or "N:" for drive N) for
// reading, reached as `access` says (direct I/O, a stream wrapper), takes its shared lock
// (refused while a writer holds the disk), loads it and builds the tree. Problems of the
// record list are reported on standard error and the mount goes on without the list. A
// disk whose volume cannot be read whole (a truncated image, a damaged partition table,
// EPG or MPEG/JPEG table) is opened again as `MountScope::FirstPartition` says, with its
// problem and a warning on standard error (called before serving: messages go to standard
// error). False, with *error set, on every other
// problem and when the recordings partition cannot be read either (nothing is left open).
bool mount_open(const char *argument, const DiskOpenOptions &access, MountScope scope, Wfs **wfs,
                Error *error);

// The options the mount opens its disk with: read-only, locked, judged as the programs
// judge a disk, the record list optional (or, for the first partition alone, not read).
DiskOpenOptions mount_open_options(const DiskOpenOptions &access, MountScope scope = MountScope::Whole);

// Says what was wrong with the record list of a disk opened with mount_open_options and
// that the mount goes on without it (nothing when the list was loaded).
void mount_report_list(const HumaxDisk *disk);

// Builds the file system of a disk already opened and loaded (for tests, and mount_open).
Wfs *mount_create(HumaxDisk *disk, int64_t disk_time);

// Closes the disk (releasing its lock) and frees everything.
void mount_close(Wfs *wfs);
