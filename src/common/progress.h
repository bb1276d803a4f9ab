#pragma once
// A one-line progress display for long copies, on standard error, only when standard
// error is a terminal: bytes done and total, percentage, rate and time left, redrawn in
// place with a carriage return at most PROGRESS_INTERVAL seconds apart, and blanked when
// the copy is done. When the output is not a terminal, or the file fits in one transfer
// unit, nothing at all is written, so logs and scripts see only the program's messages.
#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr double PROGRESS_INTERVAL = 0.25; // seconds between redraws
constexpr double PROGRESS_RATE_AFTER = 0.5; // seconds of copying before a rate is shown
constexpr size_t PROGRESS_LINE_SIZE = 96;

struct Progress {
    bool active = false;    // drawing at all (a terminal, and more than one unit to copy)
    FILE *out = nullptr;
    uint64_t total = 0;
    double started = 0;     // monotonic seconds
    double last_drawn = -1; // monotonic seconds of the last redraw; -1 before the first
    size_t width = 0;       // characters of the line now on the screen
};

// Seconds from the monotonic clock.
double progress_now();

// Begins the display of a copy of `total` bytes moved in pieces of at least `unit` bytes
// (a cluster) on standard error, active only when it is a terminal (a console on
// Windows: never a pipe or a file) and total > unit.
void progress_start(Progress *progress, uint64_t total, uint64_t unit);

// The same on `out`, with `terminal` in place of asking the system (for tests).
void progress_start_on(Progress *progress, uint64_t total, uint64_t unit, FILE *out,
                       bool terminal);

// Reports `done` bytes copied. Draws when the display is active, the copy is not yet
// complete, and the first redraw or PROGRESS_INTERVAL since the last one has come.
void progress_update(Progress *progress, uint64_t done);

// The same at the monotonic time `now` (for tests).
void progress_update_at(Progress *progress, uint64_t done, double now);

// Blanks the line if one was drawn (the cursor ends at the start of that line) and ends
// the display. Safe to call for an inactive display and more than once.
void progress_finish(Progress *progress);

// The text of the line without carriage return: "  done of total  pct%" and, once
// `elapsed` reaches PROGRESS_RATE_AFTER with bytes done, "  rate/s  time left". Sizes
// in decimal units (kB = 1000 bytes). Cut to fit `size` (at least 1).
void progress_format(char *line, size_t size, uint64_t done, uint64_t total, double elapsed);
