#include <gtest/gtest.h>

#include <cstring>

#include "common/names.h"
#include "common/record_entry.h"

namespace {

TEST(NameSetExtension, SearchReplacesLastExtensionThenReusesPosition)
{
    char name[64] = "20130526 2100 Some.title.ts";
    ASSERT_EQ(name_set_extension(".elu", ".ts", name, sizeof name), 1);
    EXPECT_STREQ(name, "20130526 2100 Some.title.elu");
    ASSERT_EQ(name_set_extension(".epg", nullptr, nullptr, 0), 1);
    EXPECT_STREQ(name, "20130526 2100 Some.title.epg");
    ASSERT_EQ(name_set_extension(".ts", nullptr, nullptr, 0), 1);
    EXPECT_STREQ(name, "20130526 2100 Some.title.ts");
    // The field is five bytes: ".ts" is followed by two terminators.
    EXPECT_EQ(name[strlen(name) + 1], '\0');
}

TEST(NameSetExtension, OnlyTheBaseNameIsSearched)
{
    char plain[32] = "recording";
    ASSERT_EQ(name_set_extension(".hre", ".ts", plain, sizeof plain), 1);
    EXPECT_STREQ(plain, "recording.hre");

    char in_dir[32] = "dir.d/recording";
    ASSERT_EQ(name_set_extension(".hre", ".ts", in_dir, sizeof in_dir), 1);
    EXPECT_STREQ(in_dir, "dir.d/recording.hre");

    char two_dots[32] = "show.part1.ts";
    ASSERT_EQ(name_set_extension(".hre", ".ts", two_dots, sizeof two_dots), 1);
    EXPECT_STREQ(two_dots, "show.part1.hre");
}

TEST(NameSetExtension, NeverWritesPastTheBuffer)
{
    name_forget_extension();
    EXPECT_EQ(name_set_extension(".hre", nullptr, nullptr, 0), 0);

    char tight[8] = {'a', 'b', 'c', 'd', '.', 't', 's', '\0'};
    char guard[4] = {'G', 'G', 'G', 'G'};
    // Position 4 leaves 4 bytes: one short of the five-byte field.
    EXPECT_EQ(name_set_extension(".hre", ".ts", tight, sizeof tight), 0);
    EXPECT_STREQ(tight, "abcd.ts");
    EXPECT_EQ(guard[0], 'G');
}

TEST(SanitizeFileName, ReplacesUnsafeBytes)
{
    char name[] = "a\"b/c\\d<e>f?g:h*i|j\x01k\x7f\xe9l m";
    sanitize_file_name(name);
    EXPECT_STREQ(name, "a_b_c_d_e_f_g_h_i_j_k\x7f_l m");
}

TEST(FormatBounded, CutsLongOutput)
{
    char buffer[6];
    format_bounded(buffer, sizeof buffer, "%d.epg", 12345);
    EXPECT_STREQ(buffer, "12345");
    format_bounded(buffer, sizeof buffer, "%d.av", 7);
    EXPECT_STREQ(buffer, "7.av");
}

TEST(RecordEntry, BigEndianFieldsWithAsymmetricValues)
{
    RecordEntry entry;
    entry_put_be32(&entry, ENTRY_START_TIME, 0x01020304);
    EXPECT_EQ(entry.bytes[17], 0x01);
    EXPECT_EQ(entry.bytes[20], 0x04);
    EXPECT_EQ(entry_be32(&entry, ENTRY_START_TIME), 0x01020304u);
    entry.bytes[105] = 0xFE;
    entry.bytes[106] = 0x01;
    EXPECT_EQ(entry_be16(&entry, ENTRY_LCN), 0xFE01);
    entry_set_file_number(&entry, 0x1234);
    EXPECT_EQ(entry.bytes[5], 0x12);
    EXPECT_EQ(entry.bytes[6], 0x34);
    EXPECT_EQ(entry.bytes[9], 0x12);
    EXPECT_EQ(entry.bytes[10], 0x34);
}

TEST(RecordEntry, ProtectedBitMovesWithTheRecordLength)
{
    RecordEntry entry;
    entry.bytes[113] = PROTECTED;
    EXPECT_TRUE(entry_is_protected(&entry, 316));
    EXPECT_FALSE(entry_is_protected(&entry, 304));
    entry.bytes[101] = PROTECTED;
    EXPECT_TRUE(entry_is_protected(&entry, 304));
    EXPECT_EQ(entry_mg_offset(304), 269u);
    EXPECT_EQ(entry_mg_offset(316), 281u);
}

TEST(RecordList, AppendFindUnlink)
{
    RecordList list;
    RecordEntry *a = reclist_append(&list);
    RecordEntry *b = reclist_append(&list);
    RecordEntry *c = reclist_append(&list);
    EXPECT_EQ(list.count, 3);
    EXPECT_EQ(reclist_find(&list, 2, 0), b);
    EXPECT_EQ(reclist_find(&list, 0, 0), nullptr);
    EXPECT_EQ(reclist_find(&list, 4, 0), nullptr);
    c->state = STATE_MARKED_FOR_DELETE;
    a->state = STATE_AV_CHECKED;
    EXPECT_EQ(reclist_find(&list, 0, STATE_MARKED_FOR_DELETE), c);

    RecordEntry stranger;
    reclist_unlink(&list, &stranger);
    EXPECT_EQ(list.count, 3);
    reclist_unlink(&list, c);
    EXPECT_EQ(list.tail, b);
    reclist_unlink(&list, a);
    EXPECT_EQ(list.head, b);
    EXPECT_EQ(list.count, 1);
    reclist_clear(&list);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.tail, nullptr);
    EXPECT_EQ(list.count, 0);
}

} // namespace
