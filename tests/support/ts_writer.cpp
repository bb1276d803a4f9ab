#include "ts_writer.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace tswriter {

namespace {

void put16(Bytes &out, unsigned value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// Table id, section_length and the five bytes common to long-form sections, around
// `body`; then the CRC.
Bytes long_section(uint8_t table_id, uint16_t id_extension, uint8_t version, const Bytes &body)
{
    const size_t section_length = 5 + body.size() + 4;
    if (section_length > 1021)
        throw std::invalid_argument("section too long");
    Bytes out;
    out.push_back(table_id);
    put16(out, 0xB000 | static_cast<unsigned>(section_length)); // syntax 1, '0', reserved
    put16(out, id_extension);
    out.push_back(static_cast<uint8_t>(0xC0 | (version & 0x1F) << 1 | 0x01)); // current
    out.push_back(0); // section number
    out.push_back(0); // last section number
    out.insert(out.end(), body.begin(), body.end());
    const uint32_t crc = crc32_mpeg(out.data(), out.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(crc >> shift));
    return out;
}

void put_filler_descriptors(Bytes &out, size_t bytes)
{
    while (bytes >= 2) {
        const size_t length = std::min<size_t>(bytes - 2, 255);
        out.push_back(0x80); // user-private tag
        out.push_back(static_cast<uint8_t>(length));
        out.insert(out.end(), length, 0x5A);
        bytes -= 2 + length;
    }
    if (bytes == 1)
        throw std::invalid_argument("descriptor filler of one byte");
}

} // namespace

uint32_t crc32_mpeg(const uint8_t *data, size_t size)
{
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint32_t{data[i]} << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

Bytes pat_section(const std::vector<PatEntry> &entries, uint16_t ts_id, uint8_t version)
{
    Bytes body;
    for (const PatEntry &entry : entries) {
        put16(body, entry.program_number);
        put16(body, 0xE000 | entry.pid);
    }
    return long_section(0x00, ts_id, version, body);
}

Bytes pmt_section(uint16_t program_number, uint16_t pcr_pid,
                  const std::vector<ElementaryStream> &streams, uint8_t version)
{
    Bytes body;
    put16(body, 0xE000 | pcr_pid);
    put16(body, 0xF000); // no programme descriptors
    for (const ElementaryStream &stream : streams) {
        body.push_back(stream.stream_type);
        put16(body, 0xE000 | stream.pid);
        put16(body, 0xF000 | static_cast<unsigned>(stream.descriptor_bytes));
        put_filler_descriptors(body, stream.descriptor_bytes);
    }
    return long_section(0x02, program_number, version, body);
}

void TsWriter::packet(uint16_t pid, bool unit_start, const Bytes &adaptation_head,
                      const Bytes &data, bool with_payload)
{
    if (data.size() > MAX_PAYLOAD)
        throw std::invalid_argument("payload too long");
    uint8_t &counter = continuity_[pid];
    const bool adaptation = !adaptation_head.empty() || !with_payload || data.size() < MAX_PAYLOAD;
    Bytes out;
    out.push_back(0x47);
    out.push_back(static_cast<uint8_t>((unit_start ? 0x40 : 0) | pid >> 8));
    out.push_back(static_cast<uint8_t>(pid));
    out.push_back(static_cast<uint8_t>((adaptation ? 0x20 : 0) | (with_payload ? 0x10 : 0) |
                                       counter));
    if (adaptation) {
        const size_t length = PACKET_SIZE - 5 - data.size();
        out.push_back(static_cast<uint8_t>(length));
        Bytes field = adaptation_head;
        if (length > 0 && field.empty())
            field.push_back(0x00); // no flags
        if (field.size() > length)
            throw std::invalid_argument("adaptation field too long");
        field.resize(length, 0xFF); // stuffing
        out.insert(out.end(), field.begin(), field.end());
    }
    out.insert(out.end(), data.begin(), data.end());
    if (with_payload)
        counter = (counter + 1) & 0x0F;
    bytes_.insert(bytes_.end(), out.begin(), out.end());
}

void TsWriter::section(uint16_t pid, const Bytes &section, size_t chunk)
{
    size_t done = 0;
    bool first = true;
    while (first || done < section.size()) {
        Bytes data;
        if (first)
            data.push_back(0x00); // pointer field: the section starts at once
        const size_t room = MAX_PAYLOAD - data.size();
        const size_t take = std::min({chunk, room, section.size() - done});
        data.insert(data.end(), section.begin() + done, section.begin() + done + take);
        done += take;
        if (done == section.size())
            data.resize(MAX_PAYLOAD, 0xFF); // stuffing after the section's end
        packet(pid, first, {}, data, true);
        first = false;
    }
}

void TsWriter::pat(const std::vector<PatEntry> &entries, size_t chunk)
{
    section(0, pat_section(entries), chunk);
}

void TsWriter::pmt(uint16_t pid, uint16_t program_number, uint16_t pcr_pid,
                   const std::vector<ElementaryStream> &streams, size_t chunk)
{
    section(pid, pmt_section(program_number, pcr_pid, streams), chunk);
}

void TsWriter::pcr(uint16_t pid, uint64_t base)
{
    base &= (uint64_t{1} << 33) - 1;
    const Bytes head = {0x10, // PCR flag
                        static_cast<uint8_t>(base >> 25), static_cast<uint8_t>(base >> 17),
                        static_cast<uint8_t>(base >> 9), static_cast<uint8_t>(base >> 1),
                        static_cast<uint8_t>((base & 1) << 7 | 0x7E), 0x00};
    packet(pid, false, head, {}, false);
}

void TsWriter::payload(uint16_t pid, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        packet(pid, false, {}, Bytes(MAX_PAYLOAD, 0xA5), true);
}

void TsWriter::distinct_payload(uint16_t pid, uint32_t seed, size_t count)
{
    if (random_ == 0)
        random_ = seed != 0 ? seed : 1;
    for (size_t i = 0; i < count; ++i) {
        Bytes data(MAX_PAYLOAD);
        for (uint8_t &byte : data) {
            random_ ^= random_ << 13;
            random_ ^= random_ >> 17;
            random_ ^= random_ << 5;
            byte = static_cast<uint8_t>(random_ >> 24);
            if (byte == 0x47)
                byte = 0x46;
        }
        packet(pid, false, {}, data, true);
    }
}

namespace {

// The 5-byte UTC of DVB tables: the Modified Julian Date, then hours, minutes and
// seconds in BCD.
void put_dvb_time(Bytes &out, uint32_t utc)
{
    put16(out, utc / 86400 + 40587);
    uint32_t day = utc % 86400;
    for (uint32_t part : {day / 3600, day / 60 % 60, day % 60})
        out.push_back(static_cast<uint8_t>(part / 10 << 4 | part % 10));
}

void put_bcd_duration(Bytes &out, uint32_t seconds)
{
    for (uint32_t part : {seconds / 3600 % 100, seconds / 60 % 60, seconds % 60})
        out.push_back(static_cast<uint8_t>(part / 10 << 4 | part % 10));
}

void put_text(Bytes &out, const std::string &text)
{
    out.push_back(static_cast<uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

} // namespace

void TsWriter::sdt(uint16_t service_id, const std::string &provider, const std::string &name)
{
    Bytes descriptor = {0x01}; // digital television service
    put_text(descriptor, provider);
    put_text(descriptor, name);
    Bytes body;
    put16(body, 1);       // original network
    body.push_back(0xFF); // reserved
    put16(body, service_id);
    body.push_back(0xFC); // no EIT schedule or present/following flags
    put16(body, 0x8000 | static_cast<unsigned>(2 + descriptor.size())); // running
    body.push_back(0x48);
    body.push_back(static_cast<uint8_t>(descriptor.size()));
    body.insert(body.end(), descriptor.begin(), descriptor.end());
    section(0x11, long_section(0x42, 1, 0, body));
}

void TsWriter::eit_present(uint16_t service_id, uint32_t start, uint32_t duration,
                           const std::string &title)
{
    Bytes descriptor = {'e', 'n', 'g'};
    put_text(descriptor, title);
    descriptor.push_back(0); // no text
    Bytes body;
    put16(body, 1); // transport stream
    put16(body, 1); // original network
    body.push_back(0);    // segment last section
    body.push_back(0x4E); // last table
    put16(body, 0x0100);  // event id
    put_dvb_time(body, start);
    put_bcd_duration(body, duration);
    put16(body, 0x8000 | static_cast<unsigned>(2 + descriptor.size())); // running
    body.push_back(0x4D);
    body.push_back(static_cast<uint8_t>(descriptor.size()));
    body.insert(body.end(), descriptor.begin(), descriptor.end());
    section(0x12, long_section(0x4E, service_id, 0, body));
}

void TsWriter::tdt(uint32_t utc)
{
    Bytes table = {0x70, 0x70, 0x05}; // short form, five bytes
    put_dvb_time(table, utc);
    section(0x14, table);
}

void TsWriter::null_packets(size_t count)
{
    for (size_t i = 0; i < count; ++i)
        packet(0x1FFF, false, {}, Bytes(MAX_PAYLOAD, 0xFF), true);
}

void TsWriter::raw(const Bytes &bytes)
{
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

void TsWriter::save(const std::string &path) const
{
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        throw std::runtime_error("cannot create " + path);
    const size_t written = fwrite(bytes_.data(), 1, bytes_.size(), file);
    if (fclose(file) != 0 || written != bytes_.size())
        throw std::runtime_error("cannot write " + path);
}

TsWriter make_recording(const RecordingSpec &spec)
{
    TsWriter ts;
    std::vector<PatEntry> entries;
    if (spec.with_nit)
        entries.push_back({0, 0x10});
    entries.push_back({spec.program_number, spec.pmt_pid});
    ts.pat(entries);
    ts.pmt(spec.pmt_pid, spec.program_number, spec.pcr_pid, spec.streams);
    const uint16_t filler_pid = spec.streams.empty() ? 0x1FFF : spec.streams.front().pid;
    const uint16_t audio_pid = spec.streams.size() > 1 ? spec.streams[1].pid : filler_pid;
    for (unsigned tick = 0; tick <= spec.seconds * 10; ++tick) {
        if (spec.tables_every != 0 && tick > 0 && tick % spec.tables_every == 0) {
            ts.pat(entries);
            ts.pmt(spec.pmt_pid, spec.program_number, spec.pcr_pid, spec.streams);
        }
        if (tick % 10 == 0) {
            if (!spec.service_name.empty())
                ts.sdt(spec.program_number, "diskwarden tests", spec.service_name);
            if (!spec.event_title.empty())
                ts.eit_present(spec.program_number, spec.event_start, spec.event_duration, spec.event_title);
            if (spec.utc_start != 0)
                ts.tdt(spec.utc_start + tick / 10);
        }
        ts.pcr(spec.pcr_pid, spec.first_pcr + uint64_t{tick} * (PCR_HZ / 10));
        if (spec.vary_rate) {
            uint32_t draw = spec.payload_seed * 2654435761u ^ tick * 2246822519u;
            draw ^= draw >> 15;
            draw *= 2654435761u;
            draw ^= draw >> 13;
            size_t video = spec.filler / 2 + (draw >> 8) % (spec.filler + 1);
            size_t every = spec.audio_filler > 0 ? std::max<size_t>(video / spec.audio_filler, 1) : 0;
            size_t audio = 0;
            for (size_t i = 0; i < video; ++i) {
                ts.distinct_payload(filler_pid, spec.payload_seed);
                if (every != 0 && (i + 1) % every == 0 && audio < spec.audio_filler) {
                    ts.distinct_payload(audio_pid, spec.payload_seed);
                    ++audio;
                }
            }
            ts.distinct_payload(audio_pid, spec.payload_seed, spec.audio_filler - audio);
        } else if (spec.payload_seed != 0) {
            ts.distinct_payload(filler_pid, spec.payload_seed, spec.filler);
            ts.distinct_payload(audio_pid, spec.payload_seed, spec.audio_filler);
        } else {
            ts.payload(filler_pid, spec.filler);
            ts.payload(audio_pid, spec.audio_filler);
        }
    }
    return ts;
}

} // namespace tswriter
