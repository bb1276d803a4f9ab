#pragma once
// Running the Windows programs (make windows) under Wine, the way run_program runs the
// Linux ones.
//
// One Wine prefix serves a whole test run: the ctest fixture "wine" creates it afresh in
// the build folder (wine_prefix_create) and stops its server at the end; a test program
// run on its own creates the prefix when it is missing. Its wineserver is started first,
// persistent and with its output sent to a log, because Debian's wineserver otherwise
// exits with its last client (each cold start costs a second) and Wine's services inherit
// the output of the process that started them. The programs' outputs go to files, never
// to pipes that a service could hold open.
#include <string>
#include <vector>

#include "disk_image.h"

namespace testimg {

// The cross-built program `name` ("reelhead"): DW_WINDOWS_BIN/name.exe.
std::string windows_program_path(const std::string &name);

// Whether wine and wineserver are on the search path.
bool wine_installed();

// Why Windows programs cannot run here: "" when Wine is installed and its prefix is ready
// (created when missing, its server started), else the reason (Wine missing, the prefix
// cannot be created). Checked once per process.
std::string wine_unavailable_reason();

// Runs the Windows program `exe` under Wine with the interface of run_program: arguments
// (passed as they are: the program expands wildcards itself), standard input, working
// directory, environment changes. Killed after 240 seconds like run_program.
RunResult run_windows_program(const std::string &exe, const std::vector<std::string> &args,
                              const std::string &input = "", const std::string &cwd = "",
                              const std::vector<std::string> &env = {});

// The prefix of this build's test runs, and the environment entries that select it.
std::string wine_prefix();
std::vector<std::string> wine_environment();

// Replaces the prefix by a fresh one and starts its server (the fixture's setup).
// Throws std::runtime_error when Wine fails.
void wine_create_prefix();
// Stops the prefix's server and its services (the fixture's cleanup).
void wine_stop();

} // namespace testimg
