#include "platform/process.h"

void platform_start(int *, char ***) {}
