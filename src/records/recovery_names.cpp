#include "records/recovery_names.h"

#include <cstring>

namespace {

// The companions of a name are one character longer (".epg", ".elu" for ".av"), and the
// extension helper writes a five-byte field at the dot; a recording name must leave room
// for both. Longer names come only from damaged directories and are passed over.
constexpr size_t LONGEST_NAME = RECOVERY_NAME_SIZE - 2;

const char *const RECORDING_EXTENSION = ".av";

} // namespace

bool recovery_recording_name(const DirEntry *entry, char *name)
{
    char full[DIR_NAME_LENGTH + 1];
    dirent_copy_name(entry, full);
    const char *dot = strchr(full, '.');
    if (dot == nullptr || strcmp(dot, RECORDING_EXTENSION) != 0)
        return false;
    size_t length = strlen(full);
    if (length > LONGEST_NAME)
        return false;
    memcpy(name, full, length + 1);
    return true;
}
