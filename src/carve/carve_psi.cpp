#include "carve/carve_psi.h"

#include <array>
#include <cstring>

#include "common/byte_order.h"

namespace {

constexpr uint16_t PID_PAT = 0x0000;
constexpr uint16_t PID_SDT = 0x0011;
constexpr uint16_t PID_EIT = 0x0012;
constexpr uint16_t PID_TDT = 0x0014;
constexpr size_t FIXED_ASSEMBLIES = 4;
constexpr size_t PMT_ASSEMBLIES = 4;
constexpr size_t SECTION_MAX = 4096;
constexpr size_t MOST_ENTRIES = 16; // of each list kept in the facts

constexpr uint8_t TABLE_PAT = 0x00, TABLE_PMT = 0x02, TABLE_SDT = 0x42, TABLE_EIT_PF = 0x4E,
                  TABLE_TDT = 0x70, TABLE_TOT = 0x73;
constexpr uint8_t DESCRIPTOR_SERVICE = 0x48, DESCRIPTOR_SHORT_EVENT = 0x4D;
constexpr uint8_t STUFFING = 0xFF;
constexpr uint32_t MJD_1970 = 40587;

std::array<uint32_t, 256> make_crc_table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 0x80000000 ? crc << 1 ^ 0x04C11DB7 : crc << 1;
        table[i] = crc;
    }
    return table;
}

uint16_t be13(const uint8_t *bytes)
{
    return load_be16(bytes) & 0x1FFF;
}

uint16_t be12(const uint8_t *bytes)
{
    return load_be16(bytes) & 0x0FFF;
}

bool bcd_value(uint8_t byte, uint32_t most, uint32_t *value)
{
    uint32_t high = byte >> 4, low = byte & 0x0F;
    if (high > 9 || low > 9 || high * 10 + low > most)
        return false;
    *value = high * 10 + low;
    return true;
}

// Seconds from the BCD hours, minutes and seconds of DVB tables.
bool bcd_seconds(const uint8_t *field, uint32_t most_hours, uint32_t *seconds)
{
    uint32_t h, m, s;
    if (!bcd_value(field[0], most_hours, &h) || !bcd_value(field[1], 59, &m) ||
        !bcd_value(field[2], 59, &s))
        return false;
    *seconds = h * 3600 + m * 60 + s;
    return true;
}

// A long-form section (syntax bit set) that is whole and intact.
bool long_section_intact(const uint8_t *section, size_t length, size_t at_least)
{
    return length >= at_least && (section[1] & 0x80) && carve_crc32(section, length) == 0;
}

void decode_pat(CarveFacts *facts, const uint8_t *s, size_t length)
{
    if (!facts->programmes.empty() || !long_section_intact(s, length, 12))
        return;
    for (size_t at = 8; at + 4 <= length - 4 && facts->programmes.size() < MOST_ENTRIES; at += 4) {
        uint16_t number = load_be16(s + at);
        if (number != 0)
            facts->programmes.push_back({number, be13(s + at + 2)});
    }
}

void decode_pmt(CarveFacts *facts, const uint8_t *s, size_t length)
{
    if (facts->has_pmt || !long_section_intact(s, length, 16))
        return;
    facts->has_pmt = true;
    facts->pmt_programme = load_be16(s + 3);
    facts->pmt_pcr_pid = be13(s + 8);
    size_t end = length - 4;
    size_t at = 12 + be12(s + 10);
    while (at + 5 <= end && facts->streams.size() < MOST_ENTRIES) {
        facts->streams.push_back({s[at], be13(s + at + 1)});
        at += 5 + be12(s + at + 3);
    }
}

// The service name of a service descriptor, when it has one that fits.
bool service_name(const uint8_t *d, size_t length, std::string *name)
{
    if (length < 3)
        return false;
    size_t provider = d[1];
    if (2 + provider >= length)
        return false;
    size_t named = d[2 + provider];
    if (3 + provider + named > length)
        return false;
    *name = carve_dvb_text(d + 3 + provider, named);
    return true;
}

void decode_sdt(CarveFacts *facts, const uint8_t *s, size_t length)
{
    if (!long_section_intact(s, length, 15))
        return;
    size_t end = length - 4;
    for (size_t at = 11; at + 5 <= end && facts->services.size() < MOST_ENTRIES;) {
        uint16_t id = load_be16(s + at);
        size_t stop = at + 5 + be12(s + at + 3);
        if (stop > end)
            return;
        for (size_t d = at + 5; d + 2 <= stop && d + 2 + s[d + 1] <= stop; d += 2 + s[d + 1]) {
            std::string name;
            if (s[d] == DESCRIPTOR_SERVICE && service_name(s + d + 2, s[d + 1], &name)) {
                bool known = false;
                for (const CarveService &service : facts->services)
                    known = known || service.id == id;
                if (!known)
                    facts->services.push_back({id, name});
                break;
            }
        }
        at = stop;
    }
}

void decode_eit_present(CarveFacts *facts, const uint8_t *s, size_t length)
{
    // Section 0 holds the event on air now, section 1 the next one.
    if (!long_section_intact(s, length, 30) || s[6] != 0)
        return;
    uint16_t service = load_be16(s + 3);
    for (const CarveEvent &event : facts->events) {
        if (event.service == service)
            return;
    }
    if (facts->events.size() >= MOST_ENTRIES)
        return;
    const uint8_t *e = s + 14;
    CarveEvent event;
    event.service = service;
    if (!carve_dvb_time(e + 2, &event.start) || !bcd_seconds(e + 7, 99, &event.duration))
        return;
    size_t end = length - 4;
    size_t stop = 14 + 12 + be12(e + 10);
    if (stop > end)
        return;
    for (size_t d = 26; d + 2 <= stop && d + 2 + s[d + 1] <= stop; d += 2 + s[d + 1]) {
        // Short event: language (3 bytes), name length, name, text length, text.
        if (s[d] == DESCRIPTOR_SHORT_EVENT && s[d + 1] >= 4 && 6 + s[d + 5] <= 2 + s[d + 1]) {
            event.title = carve_dvb_text(s + d + 6, s[d + 5]);
            break;
        }
    }
    facts->events.push_back(event);
}

void decode_time(CarvePsi *psi, const uint8_t *s, size_t length, const CarveTrack &track)
{
    // The TDT is the time alone; the TOT adds descriptors and a CRC.
    bool whole = s[0] == TABLE_TDT ? length == 8 : length >= 14 && carve_crc32(s, length) == 0;
    uint32_t seconds;
    if (psi->has_time || !whole || !carve_dvb_time(s + 3, &seconds))
        return;
    psi->has_time = true;
    psi->time = seconds;
    psi->time_has_pcr = track.has_pcr;
    psi->time_pcr = track.last_pcr;
}

CarvePsi::Assembly *assembly_for(CarvePsi *psi, uint16_t pid)
{
    static const uint16_t FIXED[FIXED_ASSEMBLIES] = {PID_PAT, PID_SDT, PID_EIT, PID_TDT};
    for (size_t i = 0; i < FIXED_ASSEMBLIES; ++i) {
        if (FIXED[i] == pid)
            return &psi->assemblies[i];
    }
    // A PMT only on a PID the stream's own PAT names.
    const std::vector<CarveProgramme> &programmes = psi->facts.programmes;
    for (size_t i = 0; i < programmes.size() && i < PMT_ASSEMBLIES; ++i) {
        if (programmes[i].pmt_pid == pid) {
            CarvePsi::Assembly *a = &psi->assemblies[FIXED_ASSEMBLIES + i];
            a->pid = pid;
            return a;
        }
    }
    return nullptr;
}

// Bytes a section needs in all, once its first three are in; 0 before that.
size_t section_total(const std::vector<uint8_t> &bytes)
{
    return bytes.size() < 3 ? 0 : 3 + be12(bytes.data() + 1);
}

struct SectionContext {
    CarvePsi *psi;
    const CarveTrack *track;
};

// Adds bytes to the section being gathered; decodes it once whole. Returns the bytes
// taken (the rest may begin another section).
size_t gather(const SectionContext &context, CarvePsi::Assembly *a, const uint8_t *data, size_t length)
{
    size_t total = section_total(a->bytes);
    size_t want = total != 0 ? total - a->bytes.size() : 3 - a->bytes.size();
    size_t take = want < length ? want : length;
    a->bytes.insert(a->bytes.end(), data, data + take);
    total = section_total(a->bytes);
    if (total == 0)
        return take;
    if (total > SECTION_MAX) {
        a->active = false;
        return length;
    }
    if (a->bytes.size() < total) // the rest, when this packet holds more
        return take < length ? take + gather(context, a, data + take, length - take) : take;
    a->active = false;
    if (a->bytes[0] == TABLE_TDT || a->bytes[0] == TABLE_TOT)
        decode_time(context.psi, a->bytes.data(), total, *context.track);
    else
        carve_psi_section(context.psi, a->bytes.data(), total);
    return take;
}

} // namespace

uint32_t carve_crc32(const uint8_t *data, size_t length)
{
    static const std::array<uint32_t, 256> table = make_crc_table();
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < length; ++i)
        crc = crc << 8 ^ table[(crc >> 24 ^ data[i]) & 0xFF];
    return crc;
}

std::string carve_dvb_text(const uint8_t *text, size_t length, size_t most)
{
    size_t at = 0;
    bool utf8 = false;
    if (length > 0 && text[0] < 0x20) {
        utf8 = text[0] == 0x15;
        at = text[0] == 0x10 ? 3 : text[0] == 0x1F ? 2 : 1;
    }
    std::string out;
    for (; at < length && out.size() < most; ++at) {
        uint8_t c = text[at];
        if (c == 0x8A)
            out.push_back(' '); // the table's line break
        else if (c >= 0x20 && c != 0x7F && (utf8 || c < 0x80 || c > 0x9F))
            out.push_back(static_cast<char>(c));
    }
    return out;
}

bool carve_dvb_time(const uint8_t *field, uint32_t *seconds)
{
    uint32_t mjd = load_be16(field);
    uint32_t clock;
    if (mjd < MJD_1970 || !bcd_seconds(field + 2, 23, &clock))
        return false;
    *seconds = (mjd - MJD_1970) * 86400 + clock;
    return true;
}

bool carve_facts_empty(const CarveFacts &facts)
{
    return facts.programmes.empty() && !facts.has_pmt && facts.services.empty() &&
           facts.events.empty();
}

std::string carve_facts_key(const CarveFacts &facts)
{
    std::string key;
    auto put = [&key](uint64_t value) { key.append(reinterpret_cast<const char *>(&value), sizeof value); };
    auto text = [&](const std::string &s) { put(s.size()); key += s; };
    put(facts.programmes.size());
    for (const CarveProgramme &p : facts.programmes)
        put(uint64_t{p.number} << 16 | p.pmt_pid);
    put(facts.has_pmt ? uint64_t{facts.pmt_programme} << 16 | facts.pmt_pcr_pid : UINT64_MAX);
    put(facts.streams.size());
    for (const CarveElementary &e : facts.streams)
        put(uint64_t{e.type} << 16 | e.pid);
    put(facts.services.size());
    for (const CarveService &s : facts.services) {
        put(s.id);
        text(s.name);
    }
    put(facts.events.size());
    for (const CarveEvent &e : facts.events) {
        put(uint64_t{e.service} << 32 | e.start);
        put(e.duration);
        text(e.title);
    }
    return key;
}

void carve_psi_reset(CarvePsi *psi)
{
    psi->assemblies.resize(FIXED_ASSEMBLIES + PMT_ASSEMBLIES);
    for (CarvePsi::Assembly &a : psi->assemblies) {
        a.active = false;
        a.bytes.clear();
    }
    psi->facts = CarveFacts{};
    psi->has_time = false;
    psi->time = 0;
    psi->time_has_pcr = false;
    psi->time_pcr = 0;
}

bool carve_psi_section(CarvePsi *psi, const uint8_t *section, size_t length)
{
    if (length < 3)
        return false;
    switch (section[0]) {
    case TABLE_PAT: decode_pat(&psi->facts, section, length); return true;
    case TABLE_PMT: decode_pmt(&psi->facts, section, length); return true;
    case TABLE_SDT: decode_sdt(&psi->facts, section, length); return true;
    case TABLE_EIT_PF: decode_eit_present(&psi->facts, section, length); return true;
    default: return false;
    }
}

void carve_psi_packet(CarvePsi *psi, const uint8_t *bytes, const TsPacket &packet,
                      const CarveTrack &track)
{
    if (!packet.has_payload || packet.payload_offset >= TS_PACKET_SIZE)
        return;
    CarvePsi::Assembly *a = assembly_for(psi, packet.pid);
    if (a == nullptr)
        return;
    const uint8_t *data = bytes + packet.payload_offset;
    size_t length = TS_PACKET_SIZE - packet.payload_offset;
    SectionContext context{psi, &track};
    if (!packet.unit_start) {
        if (a->active)
            gather(context, a, data, length);
        return;
    }
    size_t pointer = data[0];
    if (1 + pointer > length) {
        a->active = false;
        return;
    }
    if (a->active)
        gather(context, a, data + 1, pointer);
    size_t at = 1 + pointer;
    while (at < length && data[at] != STUFFING) {
        a->active = true;
        a->bytes.clear();
        size_t taken = gather(context, a, data + at, length - at);
        if (a->active)
            return; // continues in the next packet
        at += taken;
    }
}
