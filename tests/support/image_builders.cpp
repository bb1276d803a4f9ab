#include "support/image_builders.h"

#include "support/image_layout.h"

namespace testimg {

using layout::fail;
using layout::put_be16;
using layout::put_text;

ImageSpec default_spec() { return ImageSpec{}; }

Bytes make_entry(unsigned record_length, unsigned file_number, uint32_t start_time,
                 uint32_t end_time, const std::string &title, const std::string &channel,
                 bool is_protected) {
    if (record_length != 304 && record_length != 316)
        fail("record length " + std::to_string(record_length));
    if (file_number > 0xFFFF)
        fail("file number " + std::to_string(file_number) + " does not fit 16 bits");
    Bytes entry(record_length, 0);
    put_be16(entry, 5, uint16_t(file_number));
    put_be16(entry, 9, uint16_t(file_number));
    entry[11] = 1;
    put_be32(entry, 17, start_time);
    put_be32(entry, 21, end_time);
    put_text(entry, 25, 52, title);
    put_text(entry, 77, 24, channel);
    if (is_protected)
        entry[record_length - 203] |= 0x40;
    return entry;
}

Bytes make_epg(const std::vector<EpgEventSpec> &events, unsigned record_size) {
    if (record_size < 68)
        fail("programme-information records of " + std::to_string(record_size) + " bytes");
    Bytes epg(4 + events.size() * record_size, 0);
    put_be32(epg, 0, uint32_t(events.size()));
    for (size_t k = 0; k < events.size(); ++k) {
        size_t base = 4 + k * record_size;
        put_be32(epg, base + 4, events[k].start);
        put_be32(epg, base + 8, events[k].duration);
        put_text(epg, base + 15, 52, events[k].title);
        put_text(epg, base + 67, record_size - 67, events[k].synopsis);
    }
    return epg;
}

} // namespace testimg
