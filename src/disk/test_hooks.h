#pragma once
// What the programs' own tests ask of the disk streams, through the environment. Only the
// programs' `main` reads it, and only in builds made with DW_TEST_HOOKS (the test and
// sanitizer builds; never a release or a package), so that an installed program never
// obeys these variables:
//   DISKWARDEN_DIRECT=1  every disk is opened for direct I/O (aligned transfers only)
//   DW_FAULT_IMAGE  the image whose transfers the fault injector counts (others pass)
//   DW_FAULT_AT     k: the k-th transfer of the kind faults (0 or unset: never)
//   DW_FAULT_KIND   "write" (default) or "read"
//   DW_FAULT_ACTION "crash" (default: the process ends with status 99) or "fail" (EIO)
//   DW_FAULT_TORN   n > 0: a crashing write stores its first n sectors first
//   DW_FAULT_COUNT  a file that receives the number of transfers counted at close, or the
//                   position and length of the one that faulted; with unreadable
//                   sectors, the read transfers and the most reads one sector had
//   DW_FAULT_UNREADABLE "S[:K],...": sectors whose reads fail (only their first K reads)
//   DW_FAULT_SECTOR the device's sector size for those (512 by default)
//   DW_FAULT_SLOW   "FROM,TO,MS": reads touching the bytes [FROM, TO) wait MS milliseconds
#include <string>

#include "disk/disk_io.h"

struct DiskTestHooks {
    bool direct = false;
    std::string fault_image; // empty: no fault injection
    FaultPlan fault;
};

DiskTestHooks disk_test_hooks_from_environment();

// Wraps `stream` in the fault injector when it reaches the image the hooks name.
void disk_test_hooks_apply(const DiskTestHooks &hooks, DiskStream *stream);
