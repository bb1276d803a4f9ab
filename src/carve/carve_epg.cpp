#include "carve/carve_epg.h"

#include <cstring>

#include "common/byte_order.h"
#include "records/epg_format.h"

namespace {

constexpr uint32_t MOST_EVENTS_PER_FILE = 512;
constexpr size_t MOST_EVENTS = size_t{1} << 20; // a few dozen MiB at worst
constexpr uint32_t EARLIEST = 946684800;         // 2000-01-01: recorders of this kind came later
constexpr uint32_t LATEST = 4102444800u;         // 2100-01-01
constexpr uint32_t LONGEST_EVENT = 24 * 3600;
constexpr uint32_t PADDING = 15 * 60; // recorders start early and stop late

// The record size at which the second event starts where the first ends (328 first),
// as the information display decides it.
unsigned record_size(const uint8_t *data, uint32_t length, uint32_t count)
{
    const uint8_t *probe = data + EPG_COUNT_SIZE;
    if (count <= 1 || length < EPG_COUNT_SIZE + EPG_PROBE_SIZE)
        return EPG_RECORD_SHORT;
    uint32_t first_end = load_be32(probe + EVENT_START) + load_be32(probe + EVENT_DURATION);
    if (load_be32(probe + EPG_RECORD_SHORT + EVENT_START) == first_end)
        return EPG_RECORD_SHORT;
    if (load_be32(probe + EPG_RECORD_LONG + EVENT_START) == first_end)
        return EPG_RECORD_LONG;
    return EPG_RECORD_SHORT;
}

bool plausible(const CarveEvent &event)
{
    return event.start >= EARLIEST && event.start < LATEST && event.duration > 0 &&
           event.duration <= LONGEST_EVENT && !event.title.empty();
}

} // namespace

void carve_epg_cluster(const uint8_t *data, uint32_t length, std::vector<CarveEvent> *events)
{
    if (length < EPG_COUNT_SIZE + EPG_RECORD_SHORT)
        return;
    uint32_t count = load_be32(data);
    if (count == 0 || count > MOST_EVENTS_PER_FILE)
        return;
    unsigned size = record_size(data, length, count);
    std::vector<CarveEvent> found;
    for (uint32_t i = 0; i < count && EPG_COUNT_SIZE + uint64_t{i + 1} * size <= length; ++i) {
        const uint8_t *record = data + EPG_COUNT_SIZE + size_t{i} * size;
        CarveEvent event;
        event.start = load_be32(record + EVENT_START);
        event.duration = load_be32(record + EVENT_DURATION);
        if (event.duration == 0)
            continue; // the display passes over such records too
        const uint8_t *title = record + EVENT_TITLE;
        const void *nul = memchr(title, 0, EVENT_TITLE_LENGTH);
        size_t title_length = nul != nullptr ? static_cast<const uint8_t *>(nul) - title : EVENT_TITLE_LENGTH;
        event.title = carve_dvb_text(title, title_length);
        if (!plausible(event))
            return;
        found.push_back(event);
    }
    for (const CarveEvent &event : found) {
        if (events->size() < MOST_EVENTS)
            events->push_back(event);
    }
}

const CarveEvent *carve_epg_fitting(const std::vector<CarveEvent> &events, uint32_t start,
                                    uint64_t seconds)
{
    const CarveEvent *best = nullptr;
    uint64_t end = start + seconds;
    for (const CarveEvent &event : events) {
        uint64_t event_end = uint64_t{event.start} + event.duration;
        bool within = uint64_t{event.start} + PADDING >= start && event_end <= end + PADDING;
        bool fills = 2 * uint64_t{event.duration} >= seconds;
        if (within && fills && (best == nullptr || event.duration > best->duration))
            best = &event;
    }
    return best;
}
