// Writes the small sample recorder disk image that `make demo` works on: three
// recordings with streams, companions and programme information, a time-shift buffer,
// and a record list.
#include <cstdio>
#include <ctime>
#include <string>

#include "support/disk_image.h"
#include "support/ts_writer.h"

namespace {

using testimg::Bytes;

constexpr uint32_t SAMPLE_BASE_TIME = 1369598400; // Sun 26 May 2013 20:00 UTC

struct SampleRecording {
    unsigned file_number;
    uint32_t start;
    unsigned minutes;
    const char *title;
    const char *channel;
    bool is_protected;
    std::vector<testimg::EpgEventSpec> events;
};

// A broadcast-like stream of its own for each recording: its own clock and pictures, the
// channel and title in its tables, and the time it began.
Bytes stream_bytes(const SampleRecording &r)
{
    tswriter::RecordingSpec spec;
    spec.seconds = r.minutes * 2;
    spec.filler = 12;
    spec.first_pcr = 900000 + uint64_t{r.file_number} * 54000000;
    spec.payload_seed = r.file_number;
    spec.service_name = r.channel;
    spec.event_title = r.title;
    spec.event_start = r.start;
    spec.event_duration = r.minutes * 60;
    spec.utc_start = r.start;
    return tswriter::make_recording(spec).bytes();
}

Bytes title_field(const char *title)
{
    // Broadcast titles carry a character-table prefix.
    std::string text = std::string("\x10\x69\x37", 3) + title;
    return Bytes(text.begin(), text.end());
}

void add_recording(testimg::DiskImage &image, const SampleRecording &r)
{
    std::string n = std::to_string(r.file_number);
    image.add_file(0, n + ".av", stream_bytes(r), 0x1002);
    image.add_file(0, n + ".elu", testimg::pattern_bytes(1000, r.file_number), 0x1000);
    image.add_file(1, n + ".epg", testimg::make_epg(r.events, 332), 0x1000);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s IMAGE\n", argv[0]);
        return 1;
    }
    testimg::ImageSpec spec = testimg::default_spec();
    for (auto &p : spec.partitions) {
        p.cluster_sectors = 16;
        p.start_sector = 0;
    }
    spec.partitions[0].cluster_count = 4096;
    spec.partitions[1].cluster_count = 512;
    spec.partitions[2].cluster_count = 64;
    testimg::DiskImage image(argv[1], spec);

    uint32_t t = SAMPLE_BASE_TIME;
    std::vector<SampleRecording> recordings = {
        {2, t, 30, "Evening News", "BBC ONE", false,
         {{t, 1800, "\x10\x69\x37" "Evening News",
           "The latest national and international news, with reports from around the "
           "country. Followed by weather and a look at what the papers say tomorrow."}}},
        {3, t + 86400 + 3600, 95, "Film: The Long Voyage Home", "BBC TWO", true,
         {{t + 86400 + 3600, 600, "Trailers", "Coming soon."},
          {t + 86400 + 4200, 5100, "The Long Voyage Home",
           "Classic drama about the crew of a tramp steamer on its way home across the "
           "Atlantic in wartime."}}},
        {4, t + 2 * 86400 + 1800, 60, "Nature/Wild Isles: Part 1", "BBC ONE", false,
         {{t + 2 * 86400 + 1800, 3600, "Wild Isles",
           "Sir David Attenborough reveals the remarkable wildlife of the British Isles."}}},
    };
    std::vector<Bytes> entries;
    for (const auto &r : recordings) {
        add_recording(image, r);
        Bytes entry = testimg::make_entry(304, r.file_number, r.start, r.start + r.minutes * 60,
                                          "", r.channel, r.is_protected);
        Bytes title = title_field(r.title);
        std::copy(title.begin(), title.end(), entry.begin() + 25);
        entries.push_back(entry);
    }
    image.add_file(0, "0.av", testimg::pattern_bytes(64 * 1024, 7), 0x1006);
    image.write_record_list(entries, 304);
    return 0;
}
