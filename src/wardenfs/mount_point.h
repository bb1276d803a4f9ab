#pragma once
// The mount point, checked before the disk is opened or anything is mounted.
#include "common/error.h"

// True when `path` can take the mount: an existing directory. False with *error set when
// it is missing, not a directory (a regular file, the image itself included: FUSE would
// mount over it and answer every access with EIO), or the corpse of a mount whose daemon
// ended without unmounting ("Transport endpoint is not connected"), with what to do.
bool mount_point_check(const char *path, Error *error);
