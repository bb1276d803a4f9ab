#include "common/fatal.h"

#include <cerrno>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/error.h"

namespace {
FatalHandler fatal_handler = nullptr;
MessageSink message_sink = nullptr;

void write_formatted(const char *format, va_list args)
{
    if (message_sink == nullptr) {
        vfprintf(stderr, format, args);
        return;
    }
    char text[1024];
    vsnprintf(text, sizeof text, format, args);
    message_sink(text);
}
} // namespace

void message_set_sink(MessageSink sink)
{
    message_sink = sink;
}

void message_write(const char *text)
{
    if (message_sink != nullptr)
        message_sink(text);
    else
        fputs(text, stderr);
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
    write_formatted(format, args);
    va_end(args);
    fatal_exit(1);
}

void end_run(int status, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    write_formatted(format, args);
    va_end(args);
    fatal_exit(status);
}

void fatal_errno(const char *label)
{
    warn_errno(label);
    fatal_exit(1);
}

void warn_errno(const char *label)
{
    message_write(error_errno_text(label, errno).c_str());
}

void warn(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    write_formatted(format, args);
    va_end(args);
}
