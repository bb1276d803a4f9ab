#include "platform/win_console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/unicode.h"

namespace {

constexpr DWORD PIPE_BYTES = 1 << 16;
constexpr DWORD CONSOLE_UNITS = 8192; // per WriteConsoleW: old consoles take no more
constexpr DWORD DRAIN_MILLISECONDS = 5000;

struct Relay {
    HANDLE read_end = nullptr;
    HANDLE console = nullptr;  // the console the text goes to
    HANDLE thread = nullptr;
    int saved[3] = {-1, -1, -1}; // the console descriptors that 1 and 2 had, while relayed
};

Relay relay;

bool is_console(int fd)
{
    DWORD mode = 0;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode) != 0;
}

// Writes all of `text`; a console that is gone takes the rest as written.
void write_console(const std::u16string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const auto piece = static_cast<DWORD>(std::min<size_t>(text.size() - done, CONSOLE_UNITS));
        DWORD written = 0;
        if (!WriteConsoleW(relay.console, text.data() + done, piece, &written, nullptr) || written == 0)
            return;
        done += written;
    }
}

DWORD WINAPI relay_main(void *)
{
    UnicodeDecoder decoder;
    char bytes[8192];
    std::u16string text;
    DWORD got = 0;
    while (ReadFile(relay.read_end, bytes, sizeof bytes, &got, nullptr) && got > 0) {
        text.clear();
        unicode_decode_piece(&decoder, std::string_view(bytes, got), &text);
        write_console(text);
    }
    text.clear();
    unicode_decode_end(&decoder, &text);
    write_console(text);
    return 0;
}

// At exit: what the streams hold goes into the pipe, the descriptors get their consoles
// back (which closes the pipe's writing end), and the thread writes out the rest.
void relay_stop()
{
    fflush(stdout);
    fflush(stderr);
    for (int fd = 1; fd <= 2; ++fd) {
        if (relay.saved[fd] >= 0)
            _dup2(relay.saved[fd], fd);
    }
    WaitForSingleObject(relay.thread, DRAIN_MILLISECONDS);
    for (int fd = 1; fd <= 2; ++fd) {
        if (relay.saved[fd] >= 0)
            _close(relay.saved[fd]);
        relay.saved[fd] = -1;
    }
}

} // namespace

bool win_console_start()
{
    const bool stderr_console = is_console(2);
    bool consoles[3] = {false, is_console(1), stderr_console};
    if (!consoles[1] && !consoles[2])
        return false;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&relay.read_end, &write_end, nullptr, PIPE_BYTES))
        return stderr_console;
    // Text mode, as the console's descriptors had: the bytes stay what they were.
    const int pipe_fd = _open_osfhandle(reinterpret_cast<intptr_t>(write_end), _O_WRONLY | _O_TEXT);
    if (pipe_fd < 0) {
        CloseHandle(write_end);
        CloseHandle(relay.read_end);
        return stderr_console;
    }
    for (int fd = 1; fd <= 2; ++fd) {
        if (consoles[fd])
            relay.saved[fd] = _dup(fd);
        consoles[fd] = relay.saved[fd] >= 0;
    }
    if (consoles[1] || consoles[2]) {
        relay.console = reinterpret_cast<HANDLE>(_get_osfhandle(relay.saved[consoles[2] ? 2 : 1]));
        relay.thread = CreateThread(nullptr, 0, relay_main, nullptr, 0, nullptr);
    }
    if (relay.thread == nullptr) {
        for (int fd = 1; fd <= 2; ++fd) {
            if (relay.saved[fd] >= 0)
                _close(relay.saved[fd]);
            relay.saved[fd] = -1;
        }
        _close(pipe_fd);
        CloseHandle(relay.read_end);
        return stderr_console;
    }
    for (int fd = 1; fd <= 2; ++fd) {
        if (consoles[fd])
            _dup2(pipe_fd, fd);
    }
    _close(pipe_fd);
    atexit(relay_stop);
    return stderr_console;
}
