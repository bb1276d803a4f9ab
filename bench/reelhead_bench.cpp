// Times reelhead's conversion of one stream: a 20 MiB stream written out in full and a
// 2 GiB sparse one whose middle was never written. The analysis reads only the head and
// the tail, so both should take about the same few milliseconds.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "reelhead/ts_driver.h"

// The tests' stream writer, compiled in here so the benchmark needs no test library.
#include "../tests/support/ts_writer.cpp"

namespace {

constexpr int RUNS = 21;
constexpr uint16_t PCR_PID = 0x200;

// `packets` packets of a recording: tables first when `with_tables`, then a PCR every
// tenth packet from `pcr` on (40 ms apart), video payload between.
tswriter::Bytes stream_part(size_t packets, bool with_tables, uint64_t pcr)
{
    tswriter::TsWriter ts;
    if (with_tables) {
        ts.pat({{0, 0x10}, {1, 0x100}});
        ts.pmt(0x100, 1, PCR_PID, {{2, PCR_PID}, {3, 0x280}, {6, 0x290}});
    }
    while (ts.size() < packets * tswriter::PACKET_SIZE) {
        if (ts.size() / tswriter::PACKET_SIZE % 10 == 0) {
            ts.pcr(PCR_PID, pcr);
            pcr += 3600;
        } else {
            ts.payload(PCR_PID);
        }
    }
    return ts.bytes();
}

void write_at(int fd, const tswriter::Bytes &bytes, off_t position)
{
    if (pwrite(fd, bytes.data(), bytes.size(), position) != static_cast<ssize_t>(bytes.size())) {
        perror("pwrite");
        exit(1);
    }
}

// A stream of `size` bytes (rounded down to whole packets). Only the first and last
// `written` bytes hold packets; the middle is a hole in the file.
void make_stream(const std::string &path, uint64_t size, uint64_t written)
{
    const size_t packets = size / tswriter::PACKET_SIZE;
    const size_t end_packets = std::min<uint64_t>(written / tswriter::PACKET_SIZE, packets / 2);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(packets * tswriter::PACKET_SIZE)) != 0) {
        perror(path.c_str());
        exit(1);
    }
    write_at(fd, stream_part(end_packets, true, 900000), 0);
    const size_t tail_start = packets - end_packets;
    // The tail's clock continues as if the middle had been written.
    write_at(fd, stream_part(end_packets, false, 900000 + uint64_t{tail_start} / 10 * 3600),
             static_cast<off_t>(tail_start * tswriter::PACKET_SIZE));
    close(fd);
}

// Median milliseconds of RUNS conversions of `stream`, the header removed before each.
double time_conversion(const std::string &stream, const std::string &header)
{
    std::vector<double> times;
    for (int run = 0; run < RUNS; ++run) {
        unlink(header.c_str());
        auto start = std::chrono::steady_clock::now();
        if (ts_convert_file(stream.c_str()) != TsResult::Written) {
            fprintf(stderr, "conversion of %s failed\n", stream.c_str());
            exit(1);
        }
        times.push_back(std::chrono::duration<double, std::milli>(
                            std::chrono::steady_clock::now() - start)
                            .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main()
{
    char dir_template[] = "/tmp/reelhead_bench.XXXXXX";
    if (mkdtemp(dir_template) == nullptr) {
        perror("mkdtemp");
        return 1;
    }
    const std::string dir = dir_template;
    const std::string small = dir + "/small.ts", large = dir + "/large.ts";
    make_stream(small, uint64_t{20} << 20, uint64_t{20} << 20);
    make_stream(large, uint64_t{2} << 30, uint64_t{4} << 20);

    // The program's messages would swamp the figures.
    fflush(stdout);
    const int saved_out = dup(1), saved_err = dup(2);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    dup2(null_fd, 2);
    const double small_ms = time_conversion(small, dir + "/small.hre");
    const double large_ms = time_conversion(large, dir + "/large.hre");
    fflush(stdout);
    dup2(saved_out, 1);
    dup2(saved_err, 2);

    printf("reelhead conversion, median of %d runs:\n", RUNS);
    printf("  20 MiB stream:         %8.3f ms\n", small_ms);
    printf("  2 GiB sparse stream:   %8.3f ms\n", large_ms);
    for (const std::string &name : {small, large, dir + "/small.hre", dir + "/large.hre"})
        unlink(name.c_str());
    rmdir(dir.c_str());
    return 0;
}
