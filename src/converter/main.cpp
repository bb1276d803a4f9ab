// reelhead: writes recorder headers (.hre) for transport streams recorded elsewhere.
#include "converter/ts_driver.h"

int main(int argc, char **argv)
{
    return ts_main(argc, argv);
}
