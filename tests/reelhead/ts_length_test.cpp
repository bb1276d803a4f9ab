// Recording length from the program clock reference at the head and the tail.
#include <gtest/gtest.h>

#include "converter_testing.h"

using convtest::analyse;
using tswriter::Bytes;
using tswriter::RecordingSpec;
using tswriter::TsWriter;

namespace {

constexpr uint64_t WRAP = uint64_t{1} << 33;
constexpr uint16_t PCR_PID = 0x200;

// PAT and PMT of programme 1 (PMT PID 0x100, PCR on PCR_PID).
TsWriter tables()
{
    TsWriter ts;
    ts.pat({{1, 0x100}});
    ts.pmt(0x100, 1, PCR_PID, {{2, PCR_PID}, {3, 0x280}});
    return ts;
}

uint64_t length_of(const TsWriter &ts)
{
    convtest::Analysis a = analyse(ts.bytes());
    EXPECT_TRUE(a.pmt_found);
    return a.length;
}

} // namespace

TEST(TsRecordingLength, WholeSecondsBetweenFirstAndLastPcr)
{
    RecordingSpec spec;
    spec.seconds = 10;
    EXPECT_EQ(length_of(tswriter::make_recording(spec)), 10u);

    TsWriter ts = tables();
    ts.pcr(PCR_PID, 1000);
    ts.payload(PCR_PID, 5);
    ts.pcr(PCR_PID, 1000 + 3 * 90000 + 89999); // rounded down
    EXPECT_EQ(length_of(ts), 3u);
}

TEST(TsRecordingLength, UsesAllThirtyThreeBitsOfTheBase)
{
    TsWriter ts = tables();
    ts.pcr(PCR_PID, 1);
    ts.pcr(PCR_PID, WRAP - 1);
    EXPECT_EQ(length_of(ts), (WRAP - 2) / 90000);
}

TEST(TsRecordingLength, ClockWrapAddsTwoToTheThirtyThree)
{
    TsWriter ts = tables();
    ts.pcr(PCR_PID, WRAP - 16);
    ts.payload(PCR_PID, 50);
    ts.pcr(PCR_PID, 360000);
    EXPECT_EQ(length_of(ts), 4u); // 360016 ticks
}

TEST(TsRecordingLength, OnlyPacketsOfThePcrPidCount)
{
    TsWriter ts = tables();
    ts.pcr(0x280, 10); // on the audio PID
    ts.pcr(PCR_PID, 90000);
    ts.pcr(PCR_PID, 5 * 90000);
    ts.pcr(0x280, 100 * 90000);
    EXPECT_EQ(length_of(ts), 4u);
}

TEST(TsRecordingLength, LongRecordingIsMeasuredFromTheTail)
{
    RecordingSpec spec;
    spec.seconds = 900; // about 6.8 MB
    spec.filler = 3;
    TsWriter ts = tswriter::make_recording(spec);
    ASSERT_GT(ts.size(), 5u * 1000160);
    EXPECT_EQ(length_of(ts), 900u);
}

TEST(TsRecordingLength, MiddleOfTheFileIsNotRead)
{
    // PCRs for the first 100 s, then more than the tail window without any: the last PCR
    // lies outside both the head and the tail, so the length stays 0.
    RecordingSpec spec;
    spec.seconds = 100;
    TsWriter ts = tswriter::make_recording(spec);
    ts.payload(0x280, 1000160 / 188 + 10);
    EXPECT_EQ(length_of(ts), 0u);

    ts.pcr(PCR_PID, spec.first_pcr + 200 * 90000);
    EXPECT_EQ(length_of(ts), 200u);
}

TEST(TsRecordingLength, FileShorterThanTheTailWindow)
{
    TsWriter ts = tables();
    ts.payload(0x280, 10);
    ts.pcr(PCR_PID, 50 * 90000);
    ts.payload(0x280, 985);
    ts.pcr(PCR_PID, 77 * 90000);
    ts.payload(0x280, 1);
    ASSERT_EQ(ts.size(), 188u * 1000);
    EXPECT_EQ(length_of(ts), 27u);
}

TEST(TsRecordingLength, SizeNotAMultipleOfThePacketSize)
{
    // The tail window then starts inside a packet and the reading re-aligns on the next
    // sync byte; a PCR packet cut short at the end does not count.
    RecordingSpec spec;
    spec.seconds = 300;
    TsWriter ts = tswriter::make_recording(spec);
    TsWriter last;
    last.pcr(PCR_PID, spec.first_pcr + 400 * 90000);
    ts.raw(Bytes(last.bytes().begin(), last.bytes().begin() + 100));
    ASSERT_NE(ts.size() % 188, 0u);
    EXPECT_EQ(length_of(ts), 300u);
}

TEST(TsRecordingLength, NoPcrGivesZero)
{
    TsWriter ts = tables();
    ts.payload(PCR_PID, 100);
    EXPECT_EQ(length_of(ts), 0u);

    // A PCR far beyond the head is not looked for.
    TsWriter late = tables();
    late.payload(PCR_PID, TS_PCR_SEARCH_LIMIT);
    late.pcr(PCR_PID, 90000);
    late.pcr(PCR_PID, 10 * 90000);
    convtest::Analysis a = analyse(late.bytes());
    EXPECT_FALSE(a.pcr_found);
    EXPECT_EQ(a.length, 0u);
}

TEST(TsRecordingLength, FirstPcrIsSearchedUpToTheLimitPastThePmt)
{
    // A lead-in longer than the limit before the tables: the search is counted from the
    // PMT, not from the start of the file.
    TsWriter ts;
    ts.null_packets(TS_PCR_SEARCH_LIMIT + 100);
    ts.raw(tables().bytes());
    ts.payload(PCR_PID, TS_PCR_SEARCH_LIMIT - 1);
    ts.pcr(PCR_PID, 90000); // the last packet the search reads
    ts.pcr(PCR_PID, 61 * 90000);
    convtest::Analysis a = analyse(ts.bytes());
    ASSERT_TRUE(a.pmt_found);
    EXPECT_TRUE(a.pcr_found);
    EXPECT_EQ(a.length, 60u);
}

TEST(TsRecordingLength, AdaptationFieldTooShortForAPcrIsNoPcr)
{
    TsWriter ts = tables();
    ts.pcr(PCR_PID, 90000);
    TsWriter odd;
    odd.pcr(PCR_PID, 50 * 90000);
    Bytes packet = odd.bytes();
    packet[4] = 6; // adaptation field length below 7
    ts.raw(packet);
    ts.pcr(PCR_PID, 3 * 90000);
    odd = TsWriter();
    odd.pcr(PCR_PID, 60 * 90000);
    packet = odd.bytes();
    packet[5] = 0x00; // PCR flag clear
    ts.raw(packet);
    EXPECT_EQ(length_of(ts), 2u);
}
