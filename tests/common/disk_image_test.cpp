// The test-image library itself: what it writes must read back, and its checker must
// notice the damage that the product's tests rely on it to notice.
#include "support/disk_image.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace testimg;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

constexpr uint32_t L = 4096; // cluster length of the default spec

bool any_problem(const std::vector<std::string> &problems, const std::string &text) {
    return std::any_of(problems.begin(), problems.end(),
                       [&](const std::string &p) { return p.find(text) != std::string::npos; });
}

class DiskImageTest : public ::testing::Test {
  protected:
    TempDir dir;
    DiskImage image{dir.file("disk.img"), default_spec()};
};

TEST_F(DiskImageTest, FreshImageHasTheLayoutAndEmptyTables) {
    Bytes table = image.read_sectors(0, 1);
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(table[444 + 16 * i], 0xAF);
        EXPECT_EQ(table[445 + 16 * i], 0x00);
    }
    PartitionGeometry g = image.geometry(0);
    EXPECT_EQ(g.start_sector, 64u);
    EXPECT_EQ(g.utab_sector, 65u);
    EXPECT_EQ(g.fat_sector, 66u);
    EXPECT_EQ(g.fat_sectors, 3u); // 257 words
    EXPECT_EQ(g.dir_sector, 69u);
    EXPECT_EQ(g.data_sector, 69u + 256);
    EXPECT_EQ(g.format_code, DEFAULT_FORMAT);
    EXPECT_EQ(g.data_sector + g.data_sectors - g.start_sector, g.sector_count);
    EXPECT_EQ(image.start_sector(1), g.start_sector + g.sector_count);
    EXPECT_EQ(image.fat_word0(2), 256u);
    EXPECT_EQ(image.fat_entry(2, 255), FAT_FREE);
    EXPECT_THAT(image.files(1), IsEmpty());
    EXPECT_EQ(std::filesystem::file_size(image.path()),
              (uint64_t(image.start_sector(2)) + image.geometry(2).sector_count) * 512);
    EXPECT_THAT(check_image(image.path(), 304), IsEmpty());
}

TEST_F(DiskImageTest, ContiguousFileReadsBackAndIsStoredSwapped) {
    Bytes contents = pattern_bytes(3 * L + 123);
    image.add_file(0, "12.av", contents);
    auto info = image.find(0, "12.av");
    ASSERT_TRUE(info);
    EXPECT_THAT(info->clusters, ElementsAre(0u, 1u, 2u, 3u));
    EXPECT_EQ(info->size, contents.size());
    EXPECT_EQ(info->allocated_sectors, 32u);
    EXPECT_EQ(info->first_sector, image.data_sector(0));
    EXPECT_EQ(info->last_sector, image.data_sector(0) + 3 * 8);
    EXPECT_EQ(info->attributes, 0x1000u);
    EXPECT_EQ(image.fat_entry(0, 3), FAT_END);
    EXPECT_EQ(image.fat_word0(0), 252u);
    EXPECT_EQ(image.read_file(0, "12.av"), contents);

    // On the disk: each 4-byte group reversed, the name too, the cluster's tail zero.
    Bytes first = image.read_sectors(image.data_sector(0), 1);
    EXPECT_THAT(Bytes(first.begin(), first.begin() + 4),
                ElementsAre(contents[3], contents[2], contents[1], contents[0]));
    Bytes last = image.read_sectors(info->last_sector, 8);
    // The last word holds bytes 120-122 and one zero: stored as 0, 122, 121, 120.
    EXPECT_THAT(Bytes(last.begin() + 120, last.begin() + 125),
                ElementsAre(0, contents[3 * L + 122], contents[3 * L + 121],
                            contents[3 * L + 120], 0));
    Bytes slot = image.dir_slot(0, info->slot);
    EXPECT_EQ(std::string(slot.begin() + 64, slot.begin() + 72), std::string("a.21\0\0\0v", 8));
    EXPECT_THAT(check_image(image.path()), IsEmpty());
}

TEST_F(DiskImageTest, FragmentedReversedAndExplicitPlacements) {
    Bytes a = pattern_bytes(10, 1), b = pattern_bytes(2 * L + 1, 2), c = pattern_bytes(L, 3);
    image.add_file(0, "a", a);
    image.add_file(0, "b", b, 0x1002, Placement::Fragmented);
    image.add_file(0, "c", c, 0x1000, Placement::Reversed);
    image.add_file_at(0, "d", pattern_bytes(L + 1, 4), {200, 7});
    EXPECT_THAT(image.find(0, "b")->clusters, ElementsAre(1u, 3u, 5u));
    EXPECT_EQ(image.find(0, "b")->attributes, 0x1002u);
    EXPECT_THAT(image.find(0, "c")->clusters, ElementsAre(255u));
    EXPECT_THAT(image.find(0, "d")->clusters, ElementsAre(200u, 7u));
    EXPECT_EQ(image.read_file(0, "b"), b);
    EXPECT_EQ(image.read_file(0, "d"), pattern_bytes(L + 1, 4));
    // Contiguous placement skips the holes the fragmented file left.
    image.add_file(0, "e", pattern_bytes(2 * L, 5));
    EXPECT_THAT(image.find(0, "e")->clusters, ElementsAre(8u, 9u));
    EXPECT_EQ(image.fat_word0(0), 256u - 9);
    EXPECT_THAT(check_image(image.path()), IsEmpty());
}

TEST_F(DiskImageTest, EmptyFileTakesOneClusterAndRemovalFreesEverything) {
    int slot = image.add_file(2, "empty", {});
    EXPECT_EQ(slot, 0);
    EXPECT_THAT(image.find(2, "empty")->clusters, ElementsAre(0u));
    EXPECT_EQ(image.fat_entry(2, 0), FAT_END);
    EXPECT_THAT(image.read_file(2, "empty"), IsEmpty());
    image.add_file(2, "second", pattern_bytes(5 * L), 0x1000, Placement::Fragmented);
    image.remove_file(2, "empty");
    EXPECT_EQ(image.add_file(2, "third", pattern_bytes(7)), 0); // the first free slot
    image.remove_file(2, "second");
    image.remove_file(2, "third");
    EXPECT_EQ(image.fat_word0(2), 256u);
    EXPECT_THAT(image.files(2), IsEmpty());
    EXPECT_THAT(check_image(image.path()), IsEmpty());
}

TEST_F(DiskImageTest, MisuseIsRefused) {
    image.add_file(0, "x", pattern_bytes(4));
    EXPECT_THROW(image.add_file(0, "x", pattern_bytes(4)), std::runtime_error);
    EXPECT_THROW(image.add_file(0, std::string(61, 'n'), {}), std::runtime_error);
    EXPECT_THROW(image.add_file_at(0, "y", pattern_bytes(4), {0}), std::runtime_error);
    EXPECT_THROW(image.add_file_at(0, "y", pattern_bytes(L + 1), {5}), std::runtime_error);
    EXPECT_THROW(image.add_file(0, "big", Bytes(256 * L)), std::runtime_error);
    EXPECT_THROW(image.read_file(0, "missing"), std::runtime_error);
    EXPECT_EQ(image.fat_word0(0), 255u); // nothing of the refused files was taken
}

TEST_F(DiskImageTest, ReopenedImageSeesTheSameGeometryAndFiles) {
    image.add_file(1, std::string(60, 'z'), pattern_bytes(100));
    DiskImage again(image.path());
    for (int part = 0; part < 3; ++part) {
        EXPECT_EQ(again.data_sector(part), image.data_sector(part));
        EXPECT_EQ(again.spec().partitions[part].start_sector, image.start_sector(part));
    }
    EXPECT_EQ(again.read_file(1, std::string(60, 'z')), pattern_bytes(100));
    write_host_file(image.path(), Bytes(4096, 0));
    EXPECT_THROW(DiskImage(image.path()), std::runtime_error);
}

TEST_F(DiskImageTest, RecordListRoundTripAddsTheSignature) {
    std::vector<Bytes> entries = {make_entry(304, 2, 1000, 4600, "First", "BBC TWO", true),
                                  make_entry(304, 3, 5000, 5060, "Second")};
    entries[1][0] = 0x77;
    image.write_record_list(entries, 304);
    EXPECT_EQ(image.find(1, RECORD_LIST_NAME)->size, 2 * 304u + 5);
    EXPECT_EQ(image.find(1, RECORD_LIST_NAME)->attributes, 0x1000u);
    std::vector<Bytes> back = image.record_list_entries(304);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_THAT(Bytes(back[0].begin(), back[0].begin() + 5), ElementsAre(1, 0, 0, 1, 1));
    EXPECT_TRUE(std::equal(back[0].begin() + 5, back[0].end(), entries[0].begin() + 5));
    EXPECT_EQ(back[1], entries[1]); // only the first entry gets the signature

    image.write_record_list({make_entry(304, 4, 0, 0, "Only")}, 304);
    EXPECT_EQ(image.record_list_entries(304).size(), 1u);
    image.write_record_list({}, 304);
    EXPECT_FALSE(image.find(1, RECORD_LIST_NAME));
    EXPECT_THROW(image.write_record_list({make_entry(316, 4, 0, 0, "x")}, 304),
                 std::runtime_error);
}

TEST(DiskImageEntry, PutsTheFieldsBigEndianAtTheirOffsets) {
    Bytes e = make_entry(304, 0x1234, 0x01020304, 0x0A0B0C0D, std::string(60, 'T'), "Chan",
                         true);
    ASSERT_EQ(e.size(), 304u);
    EXPECT_THAT(Bytes(e.begin() + 5, e.begin() + 12), ElementsAre(0x12, 0x34, 0, 0, 0x12, 0x34, 1));
    EXPECT_EQ(get_be32(e, 17), 0x01020304u);
    EXPECT_EQ(get_be32(e, 21), 0x0A0B0C0Du);
    EXPECT_EQ(e[25 + 51], 'T');
    EXPECT_EQ(e[77], 'C'); // the title was cut at 52 bytes
    EXPECT_EQ(e[101], 0x40);
    Bytes longer = make_entry(316, 1, 0, 0, "x", "y", true);
    EXPECT_EQ(longer[113], 0x40);
    EXPECT_EQ(longer[101], 0);
    EXPECT_THROW(make_entry(305, 1, 0, 0, "x"), std::runtime_error);
}

TEST(DiskImageEpg, LaysOutCountAndRecords) {
    Bytes epg = make_epg({{100, 60, "One", "Short"}, {200, 30, "Two", std::string(400, 's')}});
    ASSERT_EQ(epg.size(), 4 + 2 * 328u);
    EXPECT_EQ(get_be32(epg, 0), 2u);
    EXPECT_EQ(get_be32(epg, 4 + 4), 100u);
    EXPECT_EQ(get_be32(epg, 4 + 8), 60u);
    EXPECT_EQ(std::string(epg.begin() + 4 + 15, epg.begin() + 4 + 18), "One");
    EXPECT_EQ(std::string(epg.begin() + 4 + 67, epg.begin() + 4 + 73), std::string("Short\0", 6));
    EXPECT_EQ(get_be32(epg, 332 + 4), 200u);
    EXPECT_EQ(epg.back(), 's'); // the synopsis fills the record to its end
    EXPECT_EQ(make_epg({{1, 1, "", ""}}, 332).size(), 336u);
}

TEST_F(DiskImageTest, CheckFindsAClusterUsedByNobody) {
    image.add_file(0, "2.av", pattern_bytes(L));
    image.set_fat_entry(0, 10, FAT_END);
    image.set_fat_word0(0, 254);
    EXPECT_THAT(check_image(image.path()),
                ElementsAre(HasSubstr("clusters 10 are marked used but belong to no file")));
}

TEST_F(DiskImageTest, CheckFindsAClusterInTwoChains) {
    image.add_file(0, "2.av", pattern_bytes(L));
    image.add_file(0, "3.av", pattern_bytes(2 * L));
    image.set_fat_entry(0, 0, 2); // 2.av now runs on into the tail of 3.av
    auto problems = check_image(image.path());
    EXPECT_TRUE(any_problem(problems, "cluster 2 is in the chains of \"2.av\" and \"3.av\""))
        << ::testing::PrintToString(problems);
    EXPECT_TRUE(
        any_problem(problems, "\"2.av\" of 4096 bytes needs 1 clusters but its chain has 2"));
}

TEST_F(DiskImageTest, CheckFindsWordZeroAndEntryDamage) {
    image.add_file(0, "2.av", pattern_bytes(3 * L));
    image.set_fat_word0(0, 256);
    EXPECT_THAT(check_image(image.path()),
                ElementsAre(HasSubstr("word 0 says 256 free clusters, the table has 253")));
    image.set_fat_word0(0, 253);
    image.set_fat_entry(0, 1, 1);
    EXPECT_TRUE(
        any_problem(check_image(image.path()), "cluster 1 has the invalid entry 0x00000001"));
    image.set_fat_entry(0, 1, 0); // a loop: bounded, and reported
    EXPECT_TRUE(any_problem(check_image(image.path()), "loops back to cluster 0"));
    image.set_fat_entry(0, 1, FAT_FREE);
    EXPECT_TRUE(any_problem(check_image(image.path()), "ends in cluster 1, which is marked free"));
}

TEST_F(DiskImageTest, CheckFollowsTheRecordList) {
    image.write_record_list({make_entry(304, 2, 0, 0, "a"), make_entry(304, 3, 0, 0, "b"),
                             make_entry(304, 0, 0, 0, "unnumbered")},
                            304);
    image.add_file(0, "2.av", pattern_bytes(10));
    EXPECT_THAT(check_image(image.path(), 304),
                ElementsAre("recording 2: 3.av is missing from partition 0"));
    EXPECT_TRUE(any_problem(check_image(image.path(), 316), "bytes, not n * 316 + 5"));
    EXPECT_THAT(check_image(image.path()), IsEmpty());
}

TEST(DiskImageLarge, PartitionBeyondFourGiB) {
    TempDir dir;
    ImageSpec spec = default_spec();
    spec.partitions[1].start_sector = 0x800000 + 0x20;
    spec.partitions[1].cluster_sectors = 16;
    DiskImage image(dir.file("big.img"), spec);
    Bytes table = image.read_sectors(0, 1);
    EXPECT_THAT(Bytes(table.begin() + 472, table.begin() + 474), ElementsAre(0x80, 0x00));
    EXPECT_THAT(Bytes(table.begin() + 478, table.begin() + 480), ElementsAre(0x20, 0x00));
    EXPECT_EQ(image.start_sector(1), 0x800020u);
    EXPECT_EQ(image.start_sector(2), image.start_sector(1) + image.geometry(1).sector_count);

    Bytes contents = pattern_bytes(3 * 8192 + 5, 9);
    image.add_file(1, "7.epg", contents, 0x1000, Placement::Reversed);
    EXPECT_EQ(image.read_file(1, "7.epg"), contents);
    uint32_t last = image.find(1, "7.epg")->clusters.back();
    Bytes raw = image.read_sectors(image.data_sector(1) + last * 16, 1);
    EXPECT_EQ(raw[0], contents[3 * 8192 + 3]);
    EXPECT_GT(std::filesystem::file_size(image.path()), uint64_t(1) << 32);
    EXPECT_THAT(check_image(image.path()), IsEmpty());
}

TEST(DiskImageSupport, PatternBytesAreDeterministicAndNeverRepeatAWord) {
    Bytes a = pattern_bytes(4096, 3);
    EXPECT_EQ(a, pattern_bytes(4096, 3));
    EXPECT_NE(a, pattern_bytes(4096, 4));
    std::vector<uint32_t> words;
    for (size_t i = 0; i < a.size(); i += 4)
        words.push_back(get_be32(a, i));
    std::sort(words.begin(), words.end());
    EXPECT_EQ(std::adjacent_find(words.begin(), words.end()), words.end());
    EXPECT_NE(swapped_words(a), a);
    EXPECT_EQ(swapped_words(swapped_words(a)), a);
}

TEST(DiskImageSupport, TempDirIsRemovedWithItsContents) {
    std::string path;
    {
        TempDir dir;
        path = dir.path();
        std::filesystem::create_directory(dir.file("sub"));
        write_host_file(dir.file("sub/f"), {1, 2, 3});
        EXPECT_EQ(read_host_file(dir.file("sub/f")), Bytes({1, 2, 3}));
        std::filesystem::permissions(dir.file("sub"), std::filesystem::perms::owner_read);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(DiskImageSupport, RunProgramFeedsInputAndSeparatesOutputs) {
    TempDir dir;
    std::string big(300000, 'i');
    RunResult r = run_program("/bin/sh",
                              {"-c", "cat; pwd >&2; echo \"$DW_X${HOME+home}\" >&2; exit 3"},
                              big, dir.path(), {"DW_X=set", "HOME"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, big);
    EXPECT_EQ(r.err, std::filesystem::canonical(dir.path()).string() + "\nset\n");

    // Lots of output on both streams without reading any input.
    r = run_program("/bin/sh", {"-c", "head -c 200000 /dev/zero; head -c 200000 /dev/zero >&2"},
                    big);
    EXPECT_EQ(r.out.size(), 200000u);
    EXPECT_EQ(r.err.size(), 200000u);
    EXPECT_EQ(run_program("/bin/sh", {"-c", "kill -9 $$"}).status, 128 + 9);
    EXPECT_EQ(run_program("/nonexistent/program", {}).status, 127);
}

} // namespace
