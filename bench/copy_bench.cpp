// Throughput of a disk-to-disk copy (`diskwarden -g 1 SRC DST`) next to `cp` of a host
// file of the same size, in the same run.
//
// Usage: copy_bench [MiB [runs [work directory]]]   (defaults: 1024 MiB, 5 runs, $TMPDIR)
//
// The source image holds one recording whose stream has the given size, in 32 KiB
// clusters. Each run copies a host file of that size with cp (timed alone, and together
// with flushing the copy to storage), then copies the recording onto a fresh destination
// image with the same clusters and onto one with 8 KiB clusters. diskwarden commits its
// tables with a flush, so its time includes writing the data to storage. The sources
// stay in the page cache for all of them. Medians are printed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/disk_image.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint64_t MIB = uint64_t{1} << 20;
constexpr uint16_t SOURCE_CLUSTER_SECTORS = 64; // 32 KiB
constexpr uint16_t SMALL_CLUSTER_SECTORS = 16;  // 8 KiB
constexpr unsigned RECORD_LENGTH = 304;

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

void require(bool ok, const std::string &what)
{
    if (!ok) {
        fprintf(stderr, "copy_bench: %s\n", what.c_str());
        exit(1);
    }
}

testimg::ImageSpec image_spec(uint64_t mib, uint16_t cluster_sectors)
{
    testimg::ImageSpec spec = testimg::default_spec();
    spec.partitions[0].cluster_sectors = cluster_sectors;
    spec.partitions[0].cluster_count =
        static_cast<uint32_t>(mib * MIB / (cluster_sectors * 512) + 64);
    return spec;
}

// The same stream as a host file (for cp) and as recording 1 of a source image.
void make_sources(const std::string &host_file, const std::string &image, uint64_t mib)
{
    testimg::Bytes stream = testimg::pattern_bytes(mib * MIB + 3, 7);
    testimg::write_host_file(host_file, stream);
    testimg::DiskImage source(image, image_spec(mib, SOURCE_CLUSTER_SECTORS));
    source.add_file(0, "2.av", stream);
    source.add_file(0, "2.elu", testimg::pattern_bytes(4096, 8));
    source.add_file(1, "2.epg", testimg::pattern_bytes(2000, 9));
    source.write_record_list(
        {testimg::make_entry(RECORD_LENGTH, 2, 1500000000, 1500003600, "Bench")}, RECORD_LENGTH);
}

// Removing a large file frees its blocks at the next journal commit (with discards on
// some mounts); that cost belongs to no timed step, so it is paid before the clock starts.
void settle() { sync(); }

double time_cp(const std::string &source, const std::string &copy, double *with_flush)
{
    unlink(copy.c_str());
    settle();
    Clock::time_point start = Clock::now();
    testimg::RunResult r = testimg::run_program("/bin/cp", {source, copy});
    double elapsed = seconds_since(start);
    require(r.status == 0, "cp failed: " + r.err);
    int fd = open(copy.c_str(), O_RDONLY);
    require(fd >= 0 && fdatasync(fd) == 0, "cannot flush " + copy);
    close(fd);
    *with_flush = seconds_since(start);
    unlink(copy.c_str());
    settle();
    return elapsed;
}

double time_copy(const std::string &source, const std::string &destination, uint64_t mib,
                 uint16_t cluster_sectors)
{
    unlink(destination.c_str());
    testimg::DiskImage(destination, image_spec(mib, cluster_sectors));
    settle();
    Clock::time_point start = Clock::now();
    testimg::RunResult r = testimg::run_program(testimg::diskwarden_path(),
                                                {"-y", "-g", "1", source, destination});
    double elapsed = seconds_since(start);
    require(r.status == 0, "diskwarden failed: " + r.err);
    unlink(destination.c_str());
    settle();
    return elapsed;
}

} // namespace

int main(int argc, char **argv)
{
    uint64_t mib = argc > 1 ? strtoull(argv[1], nullptr, 10) : 1024;
    int runs = argc > 2 ? atoi(argv[2]) : 5;
    const char *tmp = getenv("TMPDIR");
    std::string base = argc > 3 ? argv[3] : std::string(tmp ? tmp : "/tmp");
    require(mib > 0 && runs > 0, "usage: copy_bench [MiB [runs [work directory]]]");
    std::string dir_template = base + "/copy_bench.XXXXXX";
    require(mkdtemp(dir_template.data()) != nullptr, "cannot create a work directory");
    std::string dir = dir_template;
    std::string host = dir + "/stream.ts", host_copy = dir + "/copy.ts";
    std::string source = dir + "/source.img", destination = dir + "/destination.img";

    make_sources(host, source, mib);
    time_copy(source, destination, mib, SOURCE_CLUSTER_SECTORS); // warm-up

    std::vector<double> cp_times, cp_flush_times, same_times, small_times;
    for (int i = 0; i < runs; ++i) {
        double flushed;
        cp_times.push_back(time_cp(host, host_copy, &flushed));
        cp_flush_times.push_back(flushed);
        same_times.push_back(time_copy(source, destination, mib, SOURCE_CLUSTER_SECTORS));
        small_times.push_back(time_copy(source, destination, mib, SMALL_CLUSTER_SECTORS));
        printf("run %d: cp %.3f s, cp+flush %.3f s, copy 32K->32K %.3f s, copy 32K->8K %.3f s\n",
               i + 1, cp_times.back(), flushed, same_times.back(), small_times.back());
    }
    double cp = median(cp_times), cp_flush = median(cp_flush_times);
    double same = median(same_times), small = median(small_times);
    printf("%llu MiB recording, median of %d runs:\n", static_cast<unsigned long long>(mib), runs);
    printf("  cp                 %.3f s  %.0f MiB/s\n", cp, mib / cp);
    printf("  cp + flush         %.3f s  %.0f MiB/s\n", cp_flush, mib / cp_flush);
    printf("  copy 32K -> 32K    %.3f s  %.0f MiB/s\n", same, mib / same);
    printf("  copy 32K -> 8K     %.3f s  %.0f MiB/s\n", small, mib / small);
    printf("  copy / cp = %.2f and %.2f, copy / (cp + flush) = %.2f and %.2f\n", same / cp,
           small / cp, same / cp_flush, small / cp_flush);
    unlink(host.c_str());
    unlink(source.c_str());
    rmdir(dir.c_str());
    return 0;
}
