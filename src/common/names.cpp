#include "common/names.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t EXTENSION_FIELD = 5;

char *remembered_position = nullptr;
char *remembered_end = nullptr;

char *find_extension(char *name)
{
    char *base = strrchr(name, '/');
    base = base ? base + 1 : name;
    char *dot = strrchr(base, '.');
    return dot ? dot : name + strlen(name);
}

} // namespace

int name_set_extension(const char *extension, const char *search_marker, char *name,
                       size_t capacity)
{
    if (search_marker != nullptr) {
        if (name == nullptr) {
            remembered_position = remembered_end = nullptr;
            return 0;
        }
        remembered_position = find_extension(name);
        remembered_end = name + capacity;
    }
    if (remembered_position == nullptr)
        return 0;
    if (remembered_end - remembered_position < static_cast<ptrdiff_t>(EXTENSION_FIELD))
        return 0;
    strncpy(remembered_position, extension, EXTENSION_FIELD);
    return 1;
}

void name_forget_extension()
{
    remembered_position = remembered_end = nullptr;
}

void format_bounded(char *buffer, size_t size, const char *format, ...)
{
    if (size == 0)
        return;
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, size, format, args);
    va_end(args);
}

void sanitize_file_name(char *name)
{
    for (unsigned char *p = reinterpret_cast<unsigned char *>(name); *p; ++p) {
        if (*p < 0x20 || *p >= 0x80 || strchr("\"/\\<>?:*|", *p) != nullptr)
            *p = '_';
    }
}
