// Throughput of `diskwarden -p` next to `cp` of the same stream, in the same run.
//
// Usage: put_bench [MiB [runs [work directory]]]   (defaults: 1024 MiB, 5 runs, $TMPDIR)
//
// Each run copies one stream of the given size with cp (timed alone, and together with
// flushing the copy to storage), with dd in 4 MiB pieces into a sparse file and a flush
// (the plain read/write floor of a put), and puts it onto a fresh image with 32 KiB
// clusters (diskwarden commits its tables with a flush, so its time includes writing the
// data to storage). The source stays in the page cache throughout, and nothing is left
// to write back when a timing starts. Medians of wall time (and of the programs' CPU time, which
// other load on the machine disturbs less) are printed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "support/disk_image.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint64_t MIB = uint64_t{1} << 20;
constexpr uint16_t CLUSTER_SECTORS = 64; // 32 KiB

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU time (user and system) of the children waited for so far.
double children_cpu()
{
    rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing {
    double wall = 0, cpu = 0;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void require(bool ok, const std::string &what)
{
    if (!ok) {
        fprintf(stderr, "put_bench: %s\n", what.c_str());
        exit(1);
    }
}

// The stream: a 4 MiB pattern, varied per piece so that no two pieces are equal.
void write_stream(const std::string &path, uint64_t mib)
{
    testimg::Bytes piece = testimg::pattern_bytes(4 * MIB, 7);
    FILE *out = fopen(path.c_str(), "wb");
    require(out != nullptr, "cannot create " + path);
    for (uint64_t done = 0; done < mib; done += 4) {
        piece[done % piece.size()] ^= 0x5A;
        size_t bytes = static_cast<size_t>(std::min<uint64_t>(4, mib - done) * MIB);
        require(fwrite(piece.data(), 1, bytes, out) == bytes, "cannot write " + path);
    }
    require(fclose(out) == 0, "cannot write " + path);
}

testimg::ImageSpec image_spec(uint64_t mib)
{
    testimg::ImageSpec spec = testimg::default_spec();
    spec.partitions[0].cluster_sectors = CLUSTER_SECTORS;
    spec.partitions[0].cluster_count =
        static_cast<uint32_t>(mib * MIB / (CLUSTER_SECTORS * 512) + 64);
    return spec;
}

Timing time_cp(const std::string &source, const std::string &copy, double *with_flush)
{
    unlink(copy.c_str());
    sync(); // no writeback left over from earlier steps
    double cpu = children_cpu();
    Clock::time_point start = Clock::now();
    testimg::RunResult r = testimg::run_program("/bin/cp", {source, copy});
    Timing elapsed{seconds_since(start), children_cpu() - cpu};
    require(r.status == 0, "cp failed: " + r.err);
    int fd = open(copy.c_str(), O_RDONLY);
    require(fd >= 0 && fdatasync(fd) == 0, "cannot flush " + copy);
    close(fd);
    *with_flush = seconds_since(start);
    unlink(copy.c_str());
    return elapsed;
}

bool truncate_to(const std::string &path, uint64_t size)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    bool ok = fd >= 0 && ftruncate(fd, static_cast<off_t>(size)) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

// dd reading and writing 4 MiB pieces into a sparse file, then flushing it: the same
// system calls as a put without the disk's tables and byte order.
Timing time_dd(const std::string &source, const std::string &target, uint64_t mib)
{
    unlink(target.c_str());
    require(truncate_to(target, (mib + 16) * MIB), "cannot create " + target);
    sync();
    double cpu = children_cpu();
    Clock::time_point start = Clock::now();
    testimg::RunResult r = testimg::run_program(
        "/bin/dd", {"if=" + source, "of=" + target, "bs=4M", "conv=notrunc,fdatasync",
                    "status=none"});
    Timing elapsed{seconds_since(start), children_cpu() - cpu};
    require(r.status == 0, "dd failed: " + r.err);
    unlink(target.c_str());
    return elapsed;
}

Timing time_put(const std::string &source, const std::string &image, uint64_t mib)
{
    unlink(image.c_str());
    testimg::DiskImage(image, image_spec(mib));
    sync();
    double cpu = children_cpu();
    Clock::time_point start = Clock::now();
    testimg::RunResult r =
        testimg::run_program(testimg::diskwarden_path(), {"-y", "-p", source, image});
    Timing elapsed{seconds_since(start), children_cpu() - cpu};
    require(r.status == 0, "diskwarden failed: " + r.err);
    return elapsed;
}

} // namespace

int main(int argc, char **argv)
{
    uint64_t mib = argc > 1 ? strtoull(argv[1], nullptr, 10) : 1024;
    int runs = argc > 2 ? atoi(argv[2]) : 5;
    const char *tmp = getenv("TMPDIR");
    std::string base = argc > 3 ? argv[3] : std::string(tmp ? tmp : "/tmp");
    require(mib > 0 && runs > 0, "usage: put_bench [MiB [runs [work directory]]]");
    std::string dir_template = base + "/put_bench.XXXXXX";
    require(mkdtemp(dir_template.data()) != nullptr, "cannot create a work directory");
    std::string dir = dir_template;
    std::string source = dir + "/bench.ts", header = dir + "/bench.hre";
    std::string copy = dir + "/copy.ts", image = dir + "/disk.img";

    write_stream(source, mib);
    testimg::write_host_file(header, testimg::make_entry(304, 0, 1500000000, 1500003600, "Bench"));
    time_put(source, image, mib); // warm-up: both programs and the source in the cache

    std::vector<double> cp_times, cp_cpu, cp_flush_times, dd_times, dd_cpu, put_times, put_cpu;
    for (int i = 0; i < runs; ++i) {
        double flushed;
        Timing c = time_cp(source, copy, &flushed);
        Timing d = time_dd(source, copy, mib);
        Timing p = time_put(source, image, mib);
        cp_times.push_back(c.wall);
        cp_cpu.push_back(c.cpu);
        cp_flush_times.push_back(flushed);
        dd_times.push_back(d.wall);
        dd_cpu.push_back(d.cpu);
        put_times.push_back(p.wall);
        put_cpu.push_back(p.cpu);
        printf("run %d: cp %.3f s (cpu %.3f), cp+flush %.3f s, dd %.3f s (cpu %.3f), "
               "put %.3f s (cpu %.3f)\n",
               i + 1, c.wall, c.cpu, flushed, d.wall, d.cpu, p.wall, p.cpu);
    }
    double cp = median(cp_times), cp_flush = median(cp_flush_times), put = median(put_times);
    double dd = median(dd_times);
    printf("%llu MiB, 32 KiB clusters, median of %d runs:\n",
           static_cast<unsigned long long>(mib), runs);
    printf("  cp          %.3f s  %.0f MiB/s\n", cp, mib / cp);
    printf("  cp + flush  %.3f s  %.0f MiB/s\n", cp_flush, mib / cp_flush);
    printf("  dd + flush  %.3f s  %.0f MiB/s\n", dd, mib / dd);
    printf("  put         %.3f s  %.0f MiB/s\n", put, mib / put);
    printf("  cpu: cp %.3f s, dd %.3f s, put %.3f s\n", median(cp_cpu), median(dd_cpu),
           median(put_cpu));
    printf("  put / cp = %.2f, put / (cp + flush) = %.2f, put / (dd + flush) = %.2f\n",
           put / cp, put / cp_flush, put / dd);
    unlink(source.c_str());
    unlink(header.c_str());
    unlink(image.c_str());
    rmdir(dir.c_str());
    return 0;
}
