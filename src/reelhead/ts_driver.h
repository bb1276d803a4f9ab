#pragma once
// reelhead's driver: one recording header for each transport stream of the command line.
#include <cstddef>

// Longest stream path accepted (the header name is built in a buffer of its own).
constexpr size_t TS_PATH_MAX = 254;

// What became of one stream of the command line.
enum class TsResult {
    Written,      // its header was written
    HeaderExists, // its header was there already and is kept
    NoHeader,     // skipped or failed: the stream has no header
};

// Prints the version line, then converts every argument in order. -h/--help (which adds a
// short usage) and -v/--version before a "--" end the run there with 0, no file
// converted; the first "--" itself is not a file. Without file arguments it prints
// "Invalid number of argumanets" and ends the process with status 1. Returns 1 when any
// stream was left without a header (after every file has been handled), 0 otherwise.
int ts_main(int argc, char **argv);

// Writes the .hre header beside the stream at `path`: the path with the extension of its
// base name replaced by ".hre" (appended when the base name has none). Skips the file
// with a message when its path is too long, its header exists already, it is not a
// regular file (a device or a FIFO would block or never end), or it has no PAT or no PMT;
// a header that cannot be created is reported with the system's message. A stream
// without a PCR still gets a header, of length 0, after a warning. A stream that cannot
// be opened, or a failed header write, ends the process with status 1.
TsResult ts_convert_file(const char *path);
