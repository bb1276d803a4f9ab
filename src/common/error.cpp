#include "common/error.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

bool error_set(Error *error, ErrorKind kind, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    error->kind = kind;
    error->code = 0;
    error->text.assign(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0)
        vsnprintf(error->text.data(), error->text.size() + 1, format, again);
    va_end(again);
    return false;
}

std::string error_errno_text(const char *label, int code)
{
    std::string text;
    if (label != nullptr && label[0] != '\0')
        text = std::string(label) + ": ";
    return text + strerror(code) + "\n";
}

bool error_set_errno(Error *error, ErrorKind kind, int code, const char *label)
{
    error->kind = kind;
    error->code = code;
    error->text = error_errno_text(label, code);
    return false;
}

void error_end(const Error &error)
{
    message_write(error.text.c_str());
    fatal_exit(1);
}

void error_warn(const Error &error)
{
    message_write(error.text.c_str());
}
