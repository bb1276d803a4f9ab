// Any bytes as a transport stream for reelhead: the PAT and PMT search through libdvbpsi,
// the length from the program clock reference, the start time and title from the file
// name, and the header written beside the stream.
//
// Input: the file name (without directory; up to the first newline, at most 120 bytes,
// '/' becoming '_'), then the stream's bytes.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "reelhead/ts_driver.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 256 * 1024)
        return 0;
    fuzz::begin_input();
    const uint8_t *end = data + size;
    const uint8_t *newline = std::find(data, std::min(end, data + 120), '\n');
    std::string name(reinterpret_cast<const char *>(data), static_cast<size_t>(newline - data));
    std::replace(name.begin(), name.end(), '/', '_');
    std::replace(name.begin(), name.end(), '\0', '_');
    if (name.empty() || name == "." || name == "..")
        name = "stream";
    const uint8_t *stream = newline < end ? newline + 1 : end;
    const std::string path = fuzz::scratch_file(name + ".ts");
    fuzz::write_file(path, stream, static_cast<size_t>(end - stream));
    try {
        ts_convert_file(path.c_str());
    } catch (const fuzz::ProgramExit &) {
    }
    unlink(path.c_str());
    unlink(fuzz::scratch_file(name + ".hre").c_str());
    return 0;
}
