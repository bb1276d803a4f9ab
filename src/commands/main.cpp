#include "commands/driver.h"
#include "platform/host_file.h"

#include <cstdio>

int main(int argc, char **argv)
{
    // Listing lines and messages go to two streams; keep them in order in a log.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    host_output_install_cleanup();
    return cmd_main(argc, argv);
}
