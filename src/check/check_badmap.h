#pragma once
// GNU ddrescue mapfiles, and which files of a disk lie in the areas a rescue could not
// read.
//
// A mapfile is text: comment lines begin with '#'; the first other line is
// "current_pos current_status [current_pass]"; every further line a block
// "pos size status", positions and sizes in hexadecimal with 0x (or decimal), the blocks
// contiguous from position 0. Every block not marked '+' (finished) was not read.
#include <cstdint>
#include <string>
#include <vector>

#include "check/check_scan.h"

struct BadArea {
    uint64_t position = 0;
    uint64_t size = 0;
    uint64_t end() const { return position + size; }
};

struct BadMap {
    std::vector<BadArea> areas; // unread areas, in order, adjacent ones joined
    uint64_t mapped = 0;        // bytes the blocks cover, from position 0
};

// Parses a mapfile's text. False with a message naming the line ("line 7: ...") on a
// malformed map; nothing is guessed.
bool check_parse_bad_map(const std::string &text, BadMap *map, std::string *error);

// Reads and parses the mapfile at `path`. False with a message ("path: ...").
bool check_read_bad_map(const std::string &path, BadMap *map, std::string *error);

// Reports every file with bytes in the unread areas (where they lie in it, in bytes and
// as a share of its length), the partitions whose tables lie there, and how many listed
// recordings are whole. Call after check_record_list.
void check_bad_areas(HumaxDisk *disk, const BadMap &map, CheckResult *result);
