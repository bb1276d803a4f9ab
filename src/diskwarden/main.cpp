#include "diskwarden/driver.h"
#include "platform/host_file.h"
#include "platform/process.h"

#include <cstdio>

#ifdef DW_TEST_HOOKS
#include "disk/test_hooks.h"
#endif

int main(int argc, char **argv)
{
    // -p's pattern is searched by the program itself: it must arrive as typed.
    platform_start(&argc, &argv, ArgumentWildcards::Keep);
    // Listing lines and messages go to two streams; keep them in order in a log.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    host_output_install_cleanup();
    DiskOpenOptions access;
#ifdef DW_TEST_HOOKS
    // Only test builds obey the tests' variables (direct I/O, the fault injector).
    DiskTestHooks hooks = disk_test_hooks_from_environment();
    access.direct = hooks.direct;
    access.wrap_stream = [hooks](DiskStream *stream) { disk_test_hooks_apply(hooks, stream); };
#endif
    return cmd_main(argc, argv, access);
}
