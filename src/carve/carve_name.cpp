#include "carve/carve_name.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "common/shown_text.h"

namespace {

const char *const DATE_FORMAT = "%a %d/%m/%y %H:%M";

std::vector<const CarveFacts *> facts_of(const CarveResult &result, const CarveStream &stream)
{
    std::vector<const CarveFacts *> facts;
    for (uint32_t f : stream.fragments)
        facts.push_back(carve_fragment_facts(result.facts, result.fragments[f]));
    return facts;
}

// The duration as reelhead measures a stream's: from its first to its last clock
// reference on one PID, once round the 33-bit clock at most.
void measure(const CarveResult &result, CarveStream *stream)
{
    const CarveFragment *first = nullptr, *last = nullptr;
    for (uint32_t i : stream->fragments) {
        const CarveFragment &f = result.fragments[i];
        if (!f.has_pcr || (first != nullptr && f.pcr_pid != first->pcr_pid))
            continue;
        if (first == nullptr)
            first = &f;
        last = &f;
    }
    if (first != nullptr) {
        stream->has_duration = true;
        stream->seconds = pcr_step(first->first_pcr, last->last_pcr) / PCR_HZ;
    }
    // The clock at the start dates the stream from the first time table found in it.
    for (uint32_t i : stream->fragments) {
        const CarveFragment &f = result.fragments[i];
        if (f.time == 0)
            continue;
        bool same_clock = first != nullptr && f.has_pcr && f.pcr_pid == first->pcr_pid;
        uint64_t before = same_clock ? pcr_step(first->first_pcr, f.first_pcr) / PCR_HZ : 0;
        stream->recorded = before < f.time ? static_cast<uint32_t>(f.time - before) : f.time;
        return;
    }
}

void name_programme(const std::vector<const CarveFacts *> &facts, CarveStream *stream)
{
    for (const CarveFacts *f : facts) {
        if (f != nullptr && f->has_pmt) {
            stream->has_programme = true;
            stream->programme = f->pmt_programme;
            stream->pcr_pid = f->pmt_pcr_pid;
            stream->elementary = f->streams;
            break;
        }
    }
    for (const CarveFacts *f : facts) {
        if (f == nullptr)
            continue;
        for (const CarveProgramme &p : f->programmes) {
            if (!stream->has_programme) {
                stream->has_programme = true;
                stream->programme = p.number;
            }
            if (p.number == stream->programme) {
                stream->pmt_pid = p.pmt_pid;
                return;
            }
        }
    }
}

bool of_programme(const CarveStream &stream, uint16_t service)
{
    return !stream.has_programme || service == stream.programme;
}

void name_service(const std::vector<const CarveFacts *> &facts, CarveStream *stream)
{
    for (const CarveFacts *f : facts) {
        for (size_t i = 0; f != nullptr && i < f->services.size(); ++i) {
            if (of_programme(*stream, f->services[i].id)) {
                stream->service = f->services[i].name;
                return;
            }
        }
    }
}

// The event on air in the middle of the stream: a recording with padding begins in the
// programme before.
void name_event(const CarveResult &result, const std::vector<const CarveFacts *> &facts,
                CarveStream *stream)
{
    uint64_t middle = stream->size / 2, offset = 0, best_distance = UINT64_MAX;
    for (size_t i = 0; i < facts.size(); ++i) {
        const CarveFragment &f = result.fragments[stream->fragments[i]];
        uint64_t bytes = carve_fragment_bytes(f, result.cluster_length, i == 0, i + 1 == facts.size());
        uint64_t centre = offset + bytes / 2;
        offset += bytes;
        uint64_t distance = centre > middle ? centre - middle : middle - centre;
        if (facts[i] == nullptr || distance >= best_distance)
            continue;
        for (const CarveEvent &event : facts[i]->events) {
            if (of_programme(*stream, event.service)) {
                stream->event = event.title;
                best_distance = distance;
                break;
            }
        }
    }
}

void append_pid(std::string *text, const char *format, unsigned pid)
{
    char piece[48];
    snprintf(piece, sizeof piece, format, pid);
    *text += piece;
}

const char *stream_kind(uint8_t type)
{
    switch (type) {
    case 0x01: case 0x02: case 0x10: case 0x1B: case 0x24: return "video";
    case 0x03: case 0x04: case 0x0F: case 0x11: case 0x81: return "audio";
    default: return "data";
    }
}

std::string programme_text(const CarveStream &s)
{
    std::string inner;
    if (s.pmt_pid != TS_NO_PID)
        append_pid(&inner, "PMT 0x%04x", s.pmt_pid);
    if (s.pcr_pid != TS_NO_PID)
        append_pid(&inner, inner.empty() ? "PCR 0x%04x" : ", PCR 0x%04x", s.pcr_pid);
    for (size_t i = 0; i < s.elementary.size(); ++i) {
        append_pid(&inner, i > 0 ? ", 0x%04x " : inner.empty() ? "PIDs 0x%04x " : "; PIDs 0x%04x ",
                   s.elementary[i].pid);
        inner += stream_kind(s.elementary[i].type);
    }
    std::string text = "programme " + std::to_string(s.programme);
    return inner.empty() ? text : text + " (" + inner + ")";
}

std::string date_text(uint32_t seconds)
{
    time_t when = static_cast<time_t>(seconds);
    struct tm parts {};
    char date[32];
    if (gmtime_r(&when, &parts) == nullptr || strftime(date, sizeof date, DATE_FORMAT, &parts) == 0)
        return "?";
    return date;
}

std::string quoted(const std::string &text)
{
    return "\"" + text_shown(text.c_str()) + "\"";
}

} // namespace

void carve_name_stream(const CarveResult &result, CarveStream *stream)
{
    measure(result, stream);
    std::vector<const CarveFacts *> facts = facts_of(result, *stream);
    name_programme(facts, stream);
    name_service(facts, stream);
    name_event(result, facts, stream);
    if (stream->recorded != 0 && stream->has_duration) {
        const CarveEvent *event = carve_epg_fitting(result.guide, stream->recorded, stream->seconds);
        if (event != nullptr)
            stream->guide = event->title;
    }
}

std::string carve_stream_line(const CarveStream &s, unsigned number)
{
    char head[96];
    if (s.has_duration)
        snprintf(head, sizeof head, "%3u: %" PRIu64 " bytes %2u:%02u:%02u", number, s.size,
                 static_cast<unsigned>(s.seconds / 3600), static_cast<unsigned>(s.seconds / 60 % 60),
                 static_cast<unsigned>(s.seconds % 60));
    else
        snprintf(head, sizeof head, "%3u: %" PRIu64 " bytes  -:--:--", number, s.size);
    std::string line = head;
    line += "  cluster " + std::to_string(s.first_cluster);
    if (s.has_programme)
        line += "  " + programme_text(s);
    if (!s.service.empty())
        line += "  service " + quoted(s.service);
    if (!s.event.empty())
        line += "  event " + quoted(s.event);
    if (s.recorded != 0)
        line += "  recorded " + date_text(s.recorded);
    if (!s.guide.empty())
        line += "  guide " + quoted(s.guide);
    if (s.fragments.size() > 1)
        line += "  joined from " + std::to_string(s.fragments.size()) + " pieces";
    if (s.relation == CarveRelation::Continues)
        line += "  continues " + text_shown(s.related.c_str());
    if (s.relation == CarveRelation::Inside)
        line += "  in " + text_shown(s.related.c_str());
    return line;
}
