#pragma once
// What the tests put on their recorder disks, described in a few fields: the layout of a
// new image, where a new file's clusters go, record-list entries and programme
// information. Misuse (a value the format cannot hold) throws std::runtime_error.
#include <cstdint>
#include <string>
#include <vector>

#include "support/byte_helpers.h"

namespace testimg {

inline constexpr uint32_t DEFAULT_FORMAT = 0xE0000030;

struct PartitionSpec {
    uint32_t start_sector = 0;      // 0: placed after the previous partition
    uint16_t cluster_sectors = 8;
    uint32_t cluster_count = 256;
    uint32_t format_code = 0;       // 0: 0xE0000030 for every partition
    uint32_t fat_sectors = 0;       // 0: just enough for cluster_count + 1 words
    uint32_t dir_sectors = 256;
};

struct ImageSpec {
    PartitionSpec partitions[3];
    uint32_t first_start_sector = 64; // where partition 0 starts when its start is 0
};

// A small default image: 3 partitions of 256 clusters of 8 sectors.
ImageSpec default_spec();

// Which clusters a new file gets.
enum class Placement { Contiguous, Fragmented, Reversed };

// A 304- or 316-byte entry with the given fields (big-endian), the rest zero. The lead
// bytes stay zero; title and channel are cut to their fields (52 and 24 bytes).
Bytes make_entry(unsigned record_length, unsigned file_number, uint32_t start_time,
                 uint32_t end_time, const std::string &title,
                 const std::string &channel = "BBC ONE", bool is_protected = false);

// A programme-information (.epg) file: the event count, then one record of
// `record_size` bytes per event (start at 4, duration at 8, title at 15, synopsis from
// 67 to the end of the record, cut to fit).
struct EpgEventSpec {
    uint32_t start = 0;
    uint32_t duration = 0;
    std::string title;
    std::string synopsis;
};
Bytes make_epg(const std::vector<EpgEventSpec> &events, unsigned record_size = 328);

} // namespace testimg
