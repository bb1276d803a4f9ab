#include "platform/host_path.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

int platform_open_read(const char *path)
{
    return _open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

// The attributes of a link (reparse point) are its own, so a dangling one counts too.
bool platform_path_taken(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}
