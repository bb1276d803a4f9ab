#pragma once
// Builds MPEG transport streams for tests, packet by packet, with this file's own
// encoding of the tables (section headers, CRC-32, PCR adaptation fields), so that tests
// need no binary fixtures.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tswriter {

using Bytes = std::vector<uint8_t>;

constexpr size_t PACKET_SIZE = 188;
constexpr size_t MAX_PAYLOAD = 184;
constexpr uint64_t PCR_HZ = 90000;

// CRC-32 of MPEG-2 sections (polynomial 0x04C11DB7, initial value all ones, no
// reflection, no final inversion).
uint32_t crc32_mpeg(const uint8_t *data, size_t size);

struct PatEntry {
    uint16_t program_number = 0; // 0: the network (NIT) entry
    uint16_t pid = 0;
};

struct ElementaryStream {
    uint8_t stream_type = 0;
    uint16_t pid = 0;
    size_t descriptor_bytes = 0; // filler descriptors, to make long sections
};

// Whole sections, CRC included.
Bytes pat_section(const std::vector<PatEntry> &entries, uint16_t ts_id = 1, uint8_t version = 0);
Bytes pmt_section(uint16_t program_number, uint16_t pcr_pid,
                  const std::vector<ElementaryStream> &streams, uint8_t version = 0);

class TsWriter {
  public:
    // A section on `pid`, starting in a packet with the unit-start flag and a zero pointer
    // field and continuing in further packets. At most `chunk` section bytes go into each
    // packet (the rest of a short packet is adaptation-field stuffing), so even a small
    // section can be made to span several packets.
    void section(uint16_t pid, const Bytes &section, size_t chunk = MAX_PAYLOAD - 1);
    void pat(const std::vector<PatEntry> &entries, size_t chunk = MAX_PAYLOAD - 1);
    void pmt(uint16_t pid, uint16_t program_number, uint16_t pcr_pid,
             const std::vector<ElementaryStream> &streams, size_t chunk = MAX_PAYLOAD - 1);
    // A packet whose adaptation field carries the PCR `base` (33 bits), and no payload.
    void pcr(uint16_t pid, uint64_t base);
    // Packets of payload bytes (0xA5; no sync byte value inside).
    void payload(uint16_t pid, size_t count = 1);
    // Packets of payload bytes that differ from packet to packet (a generator seeded with
    // `seed` on the first call; no sync byte value inside), as real pictures and sound do.
    void distinct_payload(uint16_t pid, uint32_t seed, size_t count = 1);
    // Service information of DVB broadcasts: the service's name (SDT), the event on air
    // (EIT present/following, section 0) and the time (TDT), each in one section.
    void sdt(uint16_t service_id, const std::string &provider, const std::string &name);
    void eit_present(uint16_t service_id, uint32_t start, uint32_t duration, const std::string &title);
    void tdt(uint32_t utc);
    void null_packets(size_t count);
    // Bytes added as they are (garbage, partial packets).
    void raw(const Bytes &bytes);

    const Bytes &bytes() const { return bytes_; }
    size_t size() const { return bytes_.size(); }
    void save(const std::string &path) const;

  private:
    Bytes bytes_;
    std::map<uint16_t, uint8_t> continuity_;
    uint32_t random_ = 0;
    // Appends one packet: the header, an adaptation field when there is a head for it or
    // the payload is short (its head, then stuffing), then `data` as payload.
    void packet(uint16_t pid, bool unit_start, const Bytes &adaptation_head, const Bytes &data,
                bool with_payload);
};

// A typical recording: PAT (programme 1 on PMT PID 0x100, after a NIT entry when
// `with_nit`), the PMT, then `seconds` * 10 PCR packets on `pcr_pid`, starting at
// `first_pcr`, 100 ms apart, each followed by `filler` payload packets on the first
// stream's PID (and `audio_filler` on the second).
// A broadcast-like recording adds, with `payload_seed` nonzero, payloads that differ from
// packet to packet; with `tables_every`, the PAT and PMT again every that many PCR ticks;
// and, once a second, the SDT (when `service_name` is set), the EIT present event (when
// `event_title` is set) and the TDT counting from `utc_start` (when nonzero). With
// `vary_rate`, each tick carries between half and one and a half times `filler` video
// packets (drawn from the payload seed), the audio packets spread among them, as a
// broadcast's variable rate does.
struct RecordingSpec {
    uint16_t pmt_pid = 0x100;
    uint16_t program_number = 1;
    uint16_t pcr_pid = 0x200;
    std::vector<ElementaryStream> streams = {{2, 0x200, 0}, {3, 0x280, 0}};
    uint64_t first_pcr = 900000;
    unsigned seconds = 10;
    size_t filler = 3;
    bool with_nit = false;
    uint32_t payload_seed = 0;
    size_t audio_filler = 0;
    unsigned tables_every = 0;
    std::string service_name;
    std::string event_title;
    uint32_t event_start = 0;
    uint32_t event_duration = 0;
    uint32_t utc_start = 0;
    bool vary_rate = false;
};
TsWriter make_recording(const RecordingSpec &spec);

} // namespace tswriter
