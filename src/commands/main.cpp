#include "commands/driver.h"

int main(int argc, char **argv)
{
    return cmd_main(argc, argv);
}
