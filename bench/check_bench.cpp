// Speed of `diskwarden --check` on a sparse image with the geometry of a 1 TB recorder
// disk, next to `fsck.fat -n` on a FAT32 image with as many clusters, in the same run;
// both read metadata only (neither image holds file data). Also the check of the same
// recorder geometry with 200 recordings filling 60% of it (chains in the table,
// entries in the directory and the record list; no contents), which fsck.fat has no
// counterpart for, and the cost on that disk of the check every writing command makes
// first.
//
// Then a hostile table: 1,048,576 clusters all linked into one ring, under 1,000 directory
// entries that each start somewhere on it, checked and repaired (each repair on a fresh
// copy). The time of both must grow with the table, not with entries times clusters.
//
// Usage: check_bench [--ring | --recorder] [runs [work directory [diskwarden]]]
// (defaults: 5 runs, $TMPDIR, the diskwarden of this build; another program can be given
// to compare builds; --ring: the hostile table alone, --recorder: all but it)
//
// The images are sparse: about 125 MB (the recorder's allocation table) and 250 MB (the
// two FATs) are really written. Each program runs once to warm the page cache, then
// `runs` times; medians are printed, with each program's peak memory.
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/disk_image.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint64_t DISK_SECTORS = 1953525168; // a "1 TB" drive
constexpr uint16_t AV_CLUSTER_SECTORS = 64;   // 32 KiB
constexpr uint32_t SMALL_PARTITION_CLUSTERS = 16384;
constexpr unsigned RECORDINGS = 200;
constexpr unsigned RECORD_LENGTH = 304;

void require(bool ok, const std::string &what)
{
    if (!ok) {
        fprintf(stderr, "check_bench: %s\n", what.c_str());
        exit(1);
    }
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Timing {
    double seconds = 0;
    long peak_kib = 0;
    int status = -1;
};

// Runs a program with its output discarded (in `cwd` when given); its time and peak
// memory.
Timing timed(const std::vector<std::string> &argv, const std::string &cwd = "")
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    Clock::time_point start = Clock::now();
    pid_t child = fork();
    require(child >= 0, "fork");
    if (child == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    require(wait4(child, &status, 0, &usage) == child, "wait4");
    Timing t;
    t.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    t.peak_kib = usage.ru_maxrss;
    t.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return t;
}

// The recorder disk: the AV partition takes what the two small ones leave of the drive.
testimg::ImageSpec recorder_spec()
{
    testimg::ImageSpec spec = testimg::default_spec();
    for (int i = 1; i < 3; ++i) {
        spec.partitions[i].cluster_sectors = 64;
        spec.partitions[i].cluster_count = SMALL_PARTITION_CLUSTERS;
    }
    uint64_t small = 2 * (uint64_t{SMALL_PARTITION_CLUSTERS} * 64 + 600);
    uint64_t av_sectors = DISK_SECTORS - spec.first_start_sector - small;
    // The allocation table and directory come out of the partition too.
    uint64_t clusters = (av_sectors - 258) * 128 / (128 * AV_CLUSTER_SECTORS + 1);
    spec.partitions[0].cluster_sectors = AV_CLUSTER_SECTORS;
    spec.partitions[0].cluster_count = static_cast<uint32_t>(clusters);
    return spec;
}

// Fills 60% of the AV partition with RECORDINGS contiguous recordings, writing their
// chains straight into the table (the builder's per-file path would read the whole table
// for every file) and their entries, companions and record list through the builder.
void add_recordings(const std::string &path)
{
    testimg::DiskImage image(path);
    testimg::PartitionGeometry g = image.geometry(0);
    uint64_t per_recording = uint64_t{g.cluster_count} * 6 / 10 / RECORDINGS;
    std::vector<uint32_t> table(static_cast<size_t>(g.cluster_count) + 1, testimg::FAT_FREE);
    std::vector<testimg::Bytes> entries;
    uint32_t next = 0;
    for (unsigned r = 0; r < RECORDINGS; ++r) {
        uint32_t first = next;
        for (uint64_t k = 0; k < per_recording; ++k, ++next)
            table[next + 1] = k + 1 < per_recording ? next + 1 : testimg::FAT_END;
        testimg::Bytes slot(128, 0);
        std::string name = std::to_string(r + 2) + ".av";
        testimg::Bytes field(60, 0);
        std::copy(name.begin(), name.end(), field.begin());
        field = testimg::swapped_words(field);
        std::copy(field.begin(), field.end(), slot.begin() + 64);
        uint64_t size = per_recording * g.cluster_sectors * 512 - 1000;
        testimg::put_le32(slot, 12, g.data_sector + first * g.cluster_sectors);
        testimg::put_le32(slot, 20, g.data_sector + (next - 1) * g.cluster_sectors);
        testimg::put_le32(slot, 28, static_cast<uint32_t>(per_recording * g.cluster_sectors));
        testimg::put_le32(slot, 32, static_cast<uint32_t>(size >> 32));
        testimg::put_le32(slot, 36, static_cast<uint32_t>(size));
        testimg::put_le32(slot, 40, 0x1002);
        image.set_dir_slot(0, static_cast<int>(r), slot);
        entries.push_back(testimg::make_entry(RECORD_LENGTH, r + 2, 1500000000 + 7200 * r, 1500003600 + 7200 * r,
                                              "Recording " + std::to_string(r + 2)));
    }
    table[0] = g.cluster_count - next;
    testimg::Bytes region(uint64_t{g.fat_sectors} * 512, 0xFF);
    for (size_t w = 0; w < table.size(); ++w)
        testimg::put_le32(region, 4 * w, table[w]);
    image.write_bytes(uint64_t{g.fat_sector} * 512, region);
    for (unsigned r = 0; r < RECORDINGS; ++r)
        image.add_file(1, std::to_string(r + 2) + ".epg", testimg::pattern_bytes(2000, r));
    image.write_record_list(entries, RECORD_LENGTH);
}

constexpr uint32_t RING_CLUSTERS = 1u << 20;
constexpr unsigned RING_ENTRIES = 1000;

// Every cluster of the AV partition links to the next, the last back to the first; the
// directory holds RING_ENTRIES files of four clusters' size, spread over the ring.
void make_ring(const std::string &path)
{
    testimg::ImageSpec spec = testimg::default_spec();
    spec.partitions[0].cluster_sectors = 1;
    spec.partitions[0].cluster_count = RING_CLUSTERS;
    testimg::DiskImage image(path, spec);
    testimg::PartitionGeometry g = image.geometry(0);
    testimg::Bytes region(uint64_t{g.fat_sectors} * 512, 0xFF);
    testimg::put_le32(region, 0, 0);
    for (uint32_t c = 0; c < RING_CLUSTERS; ++c)
        testimg::put_le32(region, 4 * (uint64_t{c} + 1), (c + 1) % RING_CLUSTERS);
    image.write_bytes(uint64_t{g.fat_sector} * 512, region);
    uint32_t step = RING_CLUSTERS / RING_ENTRIES;
    for (unsigned k = 0; k < RING_ENTRIES; ++k) {
        testimg::Bytes slot(128, 0);
        std::string name = "f" + std::to_string(k) + ".bin";
        testimg::Bytes field(60, 0);
        std::copy(name.begin(), name.end(), field.begin());
        field = testimg::swapped_words(field);
        std::copy(field.begin(), field.end(), slot.begin() + 64);
        uint32_t first = k * step;
        testimg::put_le32(slot, 12, g.data_sector + first);
        testimg::put_le32(slot, 20, g.data_sector + first + 3);
        testimg::put_le32(slot, 28, 4);
        testimg::put_le32(slot, 36, 4 * 512);
        testimg::put_le32(slot, 40, 0x1000);
        image.set_dir_slot(0, static_cast<int>(k), slot);
    }
}

// A FAT32 image of the same size in clusters of the same length; returns its clusters.
uint64_t make_fat32(const std::string &path, uint32_t clusters)
{
    uint64_t sectors = uint64_t{clusters} * AV_CLUSTER_SECTORS + 2 * (uint64_t{clusters} * 4 / 512 + 1) + 64;
    unlink(path.c_str());
    std::string size_kib = std::to_string(sectors / 2);
    Timing t = timed({"mkfs.fat", "-F", "32", "-s", std::to_string(AV_CLUSTER_SECTORS), "-S", "512", "-C", path, size_kib});
    require(t.status == 0, "mkfs.fat failed (is dosfstools installed?)");
    // Data clusters: what follows the reserved sectors and both FATs.
    FILE *f = fopen(path.c_str(), "rb");
    require(f != nullptr, "cannot read " + path);
    unsigned char boot[512];
    require(fread(boot, 1, sizeof boot, f) == sizeof boot, "short boot sector");
    fclose(f);
    auto le = [&](int at, int bytes) {
        uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = v << 8 | boot[at + i];
        return v;
    };
    uint64_t reserved = le(14, 2), fats = boot[16], total = le(32, 4), per_fat = le(36, 4);
    return (total - reserved - fats * per_fat) / boot[13];
}

// A repair changes its disk and leaves saved files: each run gets a fresh copy of the
// image and an empty working directory.
std::vector<Timing> repairs_of(const std::string &program, const std::string &image, const std::string &dir, int runs)
{
    std::string copy = dir + "/repaired.img", work = dir + "/work";
    std::vector<Timing> all;
    for (int i = 0; i < runs; ++i) {
        std::filesystem::remove_all(work);
        std::filesystem::create_directory(work);
        std::filesystem::copy_file(image, copy, std::filesystem::copy_options::overwrite_existing);
        Timing t = timed({program, "--repair", "-y", copy}, work);
        require(t.status < 8, "the repair ended with status " + std::to_string(t.status));
        all.push_back(t);
    }
    std::filesystem::remove_all(work);
    unlink(copy.c_str());
    return all;
}

std::vector<Timing> runs_of(const std::vector<std::string> &argv, int runs, int wanted_status)
{
    Timing warm = timed(argv);
    require(warm.status == wanted_status, argv[0] + " ended with status " + std::to_string(warm.status));
    std::vector<Timing> all;
    for (int i = 0; i < runs; ++i)
        all.push_back(timed(argv));
    return all;
}

double median_seconds(const std::vector<Timing> &all)
{
    std::vector<double> s;
    for (const Timing &t : all)
        s.push_back(t.seconds);
    return median(s);
}

long peak(const std::vector<Timing> &all)
{
    long most = 0;
    for (const Timing &t : all)
        most = std::max(most, t.peak_kib);
    return most;
}

// The 1 TB geometry, empty and 60% full, next to fsck.fat; a writing command's opening.
void bench_recorder(const std::string &diskwarden, const std::string &dir, int runs)
{
    std::string empty = dir + "/recorder-empty.img", full = dir + "/recorder-full.img", fat = dir + "/fat32.img";
    testimg::ImageSpec spec = recorder_spec();
    testimg::DiskImage(empty, spec);
    testimg::DiskImage(full, spec);
    add_recordings(full);
    uint32_t clusters = spec.partitions[0].cluster_count;
    uint64_t fat_clusters = make_fat32(fat, clusters);

    std::vector<Timing> ours = runs_of({diskwarden, "--check", empty}, runs, 0);
    std::vector<Timing> theirs = runs_of({"fsck.fat", "-n", fat}, runs, 0);
    std::vector<Timing> ours_full = runs_of({diskwarden, "--check", full}, runs, 0);
    // A writing command first refuses a disk with clusters in two files: its opening next
    // to a listing's (-d of a recording that does not exist ends without writing).
    std::vector<Timing> listing = runs_of({diskwarden, "-l", full}, runs, 0);
    std::vector<Timing> writing = runs_of({diskwarden, "-y", "-d", "999", full}, runs, 0);

    double a = median_seconds(ours), b = median_seconds(theirs), c = median_seconds(ours_full);
    printf("Metadata-only check, median of %d runs (peak memory):\n", runs);
    printf("  diskwarden --check, 1 TB recorder geometry, %u clusters of 32 KiB, empty  %.3f s  (%ld MiB)\n",
           clusters, a, peak(ours) / 1024);
    printf("  fsck.fat -n, FAT32 image, %llu clusters of 32 KiB, empty               %.3f s  (%ld MiB)\n",
           static_cast<unsigned long long>(fat_clusters), b, peak(theirs) / 1024);
    printf("  diskwarden --check / fsck.fat -n = %.2f\n", a / b);
    printf("  diskwarden --check, the same geometry, %u recordings filling 60%%    %.3f s  (%ld MiB)\n", RECORDINGS,
           c, peak(ours_full) / 1024);
    printf("Opening that disk: -l %.3f s; a writing command, with its check for shared clusters, %.3f s\n",
           median_seconds(listing), median_seconds(writing));
    unlink(empty.c_str());
    unlink(full.c_str());
    unlink(fat.c_str());
}

void bench_ring(const std::string &diskwarden, const std::string &dir, int runs)
{
    std::string ring = dir + "/ring.img";
    make_ring(ring);
    std::vector<Timing> check = runs_of({diskwarden, "--check", ring}, runs, 4);
    std::vector<Timing> repair = repairs_of(diskwarden, ring, dir, runs);
    printf("A hostile table, %u clusters in one ring under %u entries, median of %d runs:\n"
           "  --check %.3f s (%ld MiB), --repair %.3f s (%ld MiB)\n",
           RING_CLUSTERS, RING_ENTRIES, runs, median_seconds(check), peak(check) / 1024, median_seconds(repair),
           peak(repair) / 1024);
    unlink(ring.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    bool ring_only = argc > 1 && strcmp(argv[1], "--ring") == 0;
    bool recorder_only = argc > 1 && strcmp(argv[1], "--recorder") == 0;
    if (ring_only || recorder_only) {
        --argc;
        ++argv;
    }
    int runs = argc > 1 ? atoi(argv[1]) : 5;
    const char *tmp = getenv("TMPDIR");
    std::string base = argc > 2 ? argv[2] : std::string(tmp ? tmp : "/tmp");
    require(runs > 0, "usage: check_bench [--ring | --recorder] [runs [work directory [diskwarden]]]");
    std::string dir_template = base + "/check_bench.XXXXXX";
    require(mkdtemp(dir_template.data()) != nullptr, "cannot create a work directory");
    std::string dir = dir_template;
    std::string diskwarden = argc > 3 ? argv[3] : testimg::diskwarden_path();
    if (!ring_only)
        bench_recorder(diskwarden, dir, runs);
    if (!recorder_only)
        bench_ring(diskwarden, dir, runs);
    rmdir(dir.c_str());
    return 0;
}
