// A library to preload (LD_PRELOAD) into diskwarden: it counts the positioned writes
// (pwrite, pwrite64) to one file, the disk image, and ends the process at the k-th one
// as a crash would, leaving the image as the writes before it made it.
//
// Environment:
//   DW_FAULT_IMAGE  path of the image whose writes are counted (others pass untouched)
//   DW_FAULT_AT     k: the k-th write (from 1) ends the process with status 99 before it
//                   reaches the image; 0 or unset: never
//   DW_FAULT_TORN   n > 0: the k-th write stores only its first n sectors (all of it when
//                   shorter) before the process ends, as a write cut by a power failure
//   DW_FAULT_COUNT  path of a file that receives the number of writes counted, at exit, or
//                   the byte position and length of the write that ended the process
// A written-in-order crash model: whatever was written before the fault stays written.
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

using PwriteFn = ssize_t (*)(int, const void *, size_t, off_t);

constexpr int FAULT_STATUS = 99;
constexpr size_t SECTOR = 512;

unsigned long writes_seen = 0;

struct Target {
    bool known = false;
    bool present = false;
    dev_t device = 0;
    ino_t inode = 0;
};

Target &target()
{
    static Target t;
    if (!t.known) {
        t.known = true;
        const char *path = getenv("DW_FAULT_IMAGE");
        struct stat status;
        if (path != nullptr && stat(path, &status) == 0) {
            t.present = true;
            t.device = status.st_dev;
            t.inode = status.st_ino;
        }
    }
    return t;
}

bool is_image(int fd)
{
    const Target &t = target();
    struct stat status;
    return t.present && fstat(fd, &status) == 0 && status.st_dev == t.device &&
           status.st_ino == t.inode;
}

unsigned long fault_at()
{
    const char *value = getenv("DW_FAULT_AT");
    return value != nullptr ? strtoul(value, nullptr, 10) : 0;
}

ssize_t counted_write(PwriteFn next, int fd, const void *data, size_t length, off_t position)
{
    if (!is_image(fd))
        return next(fd, data, length, position);
    ++writes_seen;
    if (writes_seen == fault_at()) {
        if (const char *path = getenv("DW_FAULT_COUNT")) {
            if (FILE *out = fopen(path, "w")) {
                fprintf(out, "%lu %lld %zu\n", writes_seen, static_cast<long long>(position), length);
                fclose(out);
            }
        }
        const char *torn = getenv("DW_FAULT_TORN");
        size_t part = torn != nullptr ? strtoul(torn, nullptr, 10) * SECTOR : 0;
        if (part > 0)
            next(fd, data, part < length ? part : length, position);
        _exit(FAULT_STATUS);
    }
    return next(fd, data, length, position);
}

__attribute__((destructor)) void report_count()
{
    const char *path = getenv("DW_FAULT_COUNT");
    if (path == nullptr)
        return;
    if (FILE *out = fopen(path, "w")) {
        fprintf(out, "%lu\n", writes_seen);
        fclose(out);
    }
}

} // namespace

extern "C" ssize_t pwrite(int fd, const void *data, size_t length, off_t position)
{
    static auto next = reinterpret_cast<PwriteFn>(dlsym(RTLD_NEXT, "pwrite"));
    return counted_write(next, fd, data, length, position);
}

extern "C" ssize_t pwrite64(int fd, const void *data, size_t length, off64_t position)
{
    static auto next = reinterpret_cast<PwriteFn>(dlsym(RTLD_NEXT, "pwrite64"));
    return counted_write(next, fd, data, length, position);
}
