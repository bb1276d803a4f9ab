#pragma once
// What the fuzz targets share: surviving the programs' error exits, scratch files, disk
// images built from compact inputs, and opening a disk so that an error exit in the middle
// of opening leaks nothing (a fuzzer runs millions of inputs in one process).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disk/humax_disk.h"

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// Thrown by the fatal handler in place of ending the process.
struct ProgramExit {
    int status;
};

// Installs the throwing fatal handler, answers every question with yes (a target never
// reads standard input) and resets the run options and the extension helper's memory.
// Call at the start of every input.
void begin_input();

// A directory of this process for scratch files, removed at exit.
const std::string &scratch_dir();
std::string scratch_file(const std::string &name);
void write_file(const std::string &path, const uint8_t *data, size_t size);

// A compact disk image: chunks of bytes placed at sectors of an otherwise empty (sparse)
// image, held in memory. Encoding, repeated to the end of the input: sector (u32,
// little-endian), byte count (u16, little-endian), the bytes (cut short at the end of the
// input). Sectors are taken modulo 2^24 so that an image stays below 8 GiB of (sparse)
// length.
MemoryImage chunk_image(const uint8_t *data, size_t size);
// The opposite, for seeds: the sectors of an image file that are not all zero, joined
// into runs of at most `max_run` sectors.
Bytes chunks_of_image(const std::string &path, uint32_t max_run = 64);

struct DiskCloser {
    void operator()(HumaxDisk *disk) const;
};
using DiskHandle = std::unique_ptr<HumaxDisk, DiskCloser>;

// Opens a disk as the program does (volume, disk format, record length, record list; in
// recovery mode the volume alone), answering the record list's question with yes. A
// failure throws ProgramExit{1}, as the program's edge would end the run.
DiskHandle open_disk(const DiskSource &source, bool writable);

// Reads every file of every loaded partition, at most `budget` bytes each: with the bulk
// reader, then again in record-sized pieces. Returns the bytes read (so that the work is
// not optimised away).
uint64_t read_every_file(HumaxDisk *disk, uint64_t budget);

// True when partition `part` has no file `name`, or one of at most `limit` bytes (its
// size as reading it gives it). Targets copy only such files to the host, since a
// damaged table can make a file of a few sectors claim terabytes.
bool small_or_absent(HumaxDisk *disk, int part, const char *name, uint64_t limit);

// A directory for host files that the commands write into their current directory: made
// the current directory once, and emptied by each call.
void enter_host_dir();

} // namespace fuzz
