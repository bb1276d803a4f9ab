// reelhead: writes recorder headers (.hre) for transport streams recorded elsewhere.
#include "converter/ts_driver.h"
#include "platform/host_file.h"
#include "platform/process.h"

int main(int argc, char **argv)
{
    platform_start(&argc, &argv);
    host_output_install_cleanup();
    return ts_main(argc, argv);
}
