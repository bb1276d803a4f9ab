// Loop devices through their ioctl, which knows the backing file by device and inode
// even when it was renamed or deleted, and sysfs, which knows its path.
#ifndef _WIN32
#include "platform/loop_device.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/loop.h>
#include <linux/major.h>
#endif

namespace {

#ifdef __linux__
// Loop devices behind loop devices are followed this deep at most.
constexpr int LOOP_CHAIN_LIMIT = 8;

bool is_loop_device(const struct stat &status)
{
    return S_ISBLK(status.st_mode) && major(status.st_rdev) == LOOP_MAJOR;
}

// The backing file's path as sysfs gives it ("" when it cannot be read).
std::string backing_path(dev_t device)
{
    std::ifstream file("/sys/dev/block/" + std::to_string(major(device)) + ":" +
                       std::to_string(minor(device)) + "/loop/backing_file");
    std::string path;
    std::getline(file, path);
    return path;
}

bool identity_matches(const struct stat &status, const DiskIdentity &identity)
{
    if (identity.block_device)
        return S_ISBLK(status.st_mode) && status.st_rdev == identity.device;
    return !S_ISBLK(status.st_mode) && status.st_dev == identity.device &&
           status.st_ino == identity.inode;
}

// One step: what loop device `fd` (number `device`) shows.
bool one_backing(int fd, dev_t device, LoopBacking *backing)
{
    loop_info64 info{};
    if (ioctl(fd, LOOP_GET_STATUS64, &info) != 0)
        return false; // ENXIO: nothing attached
    backing->path = backing_path(device);
    backing->identity = DiskIdentity{};
    if (info.lo_rdevice != 0) {
        backing->identity.block_device = true;
        backing->identity.device = info.lo_rdevice;
    } else {
        backing->identity.device = info.lo_device;
        backing->identity.inode = info.lo_inode;
    }
    return true;
}
#endif

} // namespace

bool loop_device_backing(int fd, LoopBacking *backing)
{
#ifdef __linux__
    struct stat status;
    if (fstat(fd, &status) != 0 || !is_loop_device(status) || !one_backing(fd, status.st_rdev, backing))
        return false;
    // A loop device behind this one: what is behind that one counts.
    for (int depth = 1; depth < LOOP_CHAIN_LIMIT; ++depth) {
        if (!backing->identity.block_device || major(backing->identity.device) != LOOP_MAJOR)
            break;
        int inner = loop_device_open_backing(*backing);
        if (inner < 0)
            break;
        LoopBacking next;
        bool followed = one_backing(inner, static_cast<dev_t>(backing->identity.device), &next);
        close(inner);
        if (!followed)
            break;
        *backing = next;
    }
    return true;
#else
    (void)fd;
    (void)backing;
    return false;
#endif
}

int loop_device_open_backing(const LoopBacking &backing)
{
#ifdef __linux__
    if (backing.path.empty()) {
        errno = ESTALE;
        return -1;
    }
    int fd = open(backing.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat status;
    if (fstat(fd, &status) != 0 || !identity_matches(status, backing.identity)) {
        close(fd);
        errno = ESTALE;
        return -1;
    }
    return fd;
#else
    (void)backing;
    errno = ENOTSUP;
    return -1;
#endif
}
#endif
