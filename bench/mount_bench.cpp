// Reading a recording through wardenfs, next to reading a file of the same size through
// fuse2fs from an ext2 image, both with `cat` to /dev/null and the page cache dropped
// before each run; then 100 reads of 1 MiB at random offsets through the mount, per byte
// against the sequential read, next to the same reads of the image file itself (what the
// disk below gives). Each is measured twice: with everything cold, and with the image
// read into the page cache first (only the mounted file cold), which shows the file
// system's own cost apart from the disk's.
//
//   mount_bench [MiB (1024)] [runs (5)] [work directory ($TMPDIR or /tmp)]
//
// Needs root (to drop the caches and mount), /dev/fuse, fuse2fs and mke2fs; says so and
// ends with status 0 when something is missing. Prints each run and the medians.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "support/disk_image.h"
#include "support/fuse_mount.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool have_program(const char *name)
{
    std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return system(command.c_str()) == 0;
}

// Runs a command; its exit status.
int run(const std::vector<std::string> &command, bool quiet)
{
    pid_t child = fork();
    if (child == 0) {
        if (quiet) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
        }
        std::vector<char *> argv;
        for (const std::string &a : command)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return testimg::wait_for_exit(child);
}

void drop_caches()
{
    sync();
    FILE *control = fopen("/proc/sys/vm/drop_caches", "w");
    if (control == nullptr || fputs("3\n", control) < 0 || fclose(control) != 0) {
        perror("/proc/sys/vm/drop_caches");
        exit(1);
    }
}

// Drops the page cache, then reads `warm` (when given) into it.
void prepare(const std::string &warm)
{
    drop_caches();
    if (!warm.empty() && run({"cat", warm}, true) != 0) {
        fprintf(stdout, "cat %s failed\n", warm.c_str());
        exit(1);
    }
}

// `cat path > /dev/null` after prepare(warm): seconds.
double time_cat(const std::string &path, const std::string &warm)
{
    prepare(warm);
    auto start = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execlp("cat", "cat", path.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = testimg::wait_for_exit(child);
    double elapsed = seconds_since(start);
    if (status != 0) {
        fprintf(stdout, "cat %s failed (%d)\n", path.c_str(), status);
        exit(1);
    }
    return elapsed;
}

// 100 reads of 1 MiB at random offsets of the first `size` bytes (the same offsets each
// run, from `base` on) after prepare(warm): seconds.
double time_random_reads(const std::string &path, uint64_t base, uint64_t size, const std::string &warm)
{
    constexpr size_t READ = 1 << 20;
    std::mt19937_64 random(1);
    std::vector<uint64_t> offsets;
    for (int i = 0; i < 100; ++i)
        offsets.push_back(random() % (size - READ));
    std::vector<char> buffer(READ);
    prepare(warm);
    auto start = Clock::now();
    int fd = open(path.c_str(), O_RDONLY);
    for (uint64_t at : offsets) {
        uint64_t offset = base + at;
        size_t done = 0;
        while (done < READ) {
            ssize_t n = pread(fd, buffer.data() + done, READ - done, static_cast<off_t>(offset + done));
            if (n <= 0) {
                fprintf(stdout, "read of %s failed\n", path.c_str());
                exit(1);
            }
            done += static_cast<size_t>(n);
        }
    }
    close(fd);
    return seconds_since(start);
}

std::string why_not()
{
    if (geteuid() != 0)
        return "needs root (to drop the page cache and to mount)";
    std::string why;
    if (!testimg::fuse_available(&why))
        return why;
    if (!have_program("fuse2fs") || !have_program("mke2fs"))
        return "needs fuse2fs and mke2fs (Debian: fuse2fs, e2fsprogs)";
    return "";
}

void build_recorder_image(const std::string &path, uint64_t size)
{
    constexpr uint32_t CLUSTER_SECTORS = 64; // 32 KiB
    uint64_t clusters = (size + CLUSTER_SECTORS * 512 - 1) / (CLUSTER_SECTORS * 512);
    testimg::ImageSpec spec = testimg::default_spec();
    spec.partitions[0].cluster_sectors = CLUSTER_SECTORS;
    spec.partitions[0].cluster_count = static_cast<uint32_t>(clusters + 64);
    testimg::DiskImage image(path, spec);
    image.add_file(0, "2.av", testimg::pattern_bytes(size, 2), 0x1002);
    image.write_record_list({testimg::make_entry(304, 2, 1369602000, 1369605600, "Bench")}, 304);
}

void build_ext2_image(const std::string &work, uint64_t size)
{
    std::string source = work + "/ext2-source";
    std::filesystem::create_directory(source);
    testimg::write_host_file(source + "/file.ts", testimg::pattern_bytes(size, 2));
    std::string blocks = std::to_string(size / 4096 + 16384);
    if (run({"mke2fs", "-q", "-F", "-t", "ext2", "-b", "4096", "-d", source, work + "/ext2.img", blocks},
            false) != 0) {
        fprintf(stdout, "mke2fs failed\n");
        exit(1);
    }
    std::filesystem::remove_all(source);
}

} // namespace

int main(int argc, char **argv)
{
    uint64_t mib = argc > 1 ? strtoull(argv[1], nullptr, 10) : 1024;
    int runs = argc > 2 ? atoi(argv[2]) : 5;
    const char *tmp = getenv("TMPDIR");
    std::string base = argc > 3 ? argv[3] : (tmp && *tmp ? tmp : "/tmp");
    if (mib < 2 || runs < 1) {
        fprintf(stderr, "usage: %s [MiB (at least 2)] [runs] [directory]\n", argv[0]);
        return 1;
    }
    std::string missing = why_not();
    if (!missing.empty()) {
        printf("mount_bench skipped: %s\n", missing.c_str());
        return 0;
    }
    std::string work = base + "/mount_bench.XXXXXX";
    if (mkdtemp(work.data()) == nullptr) {
        perror(work.c_str());
        return 1;
    }
    uint64_t size = mib << 20;
    printf("building a recorder image and an ext2 image with %llu MiB each in %s ...\n",
           static_cast<unsigned long long>(mib), work.c_str());
    fflush(stdout);
    build_recorder_image(work + "/disk.img", size);
    build_ext2_image(work, size);

    std::string warden_dir = work + "/wardenfs", ext2_dir = work + "/fuse2fs";
    std::filesystem::create_directory(warden_dir);
    std::filesystem::create_directory(ext2_dir);
    std::string image = work + "/disk.img", ext2_image = work + "/ext2.img";
    // Where the recording's data begins in the image: its first cluster.
    uint64_t data_start = uint64_t{testimg::DiskImage(image).data_sector(0)} * 512 +
                          uint64_t{testimg::DiskImage(image).find(0, "2.av")->clusters.at(0)} *
                              testimg::DiskImage(image).cluster_length(0);
    // Per scenario (cold, image cached): sequential and random through wardenfs,
    // sequential through fuse2fs, sequential and random on the image file itself.
    struct Series {
        std::vector<double> warden, ext2, random, raw, raw_random;
    } series[2];
    {
        testimg::WardenMount warden_mount(image, warden_dir);
        testimg::FuseDaemon ext2_mount("/usr/bin/env", {"fuse2fs", ext2_image, ext2_dir, "-f", "-o", "ro"},
                                       ext2_dir, work + "/fuse2fs.log");
        if (!warden_mount.wait_mounted() || !ext2_mount.wait_mounted()) {
            printf("mounting failed:\n%s%s", warden_mount.log().c_str(), ext2_mount.log().c_str());
            return 1;
        }
        std::string recording = warden_dir + "/recovery/recover_0001.ts";
        std::string file = ext2_dir + "/file.ts";
        for (int i = 0; i < runs; ++i) {
            for (int warm = 0; warm < 2; ++warm) {
                Series &s = series[warm];
                s.warden.push_back(time_cat(recording, warm ? image : ""));
                s.ext2.push_back(time_cat(file, warm ? ext2_image : ""));
                s.random.push_back(time_random_reads(recording, 0, size, warm ? image : ""));
                printf("run %d, %s: cat wardenfs %.3f s, cat fuse2fs %.3f s, 100 x 1 MiB at random "
                       "offsets through wardenfs %.3f s",
                       i + 1, warm ? "image cached" : "cold", s.warden.back(), s.ext2.back(),
                       s.random.back());
                if (!warm) {
                    s.raw.push_back(time_cat(image, ""));
                    s.raw_random.push_back(time_random_reads(image, data_start, size, ""));
                    printf("; the image itself: cat %.3f s, 100 x 1 MiB %.3f s", s.raw.back(),
                           s.raw_random.back());
                }
                printf("\n");
                fflush(stdout);
            }
        }
        warden_mount.unmount();
        ext2_mount.unmount();
    }
    double mb = double(size) / 1e6;
    double random_bytes = 100.0 * (1 << 20);
    double image_mb = double(std::filesystem::file_size(image)) / 1e6;
    for (int warm = 0; warm < 2; ++warm) {
        const Series &s = series[warm];
        double w = median(s.warden), e = median(s.ext2), r = median(s.random);
        printf("medians, %s, %llu MiB:\n", warm ? "image cached, mounted file cold" : "cold cache",
               static_cast<unsigned long long>(mib));
        printf("  cat through wardenfs %.3f s (%.0f MB/s), through fuse2fs %.3f s (%.0f MB/s): "
               "wardenfs takes %.2f of fuse2fs's time\n",
               w, mb / w, e, mb / e, w / e);
        printf("  random 1 MiB reads through wardenfs %.0f MB/s, sequential %.0f MB/s: "
               "random/sequential time per byte %.2f\n",
               random_bytes / r / 1e6, mb / w, (r / random_bytes) / (w / double(size)));
        if (!warm) {
            double raw = median(s.raw), raw_random = median(s.raw_random);
            printf("  the image file itself: random %.0f MB/s, sequential %.0f MB/s: "
                   "random/sequential time per byte %.2f\n",
                   random_bytes / raw_random / 1e6, image_mb / raw,
                   (raw_random / random_bytes) / (raw / (image_mb * 1e6)));
        }
    }
    std::filesystem::remove_all(work);
    return 0;
}
