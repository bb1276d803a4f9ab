#pragma once
// Copying a file of a failing disk so that only its unreadable sectors are lost. The copy
// reads as a healthy one does, in large transfers, until one fails; then it skips the
// rest of that transfer (zeros for now) and goes on, so that a drive that dies during the
// rescue has given its readable bulk first. Afterwards it comes back to each failed area
// and reads it sector by sector (the device's sector), every sector once, and retries the
// sectors that stay unreadable as often as asked. A healthy file costs exactly what a
// plain copy costs: nothing here runs before a read has failed.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "disk/file_map.h"

struct Progress;

// Bytes [begin, end) of a file.
struct ByteArea {
    uint64_t begin = 0;
    uint64_t end = 0;
};

// Where the rescued bytes go, by their offset in the file. The first pass hands over the
// areas to read in order, each piece whole (zeros where its transfer failed); later
// passes hand over, at their offsets, the sectors they read. `data` has room for the rest
// of the file's last 4-byte group when a piece ends the file. False (errno set) when the
// copy cannot take them: the rescue stops there.
struct RescueSink {
    void *context = nullptr;
    bool (*write)(void *context, uint64_t offset, const void *data, size_t length) = nullptr;
};

struct RescueOptions {
    unsigned retries = 0;           // further reads of each sector that stays unreadable
    Progress *progress = nullptr;   // the first pass's progress (bytes of the areas done)
};

// Reads the `areas` of the file of `map` (sorted, apart) into the sink through `buffer`
// (`capacity` bytes, page-aligned, a whole number of the map's clusters), as said above.
// On success *unreadable holds what stayed unreadable (sorted, adjacent areas joined, in
// whole device sectors as far as the file goes). False only when the sink failed (errno
// from it); reads never fail the rescue.
bool dfile_rescue(FileMap *map, const std::vector<ByteArea> &areas, void *buffer, size_t capacity,
                  const RescueSink &sink, const RescueOptions &options,
                  std::vector<ByteArea> *unreadable);

// The unreadable bytes of `areas`.
uint64_t rescue_bytes(const std::vector<ByteArea> &areas);
