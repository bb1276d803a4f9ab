// A Windows program for the tests of the platform layer under Wine: it does one thing of
// the platform functions and prints what came out, on standard output.
//   windows_probe args ARG...        the arguments after platform_start, one a line
//   windows_probe read FILE OFFSET   the position lseek gave for OFFSET, then the next
//                                    8 bytes in hex (file opened by host_open_read_at)
//   windows_probe taken PATH         "taken" or "free" (host_exists)
//   windows_probe console            "console" or "no console": whether progress lines
//                                    would be drawn on standard error
//   windows_probe say TEXT           TEXT on standard output, then TEXT and "Caf\xE9"
//                                    (a Latin-1 title's bytes) on standard error
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/host_file.h"
#include "platform/process.h"

namespace {

int read_at(const char *path, const char *offset_text)
{
    const int fd = host_open_read_at(HOST_CWD, path);
    if (fd < 0) {
        perror(path);
        return 1;
    }
    const off_t position = lseek(fd, static_cast<off_t>(strtoll(offset_text, nullptr, 10)), SEEK_SET);
    unsigned char bytes[8] = {};
    const ssize_t got = read(fd, bytes, sizeof bytes);
    printf("%" PRId64 "", static_cast<int64_t>(position));
    for (ssize_t i = 0; i < got; ++i)
        printf(" %02x", bytes[i]);
    printf("\n");
    close(fd);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    platform_start(&argc, &argv, ArgumentWildcards::Expand);
    if (argc >= 2 && strcmp(argv[1], "args") == 0) {
        for (int i = 2; i < argc; ++i)
            printf("%s\n", argv[i]);
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "read") == 0)
        return read_at(argv[2], argv[3]);
    if (argc == 3 && strcmp(argv[1], "taken") == 0) {
        printf("%s\n", host_exists(argv[2]) ? "taken" : "free");
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "console") == 0) {
        printf("%s\n", platform_stderr_is_terminal() ? "console" : "no console");
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "say") == 0) {
        printf("%s\n", argv[2]);
        fprintf(stderr, "%s Caf\xE9\n", argv[2]);
        return 0;
    }
    fprintf(stderr, "usage: windows_probe args ARG... | read FILE OFFSET | taken PATH | console | say TEXT\n");
    return 2;
}
