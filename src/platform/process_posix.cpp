#include "platform/process.h"

#include <unistd.h>

void platform_start(int *, char ***, ArgumentWildcards) {}

bool platform_stderr_is_terminal()
{
    return isatty(STDERR_FILENO) == 1;
}
