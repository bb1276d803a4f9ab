#pragma once
// The one table of command lines that both the Linux programs and the Windows programs
// (under Wine) run, on copies of the same inputs, with the same standard output, standard
// error, exit status and files left behind expected of both (tests/windows/).
//
// A row names the program, its arguments as a user types them in a shell (the Linux run
// has them expanded as the shell would; the Windows program gets them as they are and
// expands wildcards itself), its standard input, the files it starts from and what the
// Linux run must do (its status and the files it creates), so that a row cannot pass by
// both runs failing alike. Add rows for new commands here, not new tests.
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "disk_image.h"
#include "ts_writer.h"

namespace difftest {

enum class Program { Reelhead, Diskwarden };

// A file a run starts from: its path relative to the run's directory (parent
// directories are made) and the maker that writes it there. Makers are deterministic, so
// that every run gets an identical copy.
struct InputFile {
    std::string name;
    std::function<void(const std::string &path)> make;
};

struct Row {
    std::string name; // letters, digits and '_': the test's name
    Program program = Program::Reelhead;
    std::vector<std::string> args;
    std::string input; // standard input
    std::vector<InputFile> files;
    std::vector<std::string> env; // besides TZ=UTC0, which every run has
    int status = 0;               // the exit status the run must have
    std::vector<std::string> created; // files the run must leave that were not inputs
};

const std::vector<Row> &differential_rows();

// Tests show a row by its name (also in the names ctest lists).
void PrintTo(const Row &row, std::ostream *out);

// Every input's modification time (header times follow it when a name carries none).
constexpr int64_t INPUT_MTIME = 1600000000;

// Makers.
InputFile bytes_file(const std::string &name, const testimg::Bytes &bytes);
InputFile stream_file(const std::string &name, const tswriter::RecordingSpec &spec);
// A sparse stream of more than 5 GiB: a recording's head at 0 and, from exactly 5 GiB
// on, a tail of packets whose PCRs end `seconds` after the head's first PCR; a hole
// between them.
InputFile large_stream_file(const std::string &name, unsigned seconds);
// A recorder disk image made by the test-support image builder, then `fill`ed.
InputFile image_file(const std::string &name, std::function<void(testimg::DiskImage &)> fill,
                     const testimg::ImageSpec &spec = testimg::default_spec());

// Writes the row's inputs into `dir` (which exists), modification times INPUT_MTIME.
void make_inputs(const Row &row, const std::string &dir);

// Runs the row in `dir`: with the Linux program (arguments expanded as a shell does), or
// with the Windows program under Wine.
testimg::RunResult run_linux(const Row &row, const std::string &dir);
testimg::RunResult run_windows(const Row &row, const std::string &dir);

// "" when the two outputs of one stream say the same, else both texts. Aside: the
// Windows run's CR before each LF, the program's own path (as each host names it), and
// the wording of a system error after "label: " where the Linux line ends in a C library
// error text.
std::string output_difference(Program program, const std::string &linux_text,
                              const std::string &windows_text);

// The differences between the files under two directories: names present in one only,
// kinds, sizes and contents byte for byte (sparse files by their data). Empty when equal.
std::vector<std::string> tree_differences(const std::string &linux_dir,
                                          const std::string &windows_dir);

} // namespace difftest
