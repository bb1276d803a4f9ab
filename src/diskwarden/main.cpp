#include "diskwarden/driver.h"
#include "platform/host_file.h"
#include "platform/process.h"

#include <cstdio>

int main(int argc, char **argv)
{
    // -p's pattern is searched by the program itself: it must arrive as typed.
    platform_start(&argc, &argv, ArgumentWildcards::Keep);
    // Listing lines and messages go to two streams; keep them in order in a log.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    host_output_install_cleanup();
    return cmd_main(argc, argv);
}
