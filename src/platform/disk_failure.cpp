#include "platform/disk_failure.h"

#include <cerrno>
#include <cstring>

namespace {

// A run opens and locks its disks one after the other and reports a failure at once.
std::string refusal;
std::string lock_file;

} // namespace

void platform_note_refusal(const std::string &message)
{
    refusal = message;
    lock_file.clear();
}

void platform_note_lock_file(const std::string &path)
{
    lock_file = path;
}

std::string platform_open_failure(const char *path, int error)
{
    if (!refusal.empty())
        return refusal;
    if (error == EBUSY)
        return std::string(path) + ": the drive is mounted, or another program holds it: refusing to use it\n";
    return std::string(path) + ": " + strerror(error) + "\n";
}

std::string platform_lock_failure(const char *path, int error)
{
    if (error == EWOULDBLOCK || error == EAGAIN)
        return std::string(path) + " is in use by another process\n";
    const std::string where = lock_file.empty() ? "" : " (lock file " + lock_file + ")";
    return std::string(path) + ": the disk cannot be locked against other runs" + where + ": " + strerror(error) +
           "\n";
}
