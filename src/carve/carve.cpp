#include "carve/carve.h"

#include <cstring>
#include <unordered_map>

#include "carve/carve_assemble.h"
#include "carve/carve_name.h"

namespace {

// The fragments of one live file's first and last cluster (indices, or -1).
struct LiveEnds {
    int first = -1;
    int last = -1;
};

struct LivePass {
    std::vector<CarveFragment> fragments;
    std::vector<LiveEnds> ends;
};

// Where the live files' first and last clusters lie: read in the same pass (only when
// scanning free clusters, whose streams may copy or continue them).
std::unordered_map<uint32_t, std::vector<std::pair<size_t, bool>>> live_clusters(const CarveVolume &volume)
{
    std::unordered_map<uint32_t, std::vector<std::pair<size_t, bool>>> at;
    if (volume.scope != CarveScope::Free)
        return at;
    for (size_t f = 0; f < volume.live.size(); ++f) {
        at[volume.live[f].first_cluster].push_back({f, true});
        at[volume.live[f].last_cluster].push_back({f, false});
    }
    return at;
}

void scan_av(HumaxDisk *disk, const CarveVolume &volume, CarveResult *result, LivePass *live,
             const CarveProgress &progress)
{
    auto live_at = live_clusters(volume);
    CarveBits read = volume.av_scan;
    for (const auto &entry : live_at) {
        if (entry.first < read.size)
            carve_bit_set(&read, entry.first, true);
    }
    live->ends.assign(volume.live.size(), LiveEnds{});
    uint32_t length = volume.av.cluster_length;
    CarveBuilder builder, single;
    carve_builder_start(&builder, length, &result->fragments, &result->facts);
    carve_builder_start(&single, length, &live->fragments, &result->facts);
    auto visit = [&](uint32_t cluster, const uint8_t *data) {
        bool scanned = carve_bit(volume.av_scan, cluster);
        if (data != nullptr && scanned) {
            carve_builder_feed(&builder, cluster, data);
            return;
        }
        carve_builder_break(&builder); // an unreadable cluster, or a live one in between
        auto found = live_at.find(cluster);
        if (data == nullptr || scanned || found == live_at.end())
            return;
        size_t before = live->fragments.size();
        carve_builder_feed(&single, cluster, data);
        carve_builder_break(&single);
        if (live->fragments.size() == before)
            return;
        for (const auto &[file, first] : found->second)
            (first ? live->ends[file].first : live->ends[file].last) = static_cast<int>(before);
    };
    carve_read_clusters(&disk->stream, volume.av, read, visit, progress, &result->av_reads);
    carve_builder_break(&builder);
}

void scan_epg(HumaxDisk *disk, const CarveVolume &volume, CarveResult *result,
              const CarveProgress &progress)
{
    uint32_t length = volume.epg.cluster_length;
    auto visit = [&](uint32_t, const uint8_t *data) {
        if (data != nullptr)
            carve_epg_cluster(data, length, &result->guide);
    };
    carve_read_clusters(&disk->stream, volume.epg, volume.epg_scan, visit, progress, &result->epg_reads);
}

// Looks like the same recording's beginning: the same first bytes and packet phase, and
// the same counters (and clock, where both have one) at the start. Cheap, to be confirmed.
bool same_start(const CarveFragment &a, const CarveFragment &b)
{
    if (a.head != b.head || memcmp(a.lead, b.lead, sizeof a.lead) != 0)
        return false;
    if (a.has_pcr && b.has_pcr && (a.pcr_pid != b.pcr_pid || a.first_pcr != b.first_pcr))
        return false;
    unsigned common = 0;
    for (const CarveSlot &x : a.slots) {
        for (const CarveSlot &y : b.slots) {
            if (x.pid == TS_NO_PID || x.pid != y.pid)
                continue;
            if (x.entry != y.entry)
                return false;
            ++common;
        }
    }
    return common > 0;
}

// Two clusters hold the same bytes (a cluster that cannot be read matches nothing).
bool same_cluster(DiskStream *stream, const CarvePartition &part, uint32_t a, uint32_t b)
{
    std::vector<uint8_t> x(part.cluster_length), y(part.cluster_length);
    return disk_read_at(stream, part.data_position + uint64_t{a} * part.cluster_length, x.data(), x.size()) &&
           disk_read_at(stream, part.data_position + uint64_t{b} * part.cluster_length, y.data(), y.size()) &&
           x == y;
}

void relate_free(HumaxDisk *disk, const CarveVolume &volume, const LivePass &live,
                 const CarveResult &result, CarveStream *stream)
{
    const CarveFragment &first = result.fragments[stream->fragments.front()];
    for (size_t f = 0; f < volume.live.size(); ++f) {
        const LiveEnds &ends = live.ends[f];
        if (ends.first >= 0 && same_start(live.fragments[ends.first], first) &&
            stream->size <= volume.live[f].size &&
            same_cluster(&disk->stream, volume.av, volume.live[f].first_cluster, first.first_cluster)) {
            stream->relation = CarveRelation::Copy;
            stream->related = volume.live[f].name;
            return;
        }
        if (ends.last >= 0 && carve_continues(live.fragments[ends.last], first, result.cluster_length)) {
            stream->relation = CarveRelation::Continues;
            stream->related = volume.live[f].name;
            return;
        }
    }
}

void relate_inside(const HumaxDisk *disk, const CarveVolume &volume, std::vector<CarveStream> *streams)
{
    std::vector<uint32_t> firsts;
    for (const CarveStream &s : *streams)
        firsts.push_back(s.first_cluster);
    std::vector<int> owners = carve_live_owners(disk, volume, firsts);
    for (size_t i = 0; i < streams->size(); ++i) {
        if (owners[i] >= 0) {
            (*streams)[i].relation = CarveRelation::Inside;
            (*streams)[i].related = volume.live[owners[i]].name;
        }
    }
}

CarveStream make_stream(const CarveResult &result, std::vector<uint32_t> chain)
{
    CarveStream stream;
    stream.fragments = std::move(chain);
    stream.first_cluster = result.fragments[stream.fragments.front()].first_cluster;
    for (size_t i = 0; i < stream.fragments.size(); ++i) {
        const CarveFragment &f = result.fragments[stream.fragments[i]];
        stream.size += carve_fragment_bytes(f, result.cluster_length, i == 0, i + 1 == stream.fragments.size());
        stream.packets += f.packets;
    }
    return stream;
}

} // namespace

uint64_t carve_fragment_bytes(const CarveFragment &f, uint32_t cluster_length, bool first, bool last)
{
    uint64_t bytes = uint64_t{f.clusters - 1} * cluster_length + f.end;
    if (first)
        bytes -= f.head;
    if (last)
        bytes -= f.carry;
    return bytes;
}

uint64_t carve_scan_bytes(const CarveVolume &volume)
{
    uint64_t bytes = carve_bits_count(volume.av_scan) * volume.av.cluster_length;
    if (volume.has_epg)
        bytes += carve_bits_count(volume.epg_scan) * volume.epg.cluster_length;
    return bytes;
}

void carve_find(HumaxDisk *disk, const CarveVolume &volume, CarveResult *result,
                const CarveProgress &progress)
{
    *result = CarveResult{};
    result->cluster_length = volume.av.cluster_length;
    LivePass live;
    uint64_t av_bytes = carve_bits_count(volume.av_scan) * volume.av.cluster_length;
    scan_av(disk, volume, result, &live, progress);
    if (volume.has_epg) {
        auto after_av = [&](uint64_t done) {
            if (progress)
                progress(av_bytes + done);
        };
        scan_epg(disk, volume, result, after_av);
    }
    for (std::vector<uint32_t> &chain : carve_assemble(result->fragments, result->cluster_length)) {
        CarveStream stream = make_stream(*result, std::move(chain));
        if (stream.packets < CARVE_MIN_PACKETS)
            continue;
        carve_name_stream(*result, &stream);
        if (volume.scope == CarveScope::Free)
            relate_free(disk, volume, live, *result, &stream);
        if (stream.relation == CarveRelation::Copy)
            result->copies.push_back(std::move(stream));
        else
            result->streams.push_back(std::move(stream));
    }
    if (volume.scope == CarveScope::All)
        relate_inside(disk, volume, &result->streams);
}
