#pragma once
// reelhead's driver: one recording header for each transport stream of the command line.
#include <cstddef>

// Longest stream path accepted (the header name is built in a buffer of its own).
constexpr size_t TS_PATH_MAX = 254;

// Prints the version line, then converts every argument in order. -h/--help (which adds a
// short usage) and -v/--version before a "--" end the run there with 0, no file
// converted; the first "--" itself is not a file. Without file arguments it prints
// "Invalid number of argumanets" and ends the process with status 1. Returns 0 whatever
// files were skipped.
int ts_main(int argc, char **argv);

// Writes the .hre header beside the stream at `path`: the path with the extension of its
// base name replaced by ".hre" (appended when the base name has none). Skips the file
// with a message (returning 1) when its path is too long, its header exists already, it
// has no PAT or no PMT, or the header cannot be created. Returns 0 when written. A stream
// that cannot be opened, or a failed header write, ends the process with status 1.
int ts_convert_file(const char *path);
