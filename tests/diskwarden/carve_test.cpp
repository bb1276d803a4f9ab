// Finding lost recordings end to end: recordings deleted with -d, or on a disk whose tables
// were wiped, come back from their clusters byte for byte, joined from fragments in any
// order, never joined from two recordings, and never made up from clusters of other data.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "support/disk_fixture.h"

namespace {

using namespace testimg;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr uint32_t L = FIXTURE_CLUSTER;
constexpr uint32_t DAY = 86400;

struct Listed {
    uint64_t size = 0;
    unsigned seconds = 0;
    std::string line;
};

// The listing lines ("  n: SIZE bytes  H:MM:SS ..."), in order.
std::vector<Listed> listing(const std::string &out)
{
    std::vector<Listed> lines;
    static const std::regex LINE(R"(^ *(\d+): (\d+) bytes +(\d+):(\d\d):(\d\d)(.*)$)");
    std::istringstream in(out);
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (!std::regex_match(text, m, LINE))
            continue;
        EXPECT_EQ(std::stoul(m[1]), lines.size() + 1) << text;
        unsigned seconds = std::stoul(m[3]) * 3600 + std::stoul(m[4]) * 60 + std::stoul(m[5]);
        lines.push_back({std::stoull(m[2]), seconds, text});
    }
    return lines;
}

// The bytes of a recording that a carver can give back: all of it, its last packet whole.
Bytes whole_packets(const Bytes &stream, size_t from = 0, size_t to = SIZE_MAX)
{
    to = std::min(to, stream.size());
    to = from + (to - from) / 188 * 188;
    return Bytes(stream.begin() + static_cast<long>(from), stream.begin() + static_cast<long>(to));
}

// Seconds from the first to the last clock reference of a stream (on any PID), as
// reelhead measures a recording's length.
unsigned pcr_seconds(const Bytes &stream)
{
    bool seen = false;
    uint64_t first = 0, last = 0;
    for (size_t at = 0; at + 188 <= stream.size(); at += 188) {
        const uint8_t *p = stream.data() + at;
        if ((p[3] & 0x20) && p[4] >= 7 && (p[5] & 0x10)) {
            uint64_t base = 0;
            for (int i = 6; i < 11; ++i)
                base = base << 8 | p[i];
            last = base >> 7;
            first = seen ? first : last;
            seen = true;
        }
    }
    return static_cast<unsigned>(((last - first) & ((uint64_t{1} << 33) - 1)) / 90000);
}

Bytes jpeg_like(size_t size)
{
    Bytes picture = pattern_bytes(size, 77);
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F'};
    std::copy(std::begin(head), std::end(head), picture.begin());
    return picture;
}

class Carve : public DiskFixture {
  protected:
    // Clusters of other data beside the recordings, freed as a delete leaves them: noise,
    // zeros, programme information and a picture.
    void add_freed_junk()
    {
        DiskImage image(path);
        image.add_file(0, "noise.bin", pattern_bytes(3 * L, 31));
        image.add_file(0, "zeros.bin", Bytes(2 * L, 0));
        image.add_file(0, "guide.epg", make_epg({{SUNDAY_2100, 600, "Junk", "Not a stream."}}, 332));
        image.add_file(0, "photo.jpg", jpeg_like(2 * L + 100));
        for (const char *name : {"noise.bin", "zeros.bin", "guide.epg", "photo.jpg"})
            image.remove_file(0, name);
    }

    // The streams found with `mode`, each line checked for its size and duration.
    std::vector<Listed> carve(const std::string &mode, RunResult *result = nullptr)
    {
        RunResult r = run({mode});
        EXPECT_EQ(r.status, 0) << r.err;
        if (result != nullptr)
            *result = r;
        return listing(r.out);
    }

    // The found stream of `size` bytes: its number, or 0.
    static unsigned number_of(const std::vector<Listed> &found, size_t size)
    {
        for (size_t i = 0; i < found.size(); ++i) {
            if (found[i].size == size)
                return static_cast<unsigned>(i + 1);
        }
        return 0;
    }

    static std::string found_name(unsigned number)
    {
        char name[32];
        snprintf(name, sizeof name, "found_%04u.ts", number);
        return name;
    }

    // Checks that recording `r` was found whole, with its length, and copies it back.
    void expect_found(const std::vector<Listed> &found, const TestRecording &r, const char *mode)
    {
        unsigned number = number_of(found, whole_packets(r.av).size());
        ASSERT_NE(number, 0u) << r.title << " not found";
        EXPECT_EQ(found[number - 1].seconds, r.length) << found[number - 1].line;
        RunResult g = run({mode, "-g", std::to_string(number)});
        ASSERT_EQ(g.status, 0) << g.err;
        EXPECT_EQ(host_file(found_name(number)), whole_packets(r.av)) << r.title;
    }
};

TEST_F(Carve, DeletedRecordingsComeBackByteForByteAndNamed)
{
    TestRecording alpha = broadcast_recording(2, "Alpha", 12, SUNDAY_2100);
    TestRecording beta = broadcast_recording(3, "Beta", 8, SUNDAY_2100 + DAY);
    beta.placement = Placement::Reversed; // every cluster a fragment, in reverse order
    TestRecording gamma = broadcast_recording(4, "Gamma", 6, SUNDAY_2100 + 2 * DAY);
    TestRecording twin = gamma; // a second copy of Gamma's stream
    twin.file_number = 5;
    twin.epg = {};
    make_disk({alpha, beta, gamma, twin});
    add_freed_junk();
    RunResult d = run({"-y", "-d", "1,2,4"});
    ASSERT_EQ(d.status, 0) << d.err;
    {
        // The record list, saved after each delete, takes the clusters of the programme
        // information freed before: leave Alpha's where nothing takes it.
        // An event of the same start that the stream cannot hold does not name it.
        DiskImage image(path);
        image.add_file(1, "2.epg", alpha.epg);
        image.add_file(1, "9.epg", make_epg({{SUNDAY_2100, 3600, "Too long", "No."}}, 332));
        image.remove_file(1, "2.epg");
        image.remove_file(1, "9.epg");
    }
    Bytes before = image_bytes();

    RunResult r;
    std::vector<Listed> found = carve("--carve", &r);
    ASSERT_EQ(found.size(), 2u) << r.out << r.err;
    expect_found(found, alpha, "--carve");
    expect_found(found, beta, "--carve");
    EXPECT_EQ(image_bytes(), before);

    const std::string &a = found[number_of(found, whole_packets(alpha.av).size()) - 1].line;
    EXPECT_THAT(a, HasSubstr("programme 1 (PMT 0x0100, PCR 0x0200; PIDs 0x0200 video, 0x0280 audio)"));
    EXPECT_THAT(a, HasSubstr("service \"BBC ONE\"  event \"Alpha\"  recorded Sun 26/05/13 21:00  guide \"Alpha\""));
    EXPECT_THAT(a, Not(HasSubstr("joined")));
    const std::string &b = found[number_of(found, whole_packets(beta.av).size()) - 1].line;
    EXPECT_THAT(b, HasSubstr("joined from " + std::to_string((beta.av.size() + L - 1) / L) + " pieces"));
    EXPECT_THAT(b, HasSubstr("recorded Mon 27/05/13 21:00"));
    // The deleted twin of a recording still on the disk is not listed as lost.
    EXPECT_THAT(r.err, HasSubstr("a copy of 4.av"));
    EXPECT_THAT(r.out, HasSubstr("2 found streams"));
}

// The same disk with the AV and EPG partitions' tables wiped: every recording, live or
// deleted, comes back from all clusters, and the clusters of other data give nothing.
TEST_F(Carve, WipedTablesEveryClusterScanned)
{
    TestRecording alpha = broadcast_recording(2, "Alpha", 12, SUNDAY_2100);
    TestRecording beta = broadcast_recording(3, "Beta", 8, SUNDAY_2100 + DAY);
    beta.placement = Placement::Reversed;
    TestRecording gamma = broadcast_recording(4, "Gamma", 6, SUNDAY_2100 + 2 * DAY);
    make_disk({alpha, beta, gamma});
    add_freed_junk();
    {
        DiskImage image(path);
        image.add_file(0, "noise.av", pattern_bytes(4 * L, 32)); // live junk named like a stream
        image.zero_tables(0);
        image.zero_tables(1);
    }
    expect_damaged();
    RunResult normal = run({"-l"});
    EXPECT_EQ(normal.status, 1);

    RunResult r;
    std::vector<Listed> found = carve("--carve-all", &r);
    ASSERT_EQ(found.size(), 3u) << r.out << r.err;
    for (const TestRecording *rec : {&alpha, &beta, &gamma})
        expect_found(found, *rec, "--carve-all");
    // The programme information of every recording is found as well.
    EXPECT_THAT(r.out, HasSubstr("guide \"Gamma\""));

    // Scanning free clusters with a wiped directory: nothing is held, so the same.
    EXPECT_EQ(carve("--carve").size(), 3u);
}

// A recording whose chain was cut short: the clusters it lost come back as a stream that
// continues it; scanning every cluster finds its first part too, inside the file.
TEST_F(Carve, LostTailOfALiveRecordingIsNamedAfterIt)
{
    TestRecording alpha = broadcast_recording(2, "Alpha", 10, SUNDAY_2100);
    make_disk({alpha});
    uint32_t clusters = static_cast<uint32_t>((alpha.av.size() + L - 1) / L);
    ASSERT_GT(clusters, 8u);
    {
        DiskImage image(path);
        image.set_fat_entry(0, 5, FAT_END);
        for (uint32_t c = 6; c < clusters; ++c)
            image.set_fat_entry(0, c, FAT_FREE);
    }
    expect_damaged();
    size_t resume = (6 * L + 187) / 188 * 188;
    RunResult r;
    std::vector<Listed> found = carve("--carve", &r);
    ASSERT_EQ(found.size(), 1u) << r.out << r.err;
    EXPECT_EQ(found[0].size, whole_packets(alpha.av, resume).size());
    EXPECT_THAT(found[0].line, HasSubstr("  continues 2.av"));

    found = carve("--carve-all", &r);
    ASSERT_EQ(found.size(), 1u) << r.out;
    EXPECT_EQ(found[0].size, whole_packets(alpha.av).size());
    EXPECT_THAT(found[0].line, HasSubstr("  in 2.av"));
}

// Two recordings made at once, their clusters interleaved in runs of different lengths,
// and a third in runs that lie in reverse order: all three come back whole.
TEST_F(Carve, InterleavedAndReversedFragmentsJoined)
{
    TestRecording x = broadcast_recording(2, "Xray", 14, SUNDAY_2100);
    TestRecording y = broadcast_recording(3, "Yankee", 10, SUNDAY_2100);
    TestRecording z = broadcast_recording(4, "Zulu", 9, SUNDAY_2100 + DAY);
    size_t x_clusters = (x.av.size() + L - 1) / L, y_clusters = (y.av.size() + L - 1) / L;
    const unsigned x_runs[] = {1, 2, 3}, y_runs[] = {2, 1, 3, 1};
    uint32_t next = 100; // past the companions' clusters
    for (size_t i = 0; x.clusters.size() < x_clusters || y.clusters.size() < y_clusters; ++i) {
        for (unsigned k = 0; k < x_runs[i % 3] && x.clusters.size() < x_clusters; ++k)
            x.clusters.push_back(next++);
        for (unsigned k = 0; k < y_runs[i % 4] && y.clusters.size() < y_clusters; ++k)
            y.clusters.push_back(next++);
    }
    size_t z_clusters = (z.av.size() + L - 1) / L, z_runs = (z_clusters + 2) / 3;
    for (size_t c = 0; c < z_clusters; ++c)
        z.clusters.push_back(static_cast<uint32_t>(next + (z_runs - 1 - c / 3) * 3 + c % 3));
    make_disk({x, y, z});
    RunResult d = run({"-y", "-d", "1-3"});
    ASSERT_EQ(d.status, 0) << d.err;

    RunResult r;
    std::vector<Listed> found = carve("--carve", &r);
    ASSERT_EQ(found.size(), 3u) << r.out;
    for (const TestRecording *rec : {&x, &y, &z})
        expect_found(found, *rec, "--carve");
    EXPECT_THAT(found[number_of(found, whole_packets(z.av).size()) - 1].line,
                HasSubstr("joined from " + std::to_string(z_runs) + " pieces"));
}

// A deleted recording whose middle another recording took, deleted in turn: its two
// surviving parts come back as streams of their own, each its bytes from a whole packet
// on, and never joined to each other or to the recording between them.
TEST_F(Carve, OverwrittenRecordingPartsComeBackApart)
{
    TestRecording w = broadcast_recording(2, "Whiskey", 20, SUNDAY_2100);
    make_disk({w});
    RunResult d = run({"-y", "-d", "1"});
    ASSERT_EQ(d.status, 0) << d.err;
    TestRecording v = broadcast_recording(5, "Victor", 2, SUNDAY_2100 + DAY);
    ASSERT_EQ((v.av.size() + L - 1) / L, 4u);
    {
        DiskImage image(path);
        image.add_file_at(0, "5.av", v.av, {8, 9, 10, 11});
        image.remove_file(0, "5.av");
    }
    size_t resume = (12 * L + 187) / 188 * 188;
    Bytes first_part = whole_packets(w.av, 0, 8 * L), last_part = whole_packets(w.av, resume);

    RunResult r;
    std::vector<Listed> found = carve("--carve", &r);
    ASSERT_EQ(found.size(), 3u) << r.out;
    EXPECT_EQ(found[0].size, first_part.size()) << found[0].line;
    EXPECT_EQ(found[1].size, whole_packets(v.av).size()) << found[1].line;
    EXPECT_EQ(found[2].size, last_part.size()) << found[2].line;
    EXPECT_EQ(found[0].seconds, pcr_seconds(first_part));
    EXPECT_EQ(found[1].seconds, 2u);
    EXPECT_EQ(found[2].seconds, pcr_seconds(last_part));
    ASSERT_EQ(run({"--carve", "-g", "1-3"}).status, 0);
    EXPECT_EQ(host_file("found_0001.ts"), first_part);
    EXPECT_EQ(host_file("found_0002.ts"), whole_packets(v.av));
    EXPECT_EQ(host_file("found_0003.ts"), last_part);
}

// The carver only reads the disk; what it cannot do it says, and a host file is replaced
// only when the question is answered yes.
TEST_F(Carve, CommandLineEdgesLeaveTheDiskAlone)
{
    TestRecording alpha = broadcast_recording(2, "Alpha", 4, SUNDAY_2100);
    make_disk({alpha});
    ASSERT_EQ(run({"-y", "-d", "1"}).status, 0);
    Bytes before = image_bytes();

    RunResult r = run({"--carve", "-d", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "--carve and --carve-all work with -l, -g and -y only\n");
    r = run({"--carve", "-g", "1,2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("Copying found_0001.ts...\nFound stream 2 does not exist\n"));
    Bytes stream = whole_packets(alpha.av);
    EXPECT_EQ(host_file("found_0001.ts"), stream);
    write_host_file(host + "/found_0001.ts", {1, 2, 3});
    r = run({"--carve", "-g", "1"}, "n\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("File \"found_0001.ts\" already exists, overwrite? [no]: "));
    EXPECT_EQ(host_file("found_0001.ts"), Bytes({1, 2, 3}));
    r = run({"--carve", "-y", "-g", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(host_file("found_0001.ts"), stream);
    EXPECT_EQ(host_names(), std::vector<std::string>{"found_0001.ts"});
    // A host that fills up: the copy is absent, the file it was to replace untouched.
    write_host_file(host + "/found_0001.ts", {4, 5});
    r = run_limited(8, {"--carve", "-y", "-g", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("found_0001.ts: File too large"));
    EXPECT_EQ(host_names(), std::vector<std::string>{"found_0001.ts"});
    EXPECT_EQ(host_file("found_0001.ts"), Bytes({4, 5}));

    // A directory of the wrong size: its table and directory are not read, so only
    // scanning every cluster can find the stream.
    DiskImage(path).set_descriptor_u32(0, 276, 255);
    expect_damaged();
    r = run({"--carve"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "AV partition: the allocation table or directory cannot be read; --carve-all "
                     "scans every cluster without them\n");
    std::vector<Listed> found = carve("--carve-all");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].size, stream.size());
    DiskImage(path).set_descriptor_u32(0, 276, 256);
    EXPECT_EQ(image_bytes(), before);
}

} // namespace
