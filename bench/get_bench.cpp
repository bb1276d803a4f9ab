// Throughput of getting a recording to the host, next to cp of a host file of the same
// size, both from the page cache. Get flushes each host file to storage before it takes its
// name, so cp is shown also with the flush of its copy (cp + flush), the fair comparison.
//
//   get_bench [MiB per recording (1024)] [runs (7)] [work directory ($TMPDIR or /tmp)]
//
// Builds an image with 32 KiB clusters holding one recording in a single contiguous chain
// and one spread over every other cluster, reads it once so that it sits in the page
// cache, then times, in turns, cmd_get_file of each stream and `cp` of a host file of the
// same size into the same directory. Prints each run, the medians of wall time and of
// processor time (the steadier figure when other programs share the machine), and the
// speed of the word swap against memcpy on a buffer of a few MiB.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "diskwarden/get.h"
#include "disk/file_map.h"
#include "common/run_options.h"
#include "disk/disk_io.h"
#include "common/error.h"
#include "records/disk_open.h"
#include "support/disk_image.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t CLUSTER_SECTORS = 64; // 32 KiB

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// User and system time used, in seconds: less disturbed than wall time when other
// programs share the processors.
double cpu_seconds(const struct rusage &usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double own_cpu_seconds()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return cpu_seconds(usage);
}

struct Timing {
    double wall;
    double cpu;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Reads the whole file once so that its pages are cached.
void warm(const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        perror(path.c_str());
        exit(1);
    }
    std::vector<char> buffer(8 << 20);
    while (read(fd, buffer.data(), buffer.size()) > 0) {
    }
    close(fd);
}

void build_image(const std::string &path, uint64_t size)
{
    uint64_t clusters = (size + CLUSTER_SECTORS * 512 - 1) / (CLUSTER_SECTORS * 512);
    testimg::ImageSpec spec = testimg::default_spec();
    spec.partitions[0].cluster_sectors = CLUSTER_SECTORS;
    // One contiguous chain, and one that takes every other cluster.
    spec.partitions[0].cluster_count = static_cast<uint32_t>(3 * clusters + 64);
    testimg::DiskImage image(path, spec);
    image.add_file(0, "2.av", testimg::pattern_bytes(size, 2), 0x1002, testimg::Placement::Contiguous);
    image.add_file(0, "3.av", testimg::pattern_bytes(size, 3), 0x1002, testimg::Placement::Fragmented);
    image.write_record_list({testimg::make_entry(304, 2, 1369602000, 1369605600, "Contiguous"),
                             testimg::make_entry(304, 3, 1369602000, 1369605600, "Fragmented")},
                            304);
}

Timing time_get(HumaxDisk *disk, const char *disk_name, const std::string &target)
{
    unlink(target.c_str());
    double cpu = own_cpu_seconds();
    auto start = Clock::now();
    if (cmd_get_file(disk, PARTITION_AV, disk_name, target.c_str()) != 0) {
        fprintf(stdout, "%s not found\n", disk_name);
        exit(1);
    }
    return {seconds_since(start), own_cpu_seconds() - cpu};
}

constexpr int BAD_SECTORS = 100;

// A get of the contiguous recording through the fault stream, with `bad` unreadable
// sectors spread evenly over it (none: the same path healthy); its read count.
Timing time_failing_get(const std::string &image, uint64_t size, int bad, const std::string &target,
                        FaultReads *reads)
{
    HumaxDisk *disk = nullptr;
    DiskOpenOptions options;
    options.list = RecordListLoad::Required;
    uint64_t first = 0;
    {
        HumaxDisk *probe = nullptr;
        Error error;
        if (!disk_open({image}, options, &probe, &error))
            exit(1);
        FileMap map;
        dfile_map_name(probe, PARTITION_AV, "2.av", FileMapOptions{}, &map);
        first = (map.data_position + uint64_t{map.runs[0].first} * map.cluster_length) / 512;
        disk_close(probe);
    }
    FaultPlan plan;
    for (int i = 0; i < bad; ++i)
        plan.unreadable.push_back({first + (size / 512) * (2 * i + 1) / (2 * bad), 0});
    options.wrap_stream = [plan](DiskStream *stream) { disk_stream_fault(stream, plan); };
    Error error;
    if (!disk_open({image}, options, &disk, &error))
        exit(1);
    Timing timing = time_get(disk, "2.av", target);
    *reads = disk_stream_fault_reads(&disk->stream);
    disk_close(disk);
    unlink(target.c_str());
    unlink((target + ".map").c_str());
    return timing;
}

Timing time_cp(const std::string &source, const std::string &target, double *with_flush)
{
    unlink(target.c_str());
    auto start = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        execlp("cp", "cp", source.c_str(), target.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    double elapsed = seconds_since(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stdout, "cp failed\n");
        exit(1);
    }
    int fd = open(target.c_str(), O_RDONLY);
    if (fd < 0 || fdatasync(fd) != 0) {
        fprintf(stdout, "cannot flush %s\n", target.c_str());
        exit(1);
    }
    close(fd);
    *with_flush = seconds_since(start);
    return {elapsed, cpu_seconds(usage)};
}

// Waits until what was written so far has reached the disk, so that write-back of the
// previous run does not fall into the next one.
void settle()
{
    sync();
}

// Repeats `action` over one buffer of the transfer size; returns GiB/s.
template <typename Action> double buffer_speed(size_t bytes, int repeats, Action action)
{
    auto start = Clock::now();
    for (int i = 0; i < repeats; ++i)
        action();
    return double(bytes) * repeats / seconds_since(start) / (1 << 30);
}

void report_swap_speed()
{
    constexpr size_t BYTES = 4 << 20;
    std::vector<uint8_t> data(BYTES, 0x5A), copy(BYTES);
    swap_words(data.data(), BYTES / 4);
    double swap = buffer_speed(BYTES, 512, [&] { swap_words(data.data(), BYTES / 4); });
    double move = buffer_speed(BYTES, 512, [&] { memcpy(copy.data(), data.data(), BYTES); });
    printf("swap_words on 4 MiB: %.1f GiB/s; memcpy of 4 MiB: %.1f GiB/s\n", swap, move);
}

} // namespace

int main(int argc, char **argv)
{
    uint64_t mib = argc > 1 ? strtoull(argv[1], nullptr, 10) : 1024;
    int runs = argc > 2 ? atoi(argv[2]) : 7;
    const char *tmp = getenv("TMPDIR");
    std::string base = argc > 3 ? argv[3] : (tmp && *tmp ? tmp : "/tmp");
    if (mib == 0 || runs < 1) {
        fprintf(stderr, "usage: %s [MiB] [runs] [directory]\n", argv[0]);
        return 1;
    }
    std::string work = base + "/get_bench.XXXXXX";
    if (mkdtemp(work.data()) == nullptr) {
        perror(work.c_str());
        return 1;
    }
    std::string image = work + "/disk.img";
    std::string got = work + "/got.ts", cp_source = work + "/source.ts", cp_target = work + "/cp.ts";
    uint64_t size = mib << 20;

    printf("building a %llu MiB x 2 image in %s ...\n", static_cast<unsigned long long>(mib), work.c_str());
    fflush(stdout);
    build_image(image, size);
    settle();
    warm(image);
    run_options = RunOptions{};
    // The copy's progress lines go away; the benchmark's own failures go to standard output.
    if (freopen("/dev/null", "w", stderr) == nullptr)
        return 1;
    HumaxDisk *disk = nullptr;
    DiskOpenOptions options;
    options.list = RecordListLoad::Required;
    Error error;
    if (!disk_open({image}, options, &disk, &error)) {
        printf("%s", error.text.c_str());
        return 1;
    }
    time_get(disk, "2.av", cp_source); // the host file that cp copies
    warm(cp_source);

    std::vector<Timing> contiguous, fragmented, cp;
    std::vector<double> cp_flush;
    double flushed = 0;
    // One round unmeasured: the first writes of a run find memory less ready.
    time_get(disk, "2.av", got);
    unlink(got.c_str());
    time_cp(cp_source, cp_target, &flushed);
    unlink(cp_target.c_str());
    settle();
    for (int i = 0; i < runs; ++i) {
        contiguous.push_back(time_get(disk, "2.av", got));
        unlink(got.c_str());
        settle();
        fragmented.push_back(time_get(disk, "3.av", got));
        unlink(got.c_str());
        settle();
        cp.push_back(time_cp(cp_source, cp_target, &flushed));
        cp_flush.push_back(flushed);
        unlink(cp_target.c_str());
        settle();
        printf("  run %d: contiguous %.3f s (cpu %.3f), fragmented %.3f s (cpu %.3f), cp %.3f s "
               "(cpu %.3f), cp + flush %.3f s\n",
               i + 1, contiguous.back().wall, contiguous.back().cpu, fragmented.back().wall,
               fragmented.back().cpu, cp.back().wall, cp.back().cpu, flushed);
        fflush(stdout);
    }
    disk_close(disk);
    std::vector<Timing> healthy, damaged;
    FaultReads healthy_reads, damaged_reads;
    for (int i = 0; i < runs; ++i) {
        healthy.push_back(time_failing_get(image, size, 0, got, &healthy_reads));
        settle();
        damaged.push_back(time_failing_get(image, size, BAD_SECTORS, got, &damaged_reads));
        settle();
        printf("  run %d: on the fault stream, healthy %.3f s, %d unreadable sectors %.3f s\n", i + 1,
               healthy.back().wall, BAD_SECTORS, damaged.back().wall);
        fflush(stdout);
    }

    double gib = double(size) / (1 << 30);
    printf("median of %d runs, %.2f GiB each (wall time; processor time):\n", runs, gib);
    auto row = [&](const char *what, const std::vector<Timing> &t) {
        std::vector<double> wall, cpu, cp_wall, cp_cpu;
        for (size_t i = 0; i < t.size(); ++i) {
            wall.push_back(t[i].wall);
            cpu.push_back(t[i].cpu);
            cp_wall.push_back(cp[i].wall);
            cp_cpu.push_back(cp[i].cpu);
        }
        double w = median(wall), c = median(cpu);
        printf("  %-22s: %.3f s %6.2f GiB/s %.2f x cp %.2f x cp+flush; cpu %.3f s %.2f x cp\n",
               what, w, gib / w, w / median(cp_wall), w / median(cp_flush), c, c / median(cp_cpu));
    };
    row("get, contiguous chain", contiguous);
    row("get, fragmented chain", fragmented);
    row("cp", cp);
    row("get, fault stream", healthy);
    row("get, 100 bad sectors", damaged);
    printf("  reads: healthy %lu transfers; with %d unreadable sectors %lu transfers, at most %lu "
           "reads of one sector\n",
           healthy_reads.transfers, BAD_SECTORS, damaged_reads.transfers, damaged_reads.most_of_one_sector);
    printf("  %-22s: %.3f s\n", "cp + flush", median(cp_flush));
    report_swap_speed();

    unlink(image.c_str());
    unlink(cp_source.c_str());
    rmdir(work.c_str());
    return 0;
}
