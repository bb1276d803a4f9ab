#pragma once
// A one-line progress display for long copies, on standard error, only when standard
// error is a terminal: bytes done and total, percentage, rate and time left, redrawn in
// place with a carriage return at most PROGRESS_INTERVAL seconds apart, and blanked when
// the copy is done. When the output is not a terminal, or the file fits in one transfer
// unit, nothing at all is written, so logs and scripts see only the program's messages.
//
// Besides, for front-ends (--progress-fd N, as e2fsck's -C fd), whatever the terminal:
// lines "PHASE DONE TOTAL NAME\n" on a descriptor, in bytes, for every file copied (the
// first with DONE 0, the last with DONE equal to TOTAL, between them one whenever a
// further hundredth is done or a second has passed), for the carver's scan, and for the
// stages of a check. PHASE is one word ("get", "put", "copy", "carve", "check", "save");
// NAME runs to the end of the line, with every control byte in it written as '?'.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

constexpr double PROGRESS_INTERVAL = 0.25; // seconds between redraws
constexpr double PROGRESS_RATE_AFTER = 0.5; // seconds of copying before a rate is shown
constexpr size_t PROGRESS_LINE_SIZE = 96;

constexpr double PROGRESS_LINE_INTERVAL = 1.0; // seconds after which a line is due anyway

struct Progress {
    bool active = false;    // drawing at all (a terminal, and more than one unit to copy)
    FILE *out = nullptr;
    uint64_t total = 0;
    double started = 0;     // monotonic seconds
    double last_drawn = -1; // monotonic seconds of the last redraw; -1 before the first
    size_t width = 0;       // characters of the line now on the screen
    // The lines for a front-end (when a descriptor is set).
    std::string phase;
    std::string name;
    uint64_t done = 0;          // the latest count reported
    uint64_t line_done = 0;     // DONE of the last line sent
    double line_time = 0;       // monotonic seconds of the last line sent
    bool lines = false;         // sending lines for this copy
};

// Sends the lines for front-ends to descriptor `fd` from now on (a negative `fd`: none).
// A descriptor that fails a write gets no further lines; the copy goes on.
void progress_set_fd(int fd);

// One line "PHASE DONE TOTAL NAME" on the descriptor, if one is set (for work that is
// reported in stages rather than as a copy).
void progress_report(const char *phase, uint64_t done, uint64_t total, const std::string &name);

// Begins the display of a copy as progress_start does, and names it for the lines of a
// front-end: PHASE and NAME (the file written or read).
void progress_start_named(Progress *progress, const char *phase, const std::string &name, uint64_t total,
                          uint64_t unit);

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
// complete, and the first redraw or PROGRESS_INTERVAL since the last one has come; sends
// a front-end's line when one is due.
void progress_update(Progress *progress, uint64_t done);

// The same at the monotonic time `now` (for tests).
void progress_update_at(Progress *progress, uint64_t done, double now);

// Blanks the line if one was drawn (the cursor ends at the start of that line), sends the
// front-end its last line of the copy, and ends the display. Safe to call for an inactive
// display and more than once.
void progress_finish(Progress *progress);

// The text of the line without carriage return: "  done of total  pct%" and, once
// `elapsed` reaches PROGRESS_RATE_AFTER with bytes done, "  rate/s  time left". Sizes
// in decimal units (kB = 1000 bytes). Cut to fit `size` (at least 1).
void progress_format(char *line, size_t size, uint64_t done, uint64_t total, double elapsed);
