#include "common/fatal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {
FatalHandler fatal_handler = nullptr;
}

void fatal_set_handler(FatalHandler handler)
{
    fatal_handler = handler;
}

void fatal_exit(int status)
{
    if (fatal_handler != nullptr)
        fatal_handler(status);
    fflush(stdout);
    exit(status);
}

void fatal(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fatal_exit(1);
}

void fatal_errno(const char *label)
{
    perror(label);
    fatal_exit(1);
}

void warn(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
}
