#pragma once
// Opening disks in process as the programs do, for tests of the library: through the one
// opening call, with the environment's test hooks (the direct_io_* runs), and ending the
// process with the programs' message and status 1 on failure, so that a test of a refusal
// sees exactly what a user sees (EXPECT_EXIT). Header-only: a test links only the modules
// whose helpers it calls (open_volume needs the disk library, open_disk the records one).
#include <cstdio>
#include <string>

#include "common/error.h"
#include "common/prompt.h"
#include "disk/humax_disk.h"
#include "disk/test_hooks.h"
#include "records/disk_open.h"

namespace testimg {

// The options a program's `main` and driver give (the tests' hooks, `writable`), without
// the lock: a test may hold one image open twice.
inline DiskOpenOptions program_options(bool writable, DiskOpenPolicy policy = {})
{
    DiskTestHooks hooks = disk_test_hooks_from_environment();
    DiskOpenOptions options;
    options.direct = hooks.direct;
    options.wrap_stream = [hooks](DiskStream *stream) { disk_test_hooks_apply(hooks, stream); };
    options.writable = writable;
    options.policy = policy;
    return options;
}

// The disk's volume (no record list); ends the process on failure.
inline HumaxDisk *open_volume(const std::string &path, bool writable = false, DiskOpenPolicy policy = {})
{
    HumaxDisk *disk = nullptr;
    Error error;
    if (!disk_open_volume({path}, program_options(writable, policy), &disk, &error))
        error_end(error);
    return disk;
}

// The question of a disk whose record length only the user can tell, as diskwarden asks it.
inline bool ask_finnish()
{
    fputs("Is this a Finnish 9200? [no]: ", stderr);
    return prompt_yes_no() != 0;
}

// The disk with its record list (outside recovery mode); ends the process on failure.
inline HumaxDisk *open_disk(const std::string &path, bool writable = false, DiskOpenPolicy policy = {})
{
    DiskOpenOptions options = program_options(writable, policy);
    options.list = policy.recovery ? RecordListLoad::Skip : RecordListLoad::Required;
    options.ask_short_entries = ask_finnish;
    HumaxDisk *disk = nullptr;
    Error error;
    if (!disk_open({path}, options, &disk, &error))
        error_end(error);
    return disk;
}

} // namespace testimg
