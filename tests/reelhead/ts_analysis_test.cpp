// PAT and PMT search through libdvbpsi, and the choice of stream identifiers.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "reelhead/ts_packet.h"
#include "converter_testing.h"

using convtest::analyse;
using tswriter::Bytes;
using tswriter::ElementaryStream;
using tswriter::TsWriter;

namespace {

// A stream with a single programme (number 7 on PMT PID 0x100, PCR on 0x1F0) whose PMT
// lists `streams`.
Bytes single_programme(const std::vector<ElementaryStream> &streams)
{
    TsWriter ts;
    ts.null_packets(2);
    ts.pat({{7, 0x100}});
    ts.payload(0x300, 2);
    ts.pmt(0x100, 7, 0x1F0, streams);
    ts.pcr(0x1F0, 90000);
    return ts.bytes();
}

struct PidCase {
    const char *name;
    std::vector<ElementaryStream> streams;
    uint16_t video;
    uint16_t audio;
};

} // namespace

TEST(TsWriterSelfCheck, SectionCrcIsTheMpegOne)
{
    const char *text = "123456789";
    EXPECT_EQ(tswriter::crc32_mpeg(reinterpret_cast<const uint8_t *>(text), 9), 0x0376E6E7u);
    // A whole section's CRC, run over the section, leaves zero.
    Bytes pat = tswriter::pat_section({{1, 0x100}});
    EXPECT_EQ(tswriter::crc32_mpeg(pat.data(), pat.size()), 0u);
}

TEST(TsPidChoice, VideoAndAudioRules)
{
    const std::vector<PidCase> cases = {
        {"video and two audio streams: lowest audio PID",
         {{2, 0x100 + 0x10}, {3, 0x102}, {3, 0x101}}, 0x110, 0x101},
        {"two video streams: the later one", {{2, 0x200}, {1, 0x210}, {4, 0x220}}, 0x210, 0x220},
        {"radio: audio only", {{4, 0x300}}, PID_NONE, 0x300},
        {"H.264 and AAC count as neither", {{0x1B, 0x400}, {0x11, 0x401}}, PID_NONE, PID_NONE},
        {"private data, teletext and type 0 ignored",
         {{6, 0x50}, {0, 0x51}, {5, 0x52}, {1, 0x500}, {4, 0x520}, {3, 0x510}}, 0x500, 0x510},
    };
    for (const PidCase &c : cases) {
        SCOPED_TRACE(c.name);
        convtest::Analysis a = analyse(single_programme(c.streams));
        ASSERT_TRUE(a.pat_found);
        ASSERT_TRUE(a.pmt_found);
        EXPECT_EQ(a.info.program_number, 7);
        EXPECT_EQ(a.info.pmt_pid, 0x100);
        EXPECT_EQ(a.info.pcr_pid, 0x1F0);
        EXPECT_EQ(a.info.video_pid, c.video);
        EXPECT_EQ(a.info.audio_pid, c.audio);
        EXPECT_EQ(a.info.spare_pid, PID_NONE);
    }
}

TEST(TsPatSearch, NoPidZeroPacketMeansNoPat)
{
    TsWriter ts;
    ts.pmt(0x100, 1, 0x200, {{2, 0x200}});
    ts.payload(0x200, 20);
    EXPECT_FALSE(analyse(ts.bytes()).pat_found);
    EXPECT_FALSE(analyse({}).pat_found);
}

TEST(TsPatSearch, PatSpanningTwoPacketsIsAssembled)
{
    TsWriter ts;
    ts.pat({{0, 0x10}, {3, 0x120}}, 10); // 10 section bytes a packet: three packets
    ts.pmt(0x120, 3, 0x121, {{2, 0x121}, {3, 0x122}});
    convtest::Analysis a = analyse(ts.bytes());
    ASSERT_TRUE(a.pat_found);
    ASSERT_TRUE(a.pmt_found);
    EXPECT_EQ(a.info.program_number, 3);
    EXPECT_EQ(a.info.video_pid, 0x121);
}

TEST(TsPatSearch, DamagedPatIsPassedOverForALaterOne)
{
    Bytes section = tswriter::pat_section({{1, 0x100}});
    section[10] ^= 0x01; // the CRC no longer matches
    TsWriter ts;
    ts.section(0, section);
    ts.pat({{2, 0x140}});
    ts.pmt(0x140, 2, 0x141, {{2, 0x141}});
    testing::internal::CaptureStderr();
    convtest::Analysis a = analyse(ts.bytes());
    testing::internal::GetCapturedStderr(); // the decoder's own complaint
    ASSERT_TRUE(a.pmt_found);
    EXPECT_EQ(a.info.program_number, 2);
}

TEST(TsPatSearch, GarbageBeforeTheFirstSyncByteIsSkipped)
{
    TsWriter ts;
    ts.raw(Bytes(1001, 0x00));
    ts.raw({0x12, 0x34, 0x56});
    ts.pat({{1, 0x100}});
    ts.pmt(0x100, 1, 0x101, {{2, 0x101}});
    convtest::Analysis a = analyse(ts.bytes());
    ASSERT_TRUE(a.pmt_found);
    EXPECT_EQ(a.info.video_pid, 0x101);
}

TEST(TsPmtSearch, NetworkEntryIsNotTakenForThePmt)
{
    TsWriter ts;
    ts.pat({{0, 0x10}, {5, 0x100}});
    // A NIT on the network PID comes before the PMT.
    ts.section(0x10, Bytes{0x40, 0xF0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00, 0xF0, 0x00,
                           0xF0, 0x00, 0xFF, 0xFF, 0xFF, 0xFF});
    ts.pmt(0x100, 5, 0x101, {{2, 0x101}, {3, 0x102}});
    convtest::Analysis a = analyse(ts.bytes());
    ASSERT_TRUE(a.pmt_found);
    EXPECT_EQ(a.info.pmt_pid, 0x100);
    EXPECT_EQ(a.info.program_number, 5);
    EXPECT_EQ(a.info.video_pid, 0x101);
    EXPECT_EQ(a.info.audio_pid, 0x102);
}

TEST(TsPmtSearch, PmtSpanningPacketsIsAssembled)
{
    // Long descriptor loops make a PMT of more than one packet; the stream also starts
    // in the middle of a PMT section, whose tail must not confuse the decoder.
    std::vector<ElementaryStream> streams = {{2, 0x101, 150}, {3, 0x102, 120}, {3, 0x103, 0}};
    Bytes long_pmt = tswriter::pmt_section(1, 0x101, streams);
    ASSERT_GT(long_pmt.size(), tswriter::MAX_PAYLOAD);
    TsWriter cut;
    cut.pmt(0x100, 1, 0x101, streams);
    TsWriter ts;
    ts.pat({{1, 0x100}});
    ts.raw(Bytes(cut.bytes().begin() + 188, cut.bytes().begin() + 376)); // second half only
    ts.payload(0x101, 3);
    ts.section(0x100, long_pmt);
    testing::internal::CaptureStderr();
    convtest::Analysis a = analyse(ts.bytes());
    testing::internal::GetCapturedStderr(); // the decoder notes the continuity jump
    ASSERT_TRUE(a.pmt_found);
    EXPECT_EQ(a.info.video_pid, 0x101);
    EXPECT_EQ(a.info.audio_pid, 0x102);
}

TEST(TsPmtSearch, PmtOfTheOtherProgrammeOnASharedPidIsPassedOver)
{
    TsWriter ts;
    ts.pat({{1, 0x100}, {2, 0x100}});
    ts.pmt(0x100, 2, 0x201, {{2, 0x201}});
    convtest::Analysis a = analyse(ts.bytes());
    // The first programme listed is chosen; its PMT never comes.
    EXPECT_FALSE(a.pmt_found);

    ts.pmt(0x100, 1, 0x101, {{2, 0x101}});
    a = analyse(ts.bytes());
    ASSERT_TRUE(a.pmt_found);
    EXPECT_EQ(a.info.program_number, 1);
    EXPECT_EQ(a.info.video_pid, 0x101);
}

TEST(TsPmtSearch, UnfinishedPmtAtEndOfFileIsNotFound)
{
    TsWriter whole;
    whole.pmt(0x100, 1, 0x101, {{2, 0x101, 200}});
    TsWriter ts;
    ts.pat({{1, 0x100}});
    ts.raw(Bytes(whole.bytes().begin(), whole.bytes().begin() + 188));
    EXPECT_FALSE(analyse(ts.bytes()).pmt_found);
}

TEST(TsPmtSearch, GivesUpAfter32768PacketsWithoutTheTable)
{
    for (size_t gap : {size_t{32767}, size_t{32768}, size_t{40000}}) {
        SCOPED_TRACE(gap);
        TsWriter ts;
        ts.pat({{1, 0x100}});
        ts.null_packets(gap);
        ts.pmt(0x100, 1, 0x101, {{2, 0x101}});
        convtest::Analysis a = analyse(ts.bytes());
        ASSERT_TRUE(a.pat_found);
        EXPECT_EQ(a.pmt_found, gap < TS_PMT_SEARCH_LIMIT);
    }
}

TEST(TsPmtSearch, PmtPacketsBeforeThePatDoNotCount)
{
    TsWriter ts;
    ts.pmt(0x100, 1, 0x101, {{2, 0x101}});
    ts.pat({{1, 0x100}});
    ts.payload(0x101, 10);
    EXPECT_FALSE(analyse(ts.bytes()).pmt_found);

    ts.pmt(0x100, 1, 0x101, {{2, 0x101}});
    EXPECT_TRUE(analyse(ts.bytes()).pmt_found);
}

// Read system calls made by this process so far (Linux).
long read_calls()
{
    FILE *io = fopen("/proc/self/io", "r");
    long calls = -1;
    char key[32];
    long value = 0;
    while (io != nullptr && fscanf(io, "%31s %ld", key, &value) == 2) {
        if (std::string(key) == "syscr:")
            calls = value;
    }
    if (io != nullptr)
        fclose(io);
    return calls;
}

TEST(TsPacketReading, ResynchronisesAndRejectsPartialPacketsReadingInBlocks)
{
    // Half a MiB of junk between two packets, and packets with bytes before them.
    TsWriter ts;
    ts.raw({0x00, 0x11});
    ts.payload(0x123);
    ts.raw(Bytes(size_t{1} << 19, 0));
    ts.payload(0x456);
    ts.raw({0x22});
    ts.payload(0x789);
    ts.raw({0x47, 0x01, 0x02}); // a packet cut short
    testimg::TempDir dir;
    testimg::write_host_file(dir.file("s.ts"), ts.bytes());
    int fd = open(dir.file("s.ts").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    TsReader reader;
    ts_reader_init(&reader, fd);
    uint8_t packet[TS_PACKET_SIZE];
    long before = read_calls();
    ASSERT_EQ(ts_read_packet(&reader, packet), 1);
    EXPECT_EQ(ts_packet_pid(packet), 0x123);
    EXPECT_EQ(ts_reader_position(&reader), 2 + 188);
    ASSERT_EQ(ts_read_packet(&reader, packet), 1);
    EXPECT_EQ(ts_packet_pid(packet), 0x456);
    // The junk is searched in memory: a few reads of a block each, not one per byte.
    if (before >= 0) {
        EXPECT_LT(read_calls() - before, 64);
    }
    EXPECT_EQ(ts_reader_position(&reader), 2 + 188 + (1 << 19) + 188);
    ASSERT_EQ(ts_read_packet(&reader, packet), 1);
    EXPECT_EQ(ts_packet_pid(packet), 0x789);
    EXPECT_EQ(ts_read_packet(&reader, packet), 0);
    EXPECT_EQ(ts_read_packet(&reader, packet), 0);
    EXPECT_EQ(ts_reader_position(&reader), static_cast<int64_t>(ts.bytes().size()));
    // Moving: a seek before the start changes nothing, one from the end reads from there.
    EXPECT_EQ(ts_reader_seek(&reader, 0, HostSeek::Start), 0);
    ASSERT_EQ(ts_read_packet(&reader, packet), 1);
    EXPECT_EQ(ts_reader_seek(&reader, -(1 << 30), HostSeek::End), -1);
    EXPECT_EQ(ts_reader_position(&reader), 2 + 188);
    ASSERT_EQ(ts_read_packet(&reader, packet), 1);
    EXPECT_EQ(ts_packet_pid(packet), 0x456);
    ASSERT_EQ(ts_reader_seek(&reader, -3 - 188, HostSeek::End), static_cast<int64_t>(ts.bytes().size()) - 191);
    ASSERT_EQ(ts_read_packet(&reader, packet), 1);
    EXPECT_EQ(ts_packet_pid(packet), 0x789);
    close(fd);
}

TEST(TsPacketReading, PayloadBoundsAreChecked)
{
    uint8_t packet[TS_PACKET_SIZE] = {0x47, 0x40, 0x00, 0x10, 0x00};
    EXPECT_TRUE(ts_packet_payload_sane(packet)); // pointer 0 right after the header
    packet[4] = 183;
    EXPECT_FALSE(ts_packet_payload_sane(packet)); // pointer field beyond the packet
    packet[3] = 0x30;                             // adaptation field of 183 bytes
    EXPECT_FALSE(ts_packet_payload_sane(packet));
    packet[4] = 182;
    packet[187] = 0;
    EXPECT_FALSE(ts_packet_payload_sane(packet)); // only the pointer field is left
    packet[1] = 0x00;
    EXPECT_TRUE(ts_packet_payload_sane(packet)); // one byte of continued section
    packet[3] = 0x20;
    EXPECT_FALSE(ts_packet_payload_sane(packet)); // no payload at all
}

TEST(TsPacketReading, CorruptStreamsEndCleanly)
{
    // Sync bytes and PID-0 headers scattered through noise: the decoders see only packets
    // whose lengths stay inside the packet, and nothing reads or writes out of bounds.
    Bytes noise = testimg::pattern_bytes(188 * 400, 7);
    for (size_t i = 0; i + 188 <= noise.size(); i += 188) {
        noise[i] = 0x47;
        noise[i + 1] &= 0x40;
        noise[i + 2] = (i / 188) % 3 == 0 ? 0 : 0x10;
    }
    TsWriter ts;
    ts.raw(noise);
    testing::internal::CaptureStderr();
    convtest::Analysis a = analyse(ts.bytes());
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(a.pmt_found);
}
