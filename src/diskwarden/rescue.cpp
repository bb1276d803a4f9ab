#include "diskwarden/rescue.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "check/check_badmap.h"
#include "platform/host_file.h"

namespace {

struct DamagedCopy {
    int number = 0;
    std::string name;  // the host copy, or the recording a disk-to-disk copy is of
    std::string piece; // for a disk-to-disk copy: which file went where
    uint64_t bytes = 0;
    std::vector<std::string> places;
};

int current_number = 0;
std::string current_title;
std::vector<DamagedCopy> damaged;

constexpr size_t PACKET = 188;
constexpr uint8_t SYNC = 0x47;
constexpr size_t CLOCK_WINDOW = size_t{1} << 20; // bytes searched for a clock reference
constexpr uint64_t CLOCK_HZ = 27000000;
constexpr uint64_t CLOCK_WRAP = (uint64_t{1} << 33) * 300;
constexpr size_t PLACES_SHOWN = 8;

// Where the packets of `bytes` begin: the first offset with three syncs a packet apart.
bool packet_phase(const std::vector<uint8_t> &bytes, size_t *phase)
{
    for (size_t at = 0; at < PACKET && at + 2 * PACKET < bytes.size(); ++at) {
        if (bytes[at] == SYNC && bytes[at + PACKET] == SYNC && bytes[at + 2 * PACKET] == SYNC) {
            *phase = at;
            return true;
        }
    }
    return false;
}

// The clock reference the packet at `p` carries, with its PID.
bool packet_clock(const uint8_t *p, unsigned *pid, uint64_t *clock)
{
    if (p[0] != SYNC || (p[3] & 0x20) == 0 || p[4] < 7 || (p[5] & 0x10) == 0)
        return false;
    *pid = ((p[1] & 0x1Fu) << 8) | p[2];
    uint64_t base = (uint64_t{p[6]} << 25) | (uint64_t{p[7]} << 17) | (uint64_t{p[8]} << 9) |
                    (uint64_t{p[9]} << 1) | (p[10] >> 7);
    *clock = base * 300 + (((p[10] & 1u) << 8) | p[11]);
    return true;
}

// The first (or, with `last`, the last) clock reference in `bytes`, of `*pid` when it is
// set (not ~0u), which it is then.
bool find_clock(const std::vector<uint8_t> &bytes, bool last, unsigned *pid, uint64_t *clock)
{
    size_t phase = 0;
    if (!packet_phase(bytes, &phase))
        return false;
    bool found = false;
    for (size_t at = phase; at + PACKET <= bytes.size(); at += PACKET) {
        unsigned its = 0;
        uint64_t value = 0;
        if (!packet_clock(&bytes[at], &its, &value) || (*pid != ~0u && its != *pid))
            continue;
        *pid = its;
        *clock = value;
        found = true;
        if (!last)
            break;
    }
    return found;
}

std::string byte_place(uint64_t position)
{
    return "byte " + std::to_string(position);
}

std::vector<uint8_t> read_piece(const RescueReader &read, uint64_t offset, size_t length)
{
    std::vector<uint8_t> bytes(length);
    bytes.resize(read(offset, bytes.data(), length));
    return bytes;
}

std::string place_of(const RescueReader &read, const std::vector<uint8_t> &start, uint64_t position)
{
    if (!read)
        return byte_place(position);
    uint64_t from = position > CLOCK_WINDOW ? position - CLOCK_WINDOW : 0;
    std::string time = rescue_programme_time(start, read_piece(read, from, static_cast<size_t>(position - from)));
    return time.empty() ? byte_place(position) : time;
}

} // namespace

void rescue_set_recording(int number, const std::string &title)
{
    current_number = number;
    current_title = title;
}

std::string rescue_programme_time(const std::vector<uint8_t> &start, const std::vector<uint8_t> &before)
{
    unsigned pid = ~0u;
    uint64_t first = 0, at = 0;
    if (!find_clock(start, false, &pid, &first) || !find_clock(before, true, &pid, &at))
        return "";
    uint64_t seconds = ((at + CLOCK_WRAP - first) % CLOCK_WRAP) / CLOCK_HZ;
    char text[32];
    snprintf(text, sizeof text, "%" PRIu64 ":%02u", seconds / 60, static_cast<unsigned>(seconds % 60));
    return text;
}

namespace {

void note(DamagedCopy copy, const std::vector<ByteArea> &holes, const RescueReader &read)
{
    copy.number = current_number;
    copy.bytes = rescue_bytes(holes);
    std::vector<uint8_t> start;
    if (read)
        start = read_piece(read, 0, CLOCK_WINDOW);
    for (size_t i = 0; i < holes.size() && i < PLACES_SHOWN; ++i)
        copy.places.push_back(place_of(read, start, holes[i].begin));
    if (holes.size() > PLACES_SHOWN)
        copy.places.push_back("...");
    damaged.push_back(std::move(copy));
}

} // namespace

void rescue_note(const std::string &host_copy, const std::vector<ByteArea> &holes, const RescueReader &read)
{
    DamagedCopy copy;
    copy.name = host_copy;
    note(std::move(copy), holes, read);
}

void rescue_note_disk_copy(const std::string &piece, const std::vector<ByteArea> &holes, const RescueReader &read)
{
    DamagedCopy copy;
    copy.name = current_title;
    copy.piece = piece;
    note(std::move(copy), holes, read);
}

bool rescue_summary()
{
    if (damaged.empty())
        return false;
    fprintf(stderr, "\nUnreadable sectors (zeros in their place; a copy on the host has "
                    "their map beside it):\n");
    for (const DamagedCopy &copy : damaged) {
        std::string places;
        for (const std::string &place : copy.places)
            places += (places.empty() ? "" : ", ") + place;
        fprintf(stderr, "  ");
        if (copy.number > 0)
            fprintf(stderr, "%d ", copy.number);
        fprintf(stderr, "\"%s\": ", copy.name.c_str());
        if (!copy.piece.empty())
            fprintf(stderr, "%s: ", copy.piece.c_str());
        fprintf(stderr, "%" PRIu64 " bytes unreadable, at %s\n", copy.bytes, places.c_str());
    }
    return true;
}

std::string rescue_map_path(const std::string &copy_path)
{
    return copy_path + ".map";
}

std::string rescue_mapfile_text(const MapfileLayout &layout, const std::vector<ByteArea> &areas)
{
    std::string text = "# " + layout.title + "\n# current_pos  current_status  current_pass\n0x00000000     " +
                       layout.outside + "               1\n#      pos        size  status\n";
    char line[80];
    auto block = [&](uint64_t begin, uint64_t end, char status) {
        if (begin >= end)
            return;
        snprintf(line, sizeof line, "0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", begin, end - begin, status);
        text += line;
    };
    uint64_t at = 0;
    for (const ByteArea &area : areas) {
        block(at, area.begin, layout.outside);
        block(area.begin, area.end, layout.inside);
        at = area.end;
    }
    if (layout.size != UINT64_MAX)
        block(at, layout.size, layout.outside);
    return text;
}

std::string rescue_map_text(uint64_t size, const std::vector<ByteArea> &holes)
{
    return rescue_mapfile_text({"Mapfile of a copy by diskwarden: '+' read, '-' unreadable (zeros in the copy)", '-',
                                '+', size},
                               holes);
}

bool rescue_write_map(const std::string &copy_path, uint64_t size, const std::vector<ByteArea> &holes)
{
    std::string path = rescue_map_path(copy_path);
    std::string text = rescue_map_text(size, holes);
    HostOutput out;
    if (!host_output_begin(&out, path.c_str()))
        return false;
    if (!host_output_write(&out, text.data(), text.size())) {
        int error = errno;
        host_output_abandon(&out);
        errno = error;
        return false;
    }
    return host_output_commit(&out);
}

bool rescue_read_map(const std::string &copy_path, uint64_t size, std::vector<ByteArea> *holes)
{
    std::string path = rescue_map_path(copy_path);
    if (!host_exists(path.c_str()))
        return false;
    BadMap map;
    std::string error;
    if (!check_read_bad_map(path, &map, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    holes->clear();
    for (const BadArea &area : map.areas)
        if (area.position < size)
            holes->push_back({area.position, std::min(area.end(), size)});
    // What the map does not reach was never read either.
    if (map.mapped < size)
        holes->push_back({std::max(map.mapped, holes->empty() ? 0 : holes->back().end), size});
    return true;
}
