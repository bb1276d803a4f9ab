// Recording lists ("10-20,30,41-42") and command lines of diskwarden.
//
// Input: one byte choosing what the rest is: even, a recording list given to the parser
// and walked; odd, the arguments of a command line separated by NUL bytes, parsed as the
// program parses its own (options, disk paths, -O and -V numbers; -h and -v print).
#include <getopt.h>

#include <string>
#include <vector>

#include "diskwarden/driver.h"
#include "diskwarden/recset.h"
#include "fuzz_support.h"

namespace {

int count_number(HumaxDisk *, int number)
{
    // Unsigned: the walk hands over numbers up to INT32_MAX, and their sum may wrap.
    static volatile unsigned sum;
    sum = sum + static_cast<unsigned>(number);
    return 0;
}

void parse_list(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    recset_for_each(text, nullptr, count_number);
}

void parse_command_line(const uint8_t *data, size_t size)
{
    std::vector<std::string> args{"diskwarden"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    args.push_back(current);
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    optind = 0; // a fresh scan, as at the start of a process
    opterr = 1;
    CommandRequest request;
    cmd_parse(static_cast<int>(args.size()), argv.data(), &request);
    cmd_source_writes(request);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 4096)
        return 0;
    fuzz::begin_input();
    try {
        if (data[0] % 2 == 0)
            parse_list(data + 1, size - 1);
        else
            parse_command_line(data + 1, size - 1);
    } catch (const fuzz::ProgramExit &) {
    }
    return 0;
}
