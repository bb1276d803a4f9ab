// GNU ddrescue mapfiles: the parser (strict: a malformed map is an operational error with
// the line that is wrong), and --check --bad-map naming exactly the files with bytes in the
// unread areas, where they lie, and the partitions whose tables lie there.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "check/check_badmap.h"
#include "corruptions.h"
#include "disk_fixture.h"

namespace {

using testing::HasSubstr;

BadMap parsed(const std::string &text)
{
    BadMap map;
    std::string error;
    EXPECT_TRUE(check_parse_bad_map(text, &map, &error)) << error;
    return map;
}

std::string refusal(const std::string &text)
{
    BadMap map;
    std::string error;
    EXPECT_FALSE(check_parse_bad_map(text, &map, &error)) << text;
    return error;
}

TEST(BadMapParser, ReadsWhatDdrescueWrites)
{
    BadMap map = parsed("# Mapfile. Created by GNU ddrescue version 1.27\n"
                        "# current_pos  current_status  current_pass\n"
                        "0x00120000     +               1\n"
                        "#      pos        size  status\n"
                        "0x00000000  0x00010000  +\n"
                        "0x00010000  0x00000200  -\n"
                        "0x00010200  0x00000400  /\r\n"
                        "0x00010600  0x0000FA00  +\n"
                        "0x00020000  4096  ?\n"
                        "135168  0x00100000  *\n");
    ASSERT_EQ(map.areas.size(), 2u);
    EXPECT_EQ(map.areas[0].position, 0x10000u); // bad and non-scraped blocks joined
    EXPECT_EQ(map.areas[0].size, 0x600u);
    EXPECT_EQ(map.areas[1].position, 0x20000u); // non-tried and non-trimmed joined
    EXPECT_EQ(map.areas[1].size, 4096u + 0x100000u);
    EXPECT_EQ(map.mapped, 135168u + 0x100000u);
    EXPECT_TRUE(parsed("0 +\n0 0x200 +\n").areas.empty());
}

TEST(BadMapParser, RefusesAnythingItWouldHaveToGuess)
{
    EXPECT_EQ(refusal(""), "line 0: no blocks: this is not a ddrescue mapfile");
    EXPECT_EQ(refusal("0x0 +\n"), "line 1: no blocks: this is not a ddrescue mapfile");
    EXPECT_THAT(refusal("0x0 0x200 +\n"), HasSubstr("line 1: expected the current position and status"));
    EXPECT_THAT(refusal("0x0 +\n0x200 0x200 +\n"), HasSubstr("line 2: the first block does not start at position 0"));
    EXPECT_THAT(refusal("0x0 +\n0x0 0x200 +\n0x400 0x200 -\n"),
                HasSubstr("line 3: the block does not start where the one before it ends"));
    EXPECT_THAT(refusal("0x0 +\n0x0 0x200 +\n0x100 0x200 -\n"), HasSubstr("line 3: the block does not start"));
    EXPECT_THAT(refusal("0x0 +\n0x0 0x200 x\n"), HasSubstr("line 2: expected a block"));
    EXPECT_THAT(refusal("0x0 +\n0x0 0xZZ +\n"), HasSubstr("line 2: expected a block"));
    EXPECT_THAT(refusal("0x0 +\n0x0 0x200 + extra\n"), HasSubstr("line 2: expected a block"));
    EXPECT_THAT(refusal("0x0 +\n0x0 0 +\n"), HasSubstr("line 2: a block of size 0"));
    EXPECT_THAT(refusal("0x0 +\n0x0 0xFFFFFFFFFFFFFFFF +\n0xFFFFFFFFFFFFFFFF 0x2 -\n"), HasSubstr("line 3: the block runs past"));
    EXPECT_THAT(refusal("0x0 +\n0x0 0x1FFFFFFFFFFFFFFFF +\n"), HasSubstr("line 2: expected a block"));
}

class BadMapCheck : public testimg::DiskFixture {
  protected:
    void SetUp() override
    {
        DiskFixture::SetUp();
        expect_damaged();
        testimg::build_catalogue_disk(path);
    }

    // A map of the whole image with the given byte ranges unread ('-').
    void write_map(std::vector<std::pair<uint64_t, uint64_t>> bad, uint64_t mapped = 0)
    {
        std::sort(bad.begin(), bad.end());
        uint64_t size = mapped != 0 ? mapped : image_bytes().size();
        std::string text = "# test map\n0x00000000 +\n";
        uint64_t at = 0;
        auto block = [&](uint64_t from, uint64_t to, char status) {
            char line[80];
            snprintf(line, sizeof line, "0x%08llX 0x%08llX %c\n", static_cast<unsigned long long>(from),
                     static_cast<unsigned long long>(to - from), status);
            text += line;
        };
        for (const auto &[from, to] : bad) {
            if (from > at)
                block(at, from, '+');
            block(from, to, '-');
            at = to;
        }
        if (at < size)
            block(at, size, '+');
        testimg::write_host_file(dir.file("map"), testimg::Bytes(text.begin(), text.end()));
    }

    uint64_t cluster_byte(int part, uint32_t cluster)
    {
        testimg::DiskImage image(path);
        return (uint64_t{image.data_sector(part)} + uint64_t{cluster} * image.geometry(part).cluster_sectors) * 512;
    }

    std::string report(const testimg::RunResult &r) const
    {
        std::string out = r.out;
        for (size_t at; (at = out.find(path)) != std::string::npos;)
            out.replace(at, path.size(), "disk.img");
        return out;
    }
};

TEST_F(BadMapCheck, NamesTheFilesInUnreadAreasAndWhereTheyLie)
{
    testimg::DiskImage image(path);
    testimg::FileInfo av = *image.find(0, "3.av");
    testimg::FileInfo epg = *image.find(1, "4.epg");
    uint64_t second = cluster_byte(0, av.clusters[1]);
    uint64_t free_area = cluster_byte(0, 200);
    write_map({{second + 1024, second + 2048}, {cluster_byte(1, epg.clusters[0]), cluster_byte(1, epg.clusters[0]) + 512},
               {free_area, free_area + 8192}});
    testimg::RunResult r = run({"--check", "--bad-map", dir.file("map")});
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_EQ(report(r),
              "AV: \"3.av\" (recording 2, \"Three\"): 1024 bytes unreadable, in 1 area: bytes 5120 to 6143 (36.6% to 43.9%); "
              "this copy is not whole: keep the drive until the recording is safe elsewhere\n"
              "EPG: \"4.epg\" (recording 3, \"Four\"): 336 bytes unreadable, in 1 area: bytes 0 to 335 (0.0% to 100.0%); "
              "this copy is not whole: keep the drive until the recording is safe elsewhere\n"
              "Map: its unreadable areas (9728 bytes) touch 2 files; whole: 1 of the 3 listed recordings\n"
              "disk.img: 2 problems (0 repairable), 1 notice, 0 bytes leaked\n");
}

TEST_F(BadMapCheck, TablesInUnreadAreasKeepTheRepairAwayFromTheirPartition)
{
    testimg::DiskImage image(path);
    testimg::corruption("free-count-high").damage(image);
    uint64_t table = uint64_t{image.fat_sector(0)} * 512;
    write_map({{table, table + 512}}, image_bytes().size() - 4096);
    testimg::Bytes before = image_bytes();
    testimg::RunResult r = run({"--repair", "-y", "--bad-map", dir.file("map")});
    EXPECT_EQ(r.status, 4) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("Map: it covers"));
    EXPECT_THAT(r.out, HasSubstr("AV: its allocation table lies in unreadable areas of the map; findings here may come"));
    EXPECT_THAT(r.out, HasSubstr("(0 repairable)"));
    EXPECT_TRUE(image_bytes() == before);
}

// A map that does not end where the disk does is not all of this disk's map: longer, it
// confirms nothing (a bigger drive's map would call every recording whole); shorter, its
// unmapped tail counts as unread in the summary too.
TEST_F(BadMapCheck, AMapOfAnotherLengthIsReportedAndConfirmsNothing)
{
    uint64_t size = image_bytes().size();
    write_map({}, size + (1u << 20));
    testimg::RunResult longer = run({"--check", "--bad-map", dir.file("map")});
    EXPECT_EQ(longer.status, 4) << longer.err;
    EXPECT_THAT(report(longer), HasSubstr("Map: it covers " + std::to_string(size + (1u << 20)) +
                                          " bytes, past the disk's end at " + std::to_string(size) +
                                          ": it may be the map of another disk; give the mapfile of this disk's image\n"));
    EXPECT_THAT(report(longer), HasSubstr("Map: its unreadable areas (0 bytes) touch 0 files"));

    write_map({}, size - 4096);
    testimg::RunResult shorter = run({"--check", "--bad-map", dir.file("map")});
    EXPECT_EQ(shorter.status, 4) << shorter.err;
    EXPECT_THAT(report(shorter), HasSubstr("Map: its unreadable areas (4096 bytes) touch"));
}

TEST_F(BadMapCheck, AMapThatCannotBeReadIsAnOperationalError)
{
    testimg::RunResult missing = run({"--check", "--bad-map", dir.file("none")});
    EXPECT_EQ(missing.status, 8);
    EXPECT_EQ(missing.err, dir.file("none") + ": No such file or directory\n");
    testimg::write_host_file(dir.file("map"), {'0', ' ', '+', '\n', '1', ' ', '2', ' ', '+', '\n'});
    testimg::RunResult malformed = run({"--check", "--bad-map", dir.file("map")});
    EXPECT_EQ(malformed.status, 8);
    EXPECT_EQ(malformed.err, dir.file("map") + ": line 2: the first block does not start at position 0\n");
    EXPECT_TRUE(malformed.out.empty());
}

} // namespace
