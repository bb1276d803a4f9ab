// The rows of the differential runs (see differential.h). reelhead's rows cover its
// arguments (wildcards, a directory part, options), every way a file is skipped, names
// that carry dates, bytes that a text-mode host would rewrite, and a stream larger than
// 4 GiB whose last PCR lies past 5 GiB.
#include "differential.h"

namespace difftest {

namespace {

using tswriter::RecordingSpec;

RecordingSpec recording(unsigned seconds, uint16_t pcr_pid = 0x200)
{
    RecordingSpec spec;
    spec.seconds = seconds;
    spec.pcr_pid = pcr_pid;
    spec.streams = {{2, pcr_pid, 0}, {3, 0x280, 0}};
    return spec;
}

// Identifiers that put 0x0A bytes into the header, and a stream with 0x1A, 0x0D and 0x0A
// bytes before its tables: a text-mode host would end the reading at the first and turn
// the others into line ends.
InputFile text_mode_trap(const std::string &name)
{
    return {name, [](const std::string &path) {
                tswriter::TsWriter ts;
                ts.raw({0x0D, 0x0A, 0x1A, 0x0A, 0x0D});
                ts.pat({{0x0A0A, 0x0A0A}});
                ts.pmt(0x0A0A, 0x0A0A, 0x0A1A, {{2, 0x0A1A, 0}, {4, 0x0A0D, 0}});
                for (unsigned tick = 0; tick <= 20; ++tick) {
                    ts.pcr(0x0A1A, 0x0A0A0A + uint64_t{tick} * 9000);
                    ts.raw({0x1A, 0x0D, 0x0A});
                    ts.payload(0x0A1A, 2);
                }
                ts.save(path);
            }};
}

std::vector<Row> reelhead_rows()
{
    RecordingSpec with_nit = recording(25, 0x300);
    with_nit.with_nit = true;
    RecordingSpec no_video = recording(7);
    no_video.streams = {{4, 0x280, 0}};
    tswriter::TsWriter no_tables;
    no_tables.payload(0x200, 40);
    const testimg::Bytes old_header(304, 0x5A);

    return {
        {"reelhead_help", Program::Reelhead, {"-h"}, "", {}, {}, 0, {}},
        {"reelhead_without_files", Program::Reelhead, {}, "", {}, {}, 1, {}},
        {"reelhead_wildcard_several_streams",
         Program::Reelhead,
         {"*.ts"},
         "",
         {stream_file("a.ts", recording(10)), stream_file("b.ts", with_nit),
          stream_file("c.ts", no_video), stream_file("d.mpg", recording(3))},
         {},
         0,
         {"a.hre", "b.hre", "c.hre"}},
        {"reelhead_wildcards_with_directory_and_marker",
         Program::Reelhead,
         {"--", "rec/?.ts", "rec/-x.ts", "*.mpg"},
         "",
         {stream_file("rec/a.ts", recording(4)), stream_file("rec/ab.ts", recording(5)),
          stream_file("rec/-x.ts", recording(6))},
         {},
         1,
         {"rec/a.hre", "rec/-x.hre"}},
        {"reelhead_header_exists_stream_without_pat",
         Program::Reelhead,
         {"taken.ts", "empty.ts", "nopat.ts", "good.ts"},
         "",
         {stream_file("taken.ts", recording(5)), bytes_file("taken.hre", old_header),
          bytes_file("empty.ts", {}), bytes_file("nopat.ts", no_tables.bytes()),
          stream_file("good.ts", recording(12))},
         {},
         1, // streams left without a header
         {"good.hre"}},
        {"reelhead_dates_from_names",
         Program::Reelhead,
         {"20130526 2030 Title.ts", "001_2013May26_2030_i7Other.ts", "recover_0042.ts"},
         "",
         {stream_file("20130526 2030 Title.ts", recording(8)),
          stream_file("001_2013May26_2030_i7Other.ts", recording(9)),
          stream_file("recover_0042.ts", recording(2))},
         {"TZ=EST5"},
         0,
         {"20130526 2030 Title.hre", "001_2013May26_2030_i7Other.hre", "recover_0042.hre"}},
        {"reelhead_bytes_a_text_mode_host_rewrites",
         Program::Reelhead,
         {"trap.ts"},
         "",
         {text_mode_trap("trap.ts")},
         {},
         0,
         {"trap.hre"}},
        {"reelhead_stream_larger_than_4_GiB",
         Program::Reelhead,
         {"large.ts"},
         "",
         {large_stream_file("large.ts", 3 * 3600 + 25 * 60 + 7)},
         {},
         0,
         {"large.hre"}},
    };
}

} // namespace

const std::vector<Row> &differential_rows()
{
    static const std::vector<Row> rows = reelhead_rows();
    return rows;
}

} // namespace difftest
