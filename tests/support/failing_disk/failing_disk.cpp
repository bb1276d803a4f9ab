// A failing drive for the black-box tests: a FUSE file system serving one file, disk.img,
// with the bytes of an image, whose reads fail with EIO when they touch chosen 512-byte
// sectors (every read, or only the first K). Reads reach it uncached (direct_io), at the
// positions and lengths the reader asked for, so that it can stand in for a drive both as
// an image path and behind a loop device. Each read of an unreadable sector is logged on
// standard error as "read SECTOR N" (its N-th read).
//
//   failing_disk IMAGE S[:K],... MOUNTPOINT [FUSE options]
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char *NAME = "/disk.img";
constexpr uint64_t SECTOR = 512;

struct BadSector {
    unsigned failures = 0; // 0: every read fails
    unsigned reads = 0;
};

int image_fd = -1;
uint64_t image_size = 0;
std::map<uint64_t, BadSector> bad;
std::mutex bad_lock;

int get_attributes(const char *path, struct stat *status, fuse_file_info *)
{
    memset(status, 0, sizeof *status);
    if (strcmp(path, "/") == 0) {
        status->st_mode = S_IFDIR | 0555;
        status->st_nlink = 2;
        return 0;
    }
    if (strcmp(path, NAME) != 0)
        return -ENOENT;
    status->st_mode = S_IFREG | 0444;
    status->st_nlink = 1;
    status->st_size = static_cast<off_t>(image_size);
    return 0;
}

int read_directory(const char *path, void *buffer, fuse_fill_dir_t fill, off_t, fuse_file_info *,
                   fuse_readdir_flags)
{
    if (strcmp(path, "/") != 0)
        return -ENOENT;
    fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
    fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
    fill(buffer, NAME + 1, nullptr, 0, fuse_fill_dir_flags{});
    return 0;
}

int open_file(const char *path, fuse_file_info *info)
{
    if (strcmp(path, NAME) != 0)
        return -ENOENT;
    if ((info->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    info->direct_io = 1;
    return 0;
}

// As a drive reads: sector by sector, stopping at the first it cannot read.
bool fails(uint64_t position, size_t length)
{
    std::lock_guard<std::mutex> guard(bad_lock);
    for (auto it = bad.lower_bound(position / SECTOR);
         it != bad.end() && it->first * SECTOR < position + length; ++it) {
        BadSector &sector = it->second;
        ++sector.reads;
        fprintf(stderr, "read %llu %u\n", static_cast<unsigned long long>(it->first), sector.reads);
        if (sector.failures == 0 || sector.reads <= sector.failures)
            return true;
    }
    return false;
}

int read_file(const char *, char *buffer, size_t size, off_t offset, fuse_file_info *)
{
    auto position = static_cast<uint64_t>(offset);
    if (position >= image_size)
        return 0;
    size = static_cast<size_t>(std::min<uint64_t>(size, image_size - position));
    if (fails(position, size))
        return -EIO;
    ssize_t n = pread(image_fd, buffer, size, offset);
    return n < 0 ? -errno : static_cast<int>(n);
}

void parse_sectors(const char *text)
{
    while (*text != '\0') {
        char *end = nullptr;
        uint64_t sector = strtoull(text, &end, 10);
        if (end == text)
            break;
        BadSector bad_sector;
        if (*end == ':')
            bad_sector.failures = static_cast<unsigned>(strtoul(end + 1, &end, 10));
        bad[sector] = bad_sector;
        text = *end == ',' ? end + 1 : end;
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: %s IMAGE S[:K],... MOUNTPOINT [FUSE options]\n", argv[0]);
        return 2;
    }
    image_fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (image_fd < 0 || fstat(image_fd, &status) != 0) {
        perror(argv[1]);
        return 1;
    }
    image_size = static_cast<uint64_t>(status.st_size);
    parse_sectors(argv[2]);
    setvbuf(stderr, nullptr, _IOLBF, 0);
    fuse_operations operations{};
    operations.getattr = get_attributes;
    operations.readdir = read_directory;
    operations.open = open_file;
    operations.read = read_file;
    std::vector<char *> args = {argv[0], const_cast<char *>("-f"), const_cast<char *>("-oro")};
    for (int i = 3; i < argc; ++i)
        args.push_back(argv[i]);
    return fuse_main(static_cast<int>(args.size()), args.data(), &operations, nullptr);
}
