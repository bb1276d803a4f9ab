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
        DiskImage image(path);
        image.add_file(1, "2.epg", alpha.epg);
        image.remove_file(1, "2.epg");
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

} // namespace
