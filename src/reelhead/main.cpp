// reelhead: writes recorder headers (.hre) for transport streams recorded elsewhere.
#include "reelhead/ts_driver.h"
#include "platform/host_file.h"
#include "platform/process.h"

int main(int argc, char **argv)
{
    platform_start(&argc, &argv, ArgumentWildcards::Expand);
    host_output_install_cleanup();
    return ts_main(argc, argv);
}
