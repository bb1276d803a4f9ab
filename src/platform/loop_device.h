#pragma once
// Loop devices (Linux): block devices that show the bytes of a file, or of another
// device. Desktop disk-image tools attach an image as one, so the same recorder disk can
// be reached as the image and as /dev/loopN at once: for the same-disk check and the lock
// a loop device counts as what is behind it.
#include <string>

#include "platform/disk_stream.h"

// What a loop device shows: the identity of the file or device behind it (through loop
// devices behind loop devices, too), and its path as the system names it.
struct LoopBacking {
    DiskIdentity identity;
    std::string path; // may be empty, or no longer name it (a deleted or renamed file)
};

// Fills `backing` when `fd` is an attached loop device; false for anything else.
bool loop_device_backing(int fd, LoopBacking *backing);

// Opens what is behind a loop device, for reading and locking: a descriptor, or -1
// (errno set; ESTALE when the path no longer names it).
int loop_device_open_backing(const LoopBacking &backing);
