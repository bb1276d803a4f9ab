#pragma once
// Opening a recorder disk for mounting, before anything is mounted: as diskwarden opens a
// disk to read it, with its messages and exit status 1 for every problem of the volume,
// except that a record list that cannot be used leaves the recordings to recovery/.
#include "wardenfs/wfs.h"

// Opens the disk `argument` names (an image or device path, or "N:" for drive N) for
// reading, takes its shared lock (refused while a writer holds the disk), loads it and
// builds the tree. Problems of the record list are reported on standard error and the
// mount goes on without the list. Ends the process on every other problem.
Wfs *mount_open(const char *argument);

// Builds the file system of a disk already opened and loaded (for tests, and mount_open):
// its read errors are noted from now on.
Wfs *mount_create(HumaxDisk *disk, int64_t disk_time);

// Closes the disk (releasing its lock) and frees everything.
void mount_close(Wfs *wfs);
