// Scanning for lost recordings next to reading the same bytes with cat, both from a cold
// cache (as root, which may drop the page cache; otherwise warm, and said so).
//
//   carve_bench [MiB of AV partition (1024)] [runs (3)] [work directory ($TMPDIR or /tmp)]
//
// Builds an image whose AV partition (32 KiB clusters) is filled with deleted recordings:
// half of it contiguous ones, half pairs interleaved cluster by cluster in runs of one to
// three clusters, as two tuners leave them. Then times, in turns, `diskwarden --carve -l`
// and `cat` of the image to /dev/null, each after the caches were dropped, and prints
// each run, the medians, the peak memory of the carver, and how many recordings it listed
// whole (one stream of exactly the recording's size) among the streams it found.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <vector>

#include "support/disk_image.h"
#include "support/ts_writer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t CLUSTER_SECTORS = 64; // 32 KiB
constexpr uint32_t CLUSTER = CLUSTER_SECTORS * 512;
constexpr uint64_t RECORDING_BYTES = uint64_t{64} << 20;

struct Run {
    double seconds = 0;
    long peak_kib = 0;
    std::string out;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool drop_caches()
{
    sync();
    FILE *control = fopen("/proc/sys/vm/drop_caches", "w");
    if (control == nullptr)
        return false;
    bool done = fputs("3\n", control) >= 0;
    return fclose(control) == 0 && done;
}

// Runs the program with standard output to `out_path` (or /dev/null); times it.
Run run(std::vector<std::string> args, const std::string &out_path)
{
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    auto start = Clock::now();
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        printf("cannot run %s\n", args[0].c_str());
        exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    Run r;
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.peak_kib = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        printf("%s failed (status %d)\n", args[0].c_str(), status);
        exit(1);
    }
    FILE *f = fopen(out_path.c_str(), "r");
    char line[4096];
    while (f != nullptr && fgets(line, sizeof line, f) != nullptr)
        r.out = line; // the last line: the count
    if (f != nullptr)
        fclose(f);
    return r;
}

// A recording of a channel of its own (its PIDs and rate differ from the others', and its
// rate varies), about RECORDING_BYTES long at about 4 Mbit/s.
testimg::Bytes recording(uint32_t seed)
{
    tswriter::RecordingSpec spec;
    uint16_t base = static_cast<uint16_t>(0x100 + 0x40 * (seed % 64));
    spec.pmt_pid = base;
    spec.pcr_pid = static_cast<uint16_t>(base + 1);
    spec.streams = {{2, static_cast<uint16_t>(base + 1), 0}, {3, static_cast<uint16_t>(base + 2), 0}};
    spec.program_number = static_cast<uint16_t>(seed);
    spec.filler = 240 + seed % 7 * 10;
    spec.audio_filler = 30 + seed % 5;
    size_t packets_per_second = 10 * (1 + spec.filler + spec.audio_filler);
    spec.seconds = static_cast<unsigned>(RECORDING_BYTES / (packets_per_second * 188));
    spec.payload_seed = seed;
    spec.vary_rate = true;
    spec.first_pcr = uint64_t{seed} * 977777777 % (uint64_t{1} << 33);
    spec.tables_every = 5;
    spec.service_name = "BBC ONE";
    spec.event_title = "Recording " + std::to_string(seed);
    spec.event_start = 1369602000 + seed * 3600;
    spec.event_duration = spec.seconds;
    spec.utc_start = spec.event_start;
    return tswriter::make_recording(spec).bytes();
}

uint32_t clusters_of(const testimg::Bytes &bytes)
{
    return static_cast<uint32_t>((bytes.size() + CLUSTER - 1) / CLUSTER);
}

// Fills the AV partition with recordings and deletes them; returns their sizes.
std::vector<uint64_t> build_image(const std::string &path, uint64_t mib)
{
    uint32_t clusters = static_cast<uint32_t>((mib << 20) / CLUSTER);
    testimg::ImageSpec spec = testimg::default_spec();
    spec.partitions[0].cluster_sectors = CLUSTER_SECTORS;
    spec.partitions[0].cluster_count = clusters;
    testimg::DiskImage image(path, spec);
    uint32_t next = 0;
    unsigned made = 0;
    std::vector<std::string> names;
    std::vector<uint64_t> sizes;
    auto add = [&](const testimg::Bytes &bytes, std::vector<uint32_t> at) {
        std::string name = std::to_string(++made + 1) + ".av";
        image.add_file_at(0, name, bytes, at, 0x1002);
        names.push_back(name);
        sizes.push_back(bytes.size());
    };
    // Contiguous recordings over the first half.
    while (true) {
        testimg::Bytes r = recording(made + 1);
        if (next + clusters_of(r) > clusters / 2)
            break;
        std::vector<uint32_t> at;
        for (uint32_t i = 0; i < clusters_of(r); ++i)
            at.push_back(next++);
        add(r, at);
    }
    // Pairs interleaved in runs of 1, 2 and 3 clusters over the second half.
    while (true) {
        testimg::Bytes a = recording(made + 1), b = recording(made + 2);
        if (next + clusters_of(a) + clusters_of(b) > clusters)
            break;
        std::vector<uint32_t> at_a, at_b;
        for (unsigned turn = 0; at_a.size() < clusters_of(a) || at_b.size() < clusters_of(b); ++turn) {
            for (unsigned k = 0; k < 1 + turn % 3 && at_a.size() < clusters_of(a); ++k)
                at_a.push_back(next++);
            for (unsigned k = 0; k < 1 + (turn + 1) % 3 && at_b.size() < clusters_of(b); ++k)
                at_b.push_back(next++);
        }
        add(a, at_a);
        add(b, at_b);
    }
    for (const std::string &name : names)
        image.remove_file(0, name);
    return sizes;
}

// How many of the recordings were listed whole, each as one stream of its size (every
// recording is whole packets).
unsigned count_whole(const std::string &listing, std::vector<uint64_t> sizes)
{
    unsigned whole = 0;
    FILE *f = fopen(listing.c_str(), "r");
    char line[4096];
    unsigned long long size;
    while (f != nullptr && fgets(line, sizeof line, f) != nullptr) {
        auto found = sizes.end();
        if (sscanf(line, " %*u: %llu bytes", &size) == 1)
            found = std::find(sizes.begin(), sizes.end(), size);
        if (found != sizes.end()) {
            ++whole;
            sizes.erase(found);
        }
    }
    if (f != nullptr)
        fclose(f);
    return whole;
}

} // namespace

int main(int argc, char **argv)
{
    uint64_t mib = argc > 1 ? strtoull(argv[1], nullptr, 10) : 1024;
    int runs = argc > 2 ? atoi(argv[2]) : 3;
    const char *tmp = getenv("TMPDIR");
    std::string base = argc > 3 ? argv[3] : (tmp && *tmp ? tmp : "/tmp");
    if (mib < 256 || runs < 1) {
        fprintf(stderr, "usage: %s [MiB, at least 256] [runs] [directory]\n", argv[0]);
        return 1;
    }
    std::string work = base + "/carve_bench.XXXXXX";
    if (mkdtemp(work.data()) == nullptr) {
        perror(work.c_str());
        return 1;
    }
    std::string image = work + "/disk.img", listing = work + "/listing.txt";
    printf("building a %llu MiB AV partition of deleted recordings in %s ...\n",
           static_cast<unsigned long long>(mib), work.c_str());
    fflush(stdout);
    // Built by a child, so that this process stays small: the programs it starts take its
    // peak memory over as theirs.
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0)
        return 1;
    pid_t builder = fork();
    if (builder == 0) {
        std::vector<uint64_t> made = build_image(image, mib);
        size_t bytes = made.size() * sizeof made[0];
        _exit(write(pipe_ends[1], made.data(), bytes) == static_cast<ssize_t>(bytes) ? 0 : 1);
    }
    close(pipe_ends[1]);
    std::vector<uint64_t> sizes;
    uint64_t size;
    while (read(pipe_ends[0], &size, sizeof size) == sizeof size)
        sizes.push_back(size);
    int built = 0;
    if (waitpid(builder, &built, 0) < 0 || built != 0 || sizes.empty()) {
        printf("building the image failed\n");
        return 1;
    }
    std::string diskwarden = std::string(DW_BIN_DIR) + "/diskwarden";
    bool cold = drop_caches();
    if (!cold)
        printf("(the page cache cannot be dropped without root: the runs read a warm cache)\n");
    std::vector<double> carve, cat;
    long peak = 0;
    std::string found;
    // One round unmeasured: the image was just written, and the disk is still busy with it.
    run({diskwarden, "--carve", "-l", image}, listing);
    run({"cat", image}, "/dev/null");
    for (int i = 0; i < runs; ++i) {
        drop_caches();
        Run c = run({diskwarden, "--carve", "-l", image}, listing);
        drop_caches();
        Run k = run({"cat", image}, "/dev/null");
        carve.push_back(c.seconds);
        cat.push_back(k.seconds);
        peak = std::max(peak, c.peak_kib);
        found = c.out;
        printf("  run %d: carve %.2f s, cat %.2f s; carve peak memory %ld KiB\n", i + 1, c.seconds,
               k.seconds, c.peak_kib);
        fflush(stdout);
    }
    double carve_s = median(carve), cat_s = median(cat), mib_d = double(mib);
    printf("median of %d runs (%s cache), %llu MiB: carve %.2f s (%.0f MiB/s), cat %.2f s "
           "(%.0f MiB/s), carve / cat %.2f\n",
           runs, cold ? "cold" : "warm", static_cast<unsigned long long>(mib), carve_s,
           mib_d / carve_s, cat_s, mib_d / cat_s, carve_s / cat_s);
    printf("peak memory of the carver: %ld KiB; %zu recordings deleted (half contiguous, half "
           "interleaved in pairs), %u listed whole; %s",
           peak, sizes.size(), count_whole(listing, sizes), found.c_str());
    unlink(listing.c_str());
    unlink(image.c_str());
    rmdir(work.c_str());
    return 0;
}
