#include "check/check_badmap.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace {

constexpr uint64_t MAPFILE_LIMIT = 64u << 20; // a map of a whole drive is far smaller
constexpr unsigned AREAS_LISTED = 4;
const char *const CURRENT_STATUS = "?*/-FG+";
const char *const BLOCK_STATUS = "?*/-+";

// A number as ddrescue writes it: 0x and hexadecimal digits, or decimal digits.
bool parse_number(const std::string &word, uint64_t *value)
{
    bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    size_t at = hex ? 2 : 0;
    if (at >= word.size())
        return false;
    uint64_t result = 0, base = hex ? 16 : 10;
    for (; at < word.size(); ++at) {
        char c = word[at];
        uint64_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint64_t>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = static_cast<uint64_t>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<uint64_t>(c - 'A' + 10);
        else
            return false;
        if (result > (UINT64_MAX - digit) / base)
            return false;
        result = result * base + digit;
    }
    *value = result;
    return true;
}

bool is_status(const std::string &word, const char *allowed)
{
    return word.size() == 1 && word[0] != '\0' && strchr(allowed, word[0]) != nullptr;
}

std::vector<std::string> words_of(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

bool fail(std::string *error, size_t line, const std::string &what)
{
    *error = "line " + std::to_string(line) + ": " + what;
    return false;
}

void add_area(BadMap *map, uint64_t position, uint64_t size)
{
    if (!map->areas.empty() && map->areas.back().end() == position)
        map->areas.back().size += size;
    else
        map->areas.push_back({position, size});
}

std::string percent(uint64_t part, uint64_t whole)
{
    char text[32];
    double share = whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
    snprintf(text, sizeof text, "%.1f%%", share);
    return text;
}

// Byte ranges of a file, joined where they meet.
struct FileRanges {
    std::vector<BadArea> ranges;
    uint64_t bytes = 0;
    void add(uint64_t from, uint64_t to)
    {
        if (to <= from)
            return;
        bytes += to - from;
        if (!ranges.empty() && ranges.back().end() == from)
            ranges.back().size += to - from;
        else
            ranges.push_back({from, to - from});
    }
};

// The parts of the disk range [position, position + length) in unread areas, as offsets
// from `position`.
template <typename Visit>
void each_overlap(const BadMap &map, uint64_t position, uint64_t length, Visit visit)
{
    uint64_t end = position + length;
    auto it = std::upper_bound(map.areas.begin(), map.areas.end(), position,
                               [](uint64_t p, const BadArea &a) { return p < a.end(); });
    for (; it != map.areas.end() && it->position < end; ++it)
        visit(std::max(position, it->position) - position, std::min(end, it->end()) - position);
    // Beyond the map nothing was read either.
    if (map.mapped < end)
        visit(std::max(position, map.mapped) - position, length);
}

bool region_hit(const BadMap &map, uint64_t first_sector, uint64_t sectors)
{
    bool hit = false;
    if (sectors > 0)
        each_overlap(map, first_sector * SECTOR_SIZE, sectors * SECTOR_SIZE, [&](uint64_t, uint64_t) { hit = true; });
    return hit;
}

void check_tables(const HumaxDisk *disk, const BadMap &map, CheckResult *result)
{
    auto report = [&](int scope, const std::string &text) {
        Finding f;
        f.problem = Problem::TablesUnreadableAreas;
        f.scope = scope;
        f.text = text;
        result->findings.push_back(f);
        if (scope >= 0)
            result->partitions[scope].layout_in_doubt = true;
        else
            result->disk_in_doubt = true;
    };
    if (region_hit(map, 0, 1))
        report(SCOPE_DISK, "partition table lies");
    for (int i = 0; i < disk->partition_count; ++i) {
        const PartitionInfo *p = &disk->partitions[i];
        std::vector<std::string> hit;
        if (region_hit(map, p->start_sector, 1))
            hit.push_back("descriptor");
        if (region_hit(map, p->fat_sector, fat_sectors_held(p)))
            hit.push_back("allocation table");
        if (result->partitions[i].scanned && region_hit(map, p->dir_sector, p->dir_sectors))
            hit.push_back("directory");
        if (hit.empty())
            continue;
        std::string text = hit[0];
        for (size_t k = 1; k < hit.size(); ++k)
            text += (k + 1 == hit.size() ? " and " : ", ") + hit[k];
        report(i, text + (hit.size() > 1 ? " lie" : " lies"));
    }
}

std::string describe_ranges(const FileRanges &found, uint64_t size)
{
    std::string text;
    for (size_t k = 0; k < found.ranges.size() && k < AREAS_LISTED; ++k) {
        const BadArea &r = found.ranges[k];
        if (k > 0)
            text += ", ";
        text += "bytes " + std::to_string(r.position) + " to " + std::to_string(r.end() - 1) + " (" +
                percent(r.position, size) + " to " + percent(r.end(), size) + ")";
    }
    if (found.ranges.size() > AREAS_LISTED)
        text += " and " + std::to_string(found.ranges.size() - AREAS_LISTED) + " more";
    return text;
}

// The unread bytes of one file's contents (its size, as far as its clusters hold it).
FileRanges file_overlaps(const HumaxDisk *disk, int index, const FileState &f, const BadMap &map)
{
    const PartitionInfo *p = &disk->partitions[index];
    uint64_t length = cluster_bytes(p);
    uint64_t contents = std::min(f.size, f.chain.length * length);
    FileRanges found;
    check_for_each_cluster(p, f.chain, [&](uint64_t i, uint32_t cluster) {
        uint64_t offset = i * length;
        if (offset >= contents)
            return false;
        uint64_t in_file = std::min(length, contents - offset);
        each_overlap(map, check_cluster_sector(p, cluster) * SECTOR_SIZE, in_file,
                     [&](uint64_t from, uint64_t to) { found.add(offset + from, offset + to); });
        return true;
    });
    return found;
}

} // namespace

bool check_parse_bad_map(const std::string &text, BadMap *map, std::string *error)
{
    *map = BadMap{};
    std::istringstream in(text);
    std::string line;
    size_t number = 0;
    bool have_status = false;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> w = words_of(line);
        if (w.empty() || w[0][0] == '#')
            continue;
        uint64_t position, size;
        if (!have_status) {
            if (w.size() < 2 || w.size() > 3 || !parse_number(w[0], &position) || !is_status(w[1], CURRENT_STATUS) ||
                (w.size() == 3 && !parse_number(w[2], &size)))
                return fail(error, number, "expected the current position and status (\"0x00000000 +\")");
            have_status = true;
            continue;
        }
        if (w.size() != 3 || !parse_number(w[0], &position) || !parse_number(w[1], &size) ||
            !is_status(w[2], BLOCK_STATUS))
            return fail(error, number, "expected a block: position, size and one of ? * / - +");
        if (position != map->mapped)
            return fail(error, number,
                        map->mapped == 0 && map->areas.empty() && position != 0
                            ? "the first block does not start at position 0"
                            : "the block does not start where the one before it ends");
        if (size == 0 || size > UINT64_MAX - position)
            return fail(error, number, size == 0 ? "a block of size 0" : "the block runs past 2^64");
        if (w[2] != "+")
            add_area(map, position, size);
        map->mapped = position + size;
    }
    if (!have_status || map->mapped == 0)
        return fail(error, number, "no blocks: this is not a ddrescue mapfile");
    return true;
}

bool check_read_bad_map(const std::string &path, BadMap *map, std::string *error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    std::string text;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (text.size() > MAPFILE_LIMIT) {
            *error = path + ": too large for a mapfile";
            return false;
        }
    }
    if (in.bad()) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    if (!check_parse_bad_map(text, map, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

void check_bad_areas(HumaxDisk *disk, const BadMap &map, CheckResult *result)
{
    uint64_t disk_bytes = disk->volume.disk_bytes;
    // A map of another length is not this disk's map (or not all of it): what it leaves
    // out counts as unread, and the run does not end as if all were well.
    if (disk_bytes != UINT64_MAX && map.mapped != disk_bytes) {
        Finding f;
        f.problem = map.mapped < disk_bytes ? Problem::MapShort : Problem::MapLong;
        f.scope = SCOPE_MAP;
        f.n[0] = map.mapped;
        f.n[1] = disk_bytes;
        result->findings.push_back(f);
    }
    check_tables(disk, map, result);
    uint64_t end = disk_bytes == UINT64_MAX ? map.mapped : disk_bytes;
    uint64_t unread = map.mapped < end ? end - map.mapped : 0;
    for (const BadArea &a : map.areas)
        unread += a.position < end ? std::min(a.end(), end) - a.position : 0;
    unsigned touched = 0;
    std::set<unsigned> damaged_numbers;
    for (int i = 0; i < disk->partition_count; ++i) {
        const PartitionScan &scan = result->partitions[i];
        if (!scan.scanned)
            continue;
        for (const FileState &f : scan.files) {
            if (!f.placed || f.duplicate)
                continue;
            FileRanges found = file_overlaps(disk, i, f, map);
            if (found.bytes == 0)
                continue;
            ++touched;
            unsigned n;
            if ((i == PARTITION_AV && (check_numbered_name(f.name, ".av", &n) || check_numbered_name(f.name, ".elu", &n))) ||
                (i == PARTITION_EPG && check_numbered_name(f.name, ".epg", &n)))
                damaged_numbers.insert(n);
            Finding x;
            x.problem = Problem::BadAreaFile;
            x.scope = i;
            x.file = {i, f.name};
            x.n[0] = found.bytes;
            x.n[1] = found.ranges.size();
            x.text = describe_ranges(found, f.size);
            for (const BadArea &r : found.ranges)
                x.areas.emplace_back(r.position, r.end() - 1);
            result->findings.push_back(x);
        }
    }
    unsigned whole = 0;
    for (const ListedRecording &r : result->records.listed)
        whole += damaged_numbers.count(r.file_number) ? 0 : 1;
    Finding summary;
    summary.problem = Problem::MapSummary;
    summary.scope = SCOPE_MAP;
    summary.n[0] = unread;
    summary.n[1] = touched;
    summary.n[2] = whole;
    summary.n[3] = result->records.listed.size();
    result->findings.push_back(summary);
}
