#include "fuzz_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "common/error.h"
#include "common/fatal.h"
#include "common/names.h"
#include "common/run_options.h"
#include "disk/file_map.h"
#include "records/disk_open.h"
#include "records/record_list.h"

namespace fuzz {

namespace {

[[noreturn]] void throw_exit(int status)
{
    throw ProgramExit{status};
}

void remove_scratch()
{
    std::error_code ec;
    std::filesystem::remove_all(scratch_dir(), ec);
}

constexpr uint32_t SECTOR_MASK = 0xFFFFFF;

} // namespace

void begin_input()
{
    fatal_set_handler(throw_exit);
    run_options = RunOptions{};
    run_options.ask = 0;
    name_forget_extension();
}

const std::string &scratch_dir()
{
    // Never destroyed: the exit handler that removes the directory still needs the name.
    static const std::string &dir = *new std::string([] {
        const char *base = getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") + "/dwfuzz.XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr) {
            perror("mkdtemp");
            abort();
        }
        atexit(remove_scratch);
        return std::string(name.data());
    }());
    return dir;
}

std::string scratch_file(const std::string &name)
{
    return scratch_dir() + "/" + name;
}

void write_file(const std::string &path, const uint8_t *data, size_t size)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) || close(fd) != 0) {
        perror(path.c_str());
        abort();
    }
}

MemoryImage chunk_image(const uint8_t *data, size_t size)
{
    MemoryImage image;
    size_t at = 0;
    while (at + 6 <= size) {
        uint32_t sector = (uint32_t{data[at]} | uint32_t{data[at + 1]} << 8 |
                           uint32_t{data[at + 2]} << 16 | uint32_t{data[at + 3]} << 24) &
                          SECTOR_MASK;
        size_t length = data[at + 4] | size_t{data[at + 5]} << 8;
        at += 6;
        if (length > size - at)
            length = size - at;
        if (length > 0)
            memory_image_write(&image, uint64_t{sector} * SECTOR_SIZE, data + at, length);
        at += length;
    }
    return image;
}

Bytes chunks_of_image(const std::string &path, uint32_t max_run)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path);
    struct stat status;
    fstat(fd, &status);
    uint64_t sectors = (static_cast<uint64_t>(status.st_size) + SECTOR_SIZE - 1) / SECTOR_SIZE;
    Bytes out;
    Bytes run;
    uint32_t run_start = 0;
    auto flush = [&] {
        if (run.empty())
            return;
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(run_start >> (8 * i)));
        // Trailing zero bytes of a run need not be stored: the image reads them as zero.
        size_t length = run.size();
        while (length > 0 && run[length - 1] == 0)
            --length;
        out.push_back(static_cast<uint8_t>(length));
        out.push_back(static_cast<uint8_t>(length >> 8));
        out.insert(out.end(), run.begin(), run.begin() + static_cast<long>(length));
        run.clear();
    };
    uint8_t sector[SECTOR_SIZE];
    for (uint64_t s = 0; s < sectors; ++s) {
        ssize_t got = pread(fd, sector, SECTOR_SIZE, static_cast<off_t>(s * SECTOR_SIZE));
        if (got < 0)
            throw std::runtime_error("cannot read " + path);
        memset(sector + got, 0, SECTOR_SIZE - static_cast<size_t>(got));
        bool zero = std::all_of(sector, sector + SECTOR_SIZE, [](uint8_t b) { return b == 0; });
        if (zero || run.size() / SECTOR_SIZE >= max_run || (s & ~SECTOR_MASK) != 0)
            flush();
        if (zero || (s & ~SECTOR_MASK) != 0)
            continue;
        if (run.empty())
            run_start = static_cast<uint32_t>(s);
        run.insert(run.end(), sector, sector + SECTOR_SIZE);
    }
    flush();
    close(fd);
    return out;
}

void DiskCloser::operator()(HumaxDisk *disk) const
{
    disk_close(disk);
}

DiskHandle open_disk(const DiskSource &source, bool writable)
{
    DiskOpenOptions options;
    options.writable = writable;
    options.policy.recovery = run_options.recovery != 0;
    options.policy.no_info = run_options.no_info != 0;
    options.list = options.policy.recovery ? RecordListLoad::Skip : RecordListLoad::Required;
    options.ask_short_entries = [] { return true; };
    HumaxDisk *disk = nullptr;
    Error error;
    if (!disk_open(source, options, &disk, &error))
        throw ProgramExit{1};
    return DiskHandle(disk);
}

uint64_t read_every_file(HumaxDisk *disk, uint64_t budget)
{
    uint64_t total = 0;
    std::vector<uint8_t> buffer(1u << 20);
    for (int part = 0; part < disk->partition_count; ++part) {
        for (const DirEntry *e = disk->partitions[part].dir_head; e != nullptr; e = e->next) {
            FileMap file;
            dfile_map(disk, part, e, FileMapOptions{}, &file);
            // In large pieces, then in record-sized ones: the two ways the programs read.
            for (size_t piece : {buffer.size(), size_t{RECORD_LENGTH_LONG}}) {
                for (uint64_t done = 0; done < budget;) {
                    size_t n = 0;
                    Error error;
                    if (!dfile_map_read(&file, done, buffer.data(), piece, &n, &error) || n == 0)
                        break;
                    total += buffer[0] + buffer[n - 1];
                    done += n;
                }
            }
        }
    }
    return total;
}

bool small_or_absent(HumaxDisk *disk, int part, const char *name, uint64_t limit)
{
    if (part >= disk->partition_count)
        return true;
    const PartitionInfo *p = &disk->partitions[part];
    const DirEntry *entry = dir_find(&disk->partitions[part], name);
    return entry == nullptr || dfile_readable_size(p, entry) <= limit;
}

void enter_host_dir()
{
    static const std::string dir = [] {
        std::string path = scratch_file("host");
        if (mkdir(path.c_str(), 0700) != 0 || chdir(path.c_str()) != 0) {
            perror(path.c_str());
            abort();
        }
        return path;
    }();
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec))
        std::filesystem::remove_all(entry.path(), ec);
}

} // namespace fuzz
