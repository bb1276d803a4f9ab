#pragma once
// Running the programs as a user runs them: arguments, standard input, working directory
// and environment given explicitly, both outputs captured, and a time limit so that a
// hanging program fails its test instead of holding up the run. Failures of the
// runner itself (no pipe, no fork) throw std::runtime_error.
#include <sys/types.h>

#include <string>
#include <vector>

namespace testimg {

// Runs a program with the given arguments, standard input from `input` (a pipe; empty
// means immediate end of input) and the working directory `cwd`. Captures both outputs.
// `env` entries "NAME=value" set a variable, a bare "NAME" removes it; the rest of the
// environment is inherited. A program still running after 240 seconds is killed.
struct RunResult {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
};
RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const std::string &input = "", const std::string &cwd = "",
                      const std::vector<std::string> &env = {});
// Waits for the child `pid` and returns its exit status, or 128 + signal.
int wait_for_exit(pid_t pid);
// The programs of this build.
std::string diskwarden_path();
std::string reelhead_path();
// The executable called `name` on the search path, or "".
std::string find_on_path(const std::string &name);

} // namespace testimg
