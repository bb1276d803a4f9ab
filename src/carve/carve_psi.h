#pragma once
// What a found stream says about itself, from the tables it carries: the programme and
// its PIDs (PAT, PMT), the service's name (SDT), the event on air (EIT present/following)
// and the time (TDT, TOT). Sections are gathered from the packets of one stream in order
// and decoded only when whole and, where they carry one, when their CRC is right.
#include <cstdint>
#include <string>
#include <vector>

#include "carve/carve_packet.h"

struct CarveProgramme {
    uint16_t number = 0;
    uint16_t pmt_pid = 0;
};

struct CarveElementary {
    uint8_t type = 0;
    uint16_t pid = 0;
};

struct CarveService {
    uint16_t id = 0;
    std::string name; // without its character-table prefix, control codes removed
};

struct CarveEvent {
    uint16_t service = 0;
    uint32_t start = 0;    // UTC seconds since 1970
    uint32_t duration = 0; // seconds
    std::string title;
};

// The tables found in one run of packets: the first of each kind.
struct CarveFacts {
    std::vector<CarveProgramme> programmes; // PAT, network entry left out
    bool has_pmt = false;
    uint16_t pmt_programme = 0;
    uint16_t pmt_pcr_pid = TS_NO_PID;
    std::vector<CarveElementary> streams; // PMT, in table order
    std::vector<CarveService> services;   // SDT (actual transport stream)
    std::vector<CarveEvent> events;       // EIT present event of each service
};

bool carve_facts_empty(const CarveFacts &facts);

// The same facts as one string, for telling identical sets apart.
std::string carve_facts_key(const CarveFacts &facts);

// Gathers sections from the packets of one stream: PAT on PID 0, the PMTs it names, SDT,
// EIT and TDT/TOT on their PIDs. Memory is fixed: a few section buffers.
struct CarvePsi {
    struct Assembly {
        uint16_t pid = TS_NO_PID;
        std::vector<uint8_t> bytes;
        bool active = false;
    };
    std::vector<Assembly> assemblies; // made by carve_psi_reset
    CarveFacts facts;
    bool has_time = false;
    uint32_t time = 0;     // UTC of the first TDT/TOT
    bool time_has_pcr = false;
    uint64_t time_pcr = 0; // the stream's clock when it came
};

void carve_psi_reset(CarvePsi *psi);

// Takes one packet of the stream (already accepted as continuing it); `track` gives the
// stream's clock so far, for dating a time table.
void carve_psi_packet(CarvePsi *psi, const uint8_t *bytes, const TsPacket &packet,
                      const CarveTrack &track);

// Decodes one whole PAT, PMT, SDT or EIT section into the facts (a damaged one changes
// nothing). False for other tables.
bool carve_psi_section(CarvePsi *psi, const uint8_t *section, size_t length);

// CRC-32 of MPEG sections; 0 over a whole section with its CRC means intact.
uint32_t carve_crc32(const uint8_t *data, size_t length);

// Text of a DVB string field: the character-table prefix skipped, control codes removed,
// at most `most` bytes kept.
std::string carve_dvb_text(const uint8_t *text, size_t length, size_t most = 80);

// UTC seconds since 1970 from the 5-byte MJD + BCD time of DVB tables; false when the
// digits are not BCD or the date lies before 1970.
bool carve_dvb_time(const uint8_t *field, uint32_t *seconds);
