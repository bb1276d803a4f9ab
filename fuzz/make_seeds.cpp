// Writes the seed inputs of every fuzz target, made with the test-support image and
// stream builders: make_seeds DIRECTORY writes DIRECTORY/<target>/<seed name>.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "disk_image.h"
#include "fuzz_support.h"
#include "ts_writer.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;

std::string out_dir;

void seed(const std::string &target, const std::string &name, const Bytes &data)
{
    std::filesystem::create_directories(out_dir + "/" + target);
    fuzz::write_file(out_dir + "/" + target + "/" + name, data.data(), data.size());
}

Bytes text(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

Bytes concat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Small partitions of one-sector clusters keep the compact images at a few kilobytes.
testimg::ImageSpec tiny_spec(uint32_t epg_format = 0)
{
    testimg::ImageSpec spec = testimg::default_spec();
    for (auto &p : spec.partitions) {
        p.cluster_sectors = 1;
        p.cluster_count = 48;
    }
    spec.partitions[1].format_code = epg_format;
    return spec;
}

Bytes epg_two_events(unsigned record_size = 328)
{
    return testimg::make_epg({{1000, 1800, "News", "The day's news in brief."},
                              {2800, 1800, "\x10iFilm", "A film with a longer synopsis to wrap."}},
                             record_size);
}

// A recorder disk with `count` recordings (files 2, 3, ...), in the image `path`.
void recorder_disk(const std::string &path, const testimg::ImageSpec &spec, unsigned record_length,
                   unsigned count, testimg::Placement placement)
{
    DiskImage image(path, spec);
    std::vector<Bytes> entries;
    for (unsigned i = 0; i < count; ++i) {
        unsigned n = 2 + i;
        image.add_file(0, std::to_string(n) + ".av", testimg::pattern_bytes(700 + 300 * i, n), 0x1002,
                       placement);
        image.add_file(0, std::to_string(n) + ".elu", testimg::pattern_bytes(40, n + 50));
        image.add_file(1, std::to_string(n) + ".epg", epg_two_events(i % 2 ? 332 : 328));
        entries.push_back(testimg::make_entry(record_length, n, 1369600000 + 3600 * i,
                                              1369603600 + 3600 * i, "Recording " + std::to_string(n),
                                              "BBC ONE", i == 1));
    }
    if (count > 0)
        image.write_record_list(entries, record_length);
}

void disk_image_seeds()
{
    const std::string path = fuzz::scratch_file("seed-image");
    struct Variant {
        const char *name;
        uint8_t options;
        std::function<void()> build;
    };
    const std::vector<Variant> variants = {
        {"three-recordings", 0, [&] { recorder_disk(path, tiny_spec(), 304, 3, testimg::Placement::Contiguous); }},
        {"fragmented", 4, [&] { recorder_disk(path, tiny_spec(), 304, 2, testimg::Placement::Fragmented); }},
        {"long-entries", 0, [&] { recorder_disk(path, tiny_spec(0xE000000F), 316, 2, testimg::Placement::Reversed); }},
        {"no-list", 0, [&] { recorder_disk(path, tiny_spec(0xE000000F), 304, 0, testimg::Placement::Contiguous); }},
        {"recovery", 1, [&] {
             recorder_disk(path, tiny_spec(), 304, 2, testimg::Placement::Contiguous);
             DiskImage image(path);
             image.add_file(0, "0.av", testimg::pattern_bytes(100, 9), 0x1006);
             image.add_file(0, "123456789012345678901234567890.av", testimg::pattern_bytes(10, 3));
         }},
        {"recovery-no-info", 3, [&] { recorder_disk(path, tiny_spec(), 304, 2, testimg::Placement::Fragmented); }},
        {"recovery-extended", 5, [&] { recorder_disk(path, tiny_spec(), 304, 1, testimg::Placement::Contiguous); }},
    };
    for (const Variant &v : variants) {
        v.build();
        seed("disk_image", v.name, concat(Bytes{v.options}, fuzz::chunks_of_image(path)));
    }
}

Bytes record_list_file(unsigned record_length, unsigned count)
{
    Bytes list;
    for (unsigned i = 0; i < count; ++i)
        list = concat(list, testimg::make_entry(record_length, 2 + i % 2, 1369600000, 1369603600,
                                                "Entry " + std::to_string(i), "ITV", i == 0));
    if (!list.empty())
        memcpy(list.data(), "\x01\x00\x00\x01\x01", 5);
    return concat(list, Bytes(5, 0));
}

void record_list_seeds()
{
    // Format byte: 0 detected length, 1 and 2 fixed 304, 3 unknown; then the edit offset.
    seed("record_list", "fixed-two", concat(Bytes{1, 101}, record_list_file(304, 2)));
    seed("record_list", "detect-304", concat(Bytes{0, 11}, record_list_file(304, 3)));
    seed("record_list", "detect-316", concat(Bytes{0, 113}, record_list_file(316, 2)));
    seed("record_list", "detect-both", concat(Bytes{0, 0}, record_list_file(304, 79)));
    seed("record_list", "trailer-only", Bytes{0, 5, 0, 0, 0, 0, 0});
    Bytes unsigned_list = record_list_file(304, 1);
    unsigned_list[0] = 0;
    seed("record_list", "no-signature", concat(Bytes{2, 7}, unsigned_list));
}

void epg_info_seeds()
{
    seed("epg_info", "old-records", concat(Bytes{60}, epg_two_events(328)));
    seed("epg_info", "new-records", concat(Bytes{60}, epg_two_events(332)));
    seed("epg_info", "one-event", concat(Bytes{1}, testimg::make_epg({{10, 0, "Zero", ""}, {10, 5, "Same start", "x"}})));
    Bytes more = epg_two_events(328);
    more[3] = 9; // more events counted than stored
    seed("epg_info", "count-too-large", concat(Bytes{255}, more));
    seed("epg_info", "count-only", Bytes{0, 0, 0, 0, 0});
}

void recording_list_seeds()
{
    const char *lists[] = {"10-20,30,41-42", " 3 - 1 , 2", "65535", "1-", "7,7,7-5"};
    int i = 0;
    for (const char *list : lists)
        seed("recording_list", "list-" + std::to_string(i++), concat(Bytes{0}, text(list)));
    const std::string lines[] = {
        std::string("-l\0-x\0disk.img", 14),
        std::string("-M\0" "3\0-O\0mg\0-V\0" "0x41\0" "0:", 21),
        std::string("-yb\0src\0dst", 11),
        std::string("-r\0-n\0-s\0-g\0" "1-3\0disk", 21),
        std::string("-O\0" "12abc\0-V\0-7\0-p\0*.ts\0disk", 24),
    };
    i = 0;
    for (const std::string &line : lines)
        seed("recording_list", "line-" + std::to_string(i++), concat(Bytes{1}, text(line)));
}

void stream_seeds()
{
    tswriter::RecordingSpec spec;
    spec.seconds = 3;
    spec.filler = 1;
    seed("stream", "dated", concat(text("20130526 2030 Title\n"), tswriter::make_recording(spec).bytes()));
    spec.with_nit = true;
    spec.streams = {{4, 0x281, 0}, {3, 0x280, 0}, {6, 0x300, 0}};
    seed("stream", "nit-audio", concat(text("001_2013May26_2030_i7Title\n"), tswriter::make_recording(spec).bytes()));
    tswriter::TsWriter split;
    split.pat({{1, 0x100}}, 20);
    split.pmt(0x100, 1, 0x200, {{2, 0x200, 30}, {3, 0x280, 0}}, 40);
    split.pcr(0x200, 100);
    split.null_packets(2);
    split.pcr(0x200, (uint64_t{1} << 33) - 5000);
    seed("stream", "split-sections", concat(text("recover_0007\n"), split.bytes()));
    tswriter::TsWriter garbage;
    garbage.raw({0x47, 0x00, 0x47, 0x01});
    garbage.pat({{0, 0x10}, {2, 0x1FFF}});
    seed("stream", "no-pmt", concat(text("plain name\n"), garbage.bytes()));
}

// Transport streams of a few dozen small clusters each, with every table the carver names
// streams from.
Bytes small_broadcast(uint32_t seed)
{
    tswriter::RecordingSpec spec;
    spec.seconds = 2;
    spec.filler = 4;
    spec.audio_filler = 1;
    spec.payload_seed = seed;
    spec.first_pcr = 5000 * seed;
    spec.tables_every = 10;
    spec.service_name = "Channel";
    spec.event_title = "Event " + std::to_string(seed);
    spec.event_start = 1369602000;
    spec.event_duration = 2;
    spec.utc_start = 1369602000;
    return tswriter::make_recording(spec).bytes();
}

void carve_seeds()
{
    const std::string path = fuzz::scratch_file("seed-carve");
    testimg::ImageSpec spec = tiny_spec();
    for (auto &p : spec.partitions) {
        p.cluster_sectors = 4;
        p.cluster_count = 64;
    }
    auto deleted_disk = [&] {
        DiskImage image(path, spec);
        image.add_file(0, "2.av", small_broadcast(1), 0x1002, testimg::Placement::Contiguous);
        image.add_file(0, "3.av", small_broadcast(2), 0x1002, testimg::Placement::Reversed);
        image.add_file(0, "4.av", small_broadcast(3), 0x1002, testimg::Placement::Contiguous);
        image.add_file(1, "2.epg", testimg::make_epg({{1369602000, 2, "Event 1", "Found."}}, 332));
        image.remove_file(0, "2.av");
        image.remove_file(0, "3.av");
        image.remove_file(1, "2.epg");
        return image;
    };
    deleted_disk();
    seed("carve", "deleted", concat(Bytes{0}, fuzz::chunks_of_image(path)));
    deleted_disk().zero_tables(0);
    seed("carve", "wiped", concat(Bytes{1}, fuzz::chunks_of_image(path)));
    {
        DiskImage image(path, spec);
        Bytes a = small_broadcast(4), b = small_broadcast(5);
        std::vector<uint32_t> at_a, at_b;
        for (uint32_t c = 0; at_a.size() * 2048 < a.size() || at_b.size() * 2048 < b.size(); ++c)
            (c % 3 == 1 && at_b.size() * 2048 < b.size()) || at_a.size() * 2048 >= a.size() ? at_b.push_back(c)
                                                                                            : at_a.push_back(c);
        image.add_file_at(0, "5.av", a, at_a);
        image.add_file_at(0, "6.av", b, at_b);
        image.remove_file(0, "5.av");
    }
    seed("carve", "interleaved", concat(Bytes{0}, fuzz::chunks_of_image(path)));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    out_dir = argv[1];
    disk_image_seeds();
    record_list_seeds();
    epg_info_seeds();
    recording_list_seeds();
    stream_seeds();
    carve_seeds();
    return 0;
}
