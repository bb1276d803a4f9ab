#pragma once
// What the copies of a run do about unreadable sectors: a copy with holes keeps its final
// name (it holds every byte that could be read) with a GNU ddrescue mapfile beside it,
// NAME.map, in the copy's byte positions ('+' read, '-' unreadable); a later run reads
// only the holes again; the run ends with a summary of every damaged copy and status 1.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "disk/file_rescue.h"

// The recording whose pieces the next copies are (list number, or the number a recovery
// scan gives it, and its title), for the summary.
void rescue_set_recording(int number, const std::string &title);

// Reads up to `length` bytes of a copy at `offset`; returns how many it got.
using RescueReader = std::function<size_t(uint64_t offset, uint8_t *data, size_t length)>;

// Notes a copy with unreadable areas for the summary. With `read` (a transport stream),
// the summary tells where the holes fall in the programme, from the stream's clock
// references before each; without, or where there are none, their byte positions.
// A host copy is named by its file, whose name holds the recording's; a disk-to-disk
// copy by the recording and `piece` ("7.av (copied as 2.av)"). Each line says the list
// number, the name, the unreadable bytes and where they fall, each once:
//   2 "20130527 2100 Film.ts": 512 bytes unreadable, at 2:05
//   2 "20130527 2100 Film": 7.av (copied as 2.av): 512 bytes unreadable, at 2:05
void rescue_note(const std::string &host_copy, const std::vector<ByteArea> &holes, const RescueReader &read);
void rescue_note_disk_copy(const std::string &piece, const std::vector<ByteArea> &holes,
                           const RescueReader &read);

// Prints the summary of the damaged copies, when there are any, on standard error;
// true when there were.
bool rescue_summary();

// The name of the map beside `copy_path`.
std::string rescue_map_path(const std::string &copy_path);

// How a GNU ddrescue mapfile marks its areas: the first comment line, the status of the
// areas given and of the rest of [0, size) (size UINT64_MAX: nothing after the last area,
// which also gives the status line).
struct MapfileLayout {
    std::string title;
    char inside = '+';
    char outside = '?';
    uint64_t size = UINT64_MAX;
};

// A mapfile's text: the areas (sorted, apart) marked as the layout says.
std::string rescue_mapfile_text(const MapfileLayout &layout, const std::vector<ByteArea> &areas);

// The mapfile's text for a copy of `size` bytes whose `holes` are unreadable.
std::string rescue_map_text(uint64_t size, const std::vector<ByteArea> &holes);

// Writes the map beside `copy_path` (replacing one there); false (errno set) on failure.
bool rescue_write_map(const std::string &copy_path, uint64_t size, const std::vector<ByteArea> &holes);

// Reads the map beside `copy_path`, if there is one: true with its unread areas (clipped
// to `size`) in *holes. False when there is none, or it cannot be read or understood
// (said on standard error then: the copy is treated as a copy without a map).
bool rescue_read_map(const std::string &copy_path, uint64_t size, std::vector<ByteArea> *holes);

// The programme time ("m:ss") at byte `position` of a transport stream whose first
// `lead` bytes are `start` and whose bytes before the position are `before` (ending at
// it): from the clock references of the stream's first such PID. Empty when either part
// holds none.
std::string rescue_programme_time(const std::vector<uint8_t> &start, const std::vector<uint8_t> &before);
