// Joining fragments: the clusters of one stream fed to the builder far apart on the disk
// come back as one stream; a fragment that two others could continue alike, or one whose
// counters do not follow on, is not joined; clocks decide between look-alikes.
#include <gtest/gtest.h>

#include "carve/carve_assemble.h"
#include "carve/carve_fragment.h"
#include "support/ts_writer.h"

namespace {

constexpr uint32_t L = 4096;

using Stream = std::vector<std::vector<uint32_t>>;

std::vector<uint8_t> broadcast(uint32_t seed)
{
    tswriter::RecordingSpec spec;
    spec.seconds = 2;
    spec.filler = 6;
    spec.audio_filler = 2;
    spec.payload_seed = seed;
    spec.first_pcr = 1000 + seed;
    return tswriter::make_recording(spec).bytes();
}

// Cluster k of the stream (zeros after its end).
std::vector<uint8_t> cluster_of(const std::vector<uint8_t> &stream, size_t k)
{
    std::vector<uint8_t> cluster(L, 0);
    for (size_t i = 0; i < L && k * L + i < stream.size(); ++i)
        cluster[i] = stream[k * L + i];
    return cluster;
}

// Feeds (disk cluster, bytes) pairs in disk order and joins the fragments found; returns
// the streams as lists of their fragments' first clusters.
Stream carve(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>> &clusters)
{
    std::vector<CarveFragment> fragments;
    CarveFactsTable facts;
    CarveBuilder builder;
    carve_builder_start(&builder, L, &fragments, &facts);
    for (const auto &[number, bytes] : clusters)
        carve_builder_feed(&builder, number, bytes.data());
    carve_builder_break(&builder);
    Stream streams;
    for (const std::vector<uint32_t> &chain : carve_assemble(fragments, L)) {
        streams.emplace_back();
        for (uint32_t f : chain)
            streams.back().push_back(fragments[f].first_cluster);
    }
    return streams;
}

TEST(Assemble, ScatteredClustersJoinOnlyWhenUnambiguous)
{
    std::vector<uint8_t> s = broadcast(7);
    ASSERT_GT(s.size(), 3 * L);
    auto c0 = cluster_of(s, 0), c1 = cluster_of(s, 1), c2 = cluster_of(s, 2);
    EXPECT_EQ(carve({{30, c2}, {50, c0}, {70, c1}}), (Stream{{50, 70, 30}}));

    // Two clusters that could both follow the first: neither is taken, and the third,
    // which could follow either, stays apart too.
    EXPECT_EQ(carve({{30, c2}, {50, c0}, {70, c1}, {90, c1}}), (Stream{{30}, {50}, {70}, {90}}));

    // A counter that skips one in the second cluster's first video packet.
    std::vector<uint8_t> broken = c1;
    size_t at = (188 - (L % 188)) % 188; // the first whole packet of cluster 1
    for (; at + 188 <= L; at += 188) {
        if ((broken[at + 1] & 0x1F) == 0x02 && broken[at + 2] == 0x00 && (broken[at + 3] & 0x10)) {
            broken[at + 3] = (broken[at + 3] & 0xF0) | ((broken[at + 3] + 1) & 0x0F);
            break;
        }
    }
    ASSERT_LT(at, L);
    EXPECT_EQ(carve({{50, c0}, {70, broken}, {90, c2}}).front(), (std::vector<uint32_t>{50}));

    // A copy of the second cluster without its clock references matches every counter;
    // the clocks of the real one, its own on both sides, outweigh the clocks the copy
    // could only borrow from the clusters beside it.
    std::vector<uint8_t> unclocked = c1;
    for (at = (188 - (L % 188)) % 188; at + 188 <= L; at += 188) {
        if ((unclocked[at + 3] & 0x20) && unclocked[at + 4] > 0)
            unclocked[at + 5] &= 0xEF;
    }
    ASSERT_NE(unclocked, c1);
    EXPECT_EQ(carve({{30, c2}, {50, c0}, {70, c1}, {90, unclocked}}), (Stream{{50, 70, 30}, {90}}));
}

} // namespace
