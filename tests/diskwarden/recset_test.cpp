#include <gtest/gtest.h>

#include "diskwarden/recset.h"

namespace {

std::vector<int32_t> parse(const char *text)
{
    RecordingSet set;
    recset_parse(text, &set);
    return set.values;
}

std::vector<int32_t> range(int32_t from, int32_t to)
{
    std::vector<int32_t> values;
    for (int32_t n = from; from <= to ? n <= to : n >= to; n += from <= to ? 1 : -1)
        values.push_back(n);
    return values;
}

TEST(RecordingList, AscendingDescendingAndRepeats)
{
    std::vector<int32_t> expected = range(10, 20);
    expected.insert(expected.end(), {30, 41, 42});
    EXPECT_EQ(parse("10-20,30,41-42"), expected);
    EXPECT_EQ(parse("20-10"), range(20, 10));
    EXPECT_EQ(parse("3,1,3"), (std::vector<int32_t>{3, 1}));
    EXPECT_EQ(parse("1-3,2-5"), (std::vector<int32_t>{1, 2, 3, 4, 5}));
}

TEST(RecordingList, BlanksAndLooseEnds)
{
    EXPECT_EQ(parse("  5 - 7 , 9 "), (std::vector<int32_t>{5, 6, 7, 9}));
    EXPECT_EQ(parse("5,"), (std::vector<int32_t>{5}));
    EXPECT_EQ(parse("5-"), (std::vector<int32_t>{}));
    // An empty item is the number 0, which no recording has.
    EXPECT_EQ(parse("1,,2"), (std::vector<int32_t>{1, 0, 2}));
    // A number followed by anything but a dash or a comma is dropped.
    EXPECT_EQ(parse("10x20"), (std::vector<int32_t>{20}));
}

TEST(RecordingList, RefusedLists)
{
    for (const char *bad : {"", "   ", "0-5", "x", "-3", ",1"})
        EXPECT_EXIT(parse(bad), testing::ExitedWithCode(1), "^Invalid range\n$") << bad;
}

TEST(RecordingList, RangesEndingAtZeroOrBelowAreRefusedNotExpanded)
{
    for (const char *bad : {"1-0", "5--3", "5-,7", "3,-2-4", "1-99999999"})
        EXPECT_EXIT(parse(bad), testing::ExitedWithCode(1), "^Invalid range\n$") << bad;
}

TEST(RecordingList, ABadItemLaterInTheListAddsNothing)
{
    RecordingSet set;
    EXPECT_EXIT(recset_parse("1,2,7-0", &set), testing::ExitedWithCode(1), "Invalid range");
}

int calls[8];
int count_calls(HumaxDisk *, int number)
{
    if (number >= 0 && number < 8)
        ++calls[number];
    return 0;
}

TEST(RecordingList, ForEachCallsOncePerNumberInOrder)
{
    std::fill(std::begin(calls), std::end(calls), 0);
    EXPECT_EQ(recset_for_each("3,1-2,3", nullptr, count_calls), 0);
    EXPECT_EQ(calls[1] + calls[2] + calls[3], 3);
    EXPECT_EQ(calls[0], 0);
}

} // namespace
