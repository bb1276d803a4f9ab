#include "common/progress.h"

#include <time.h>

#include <cstring>

#include "platform/process.h"

namespace {

int line_fd = -1; // --progress-fd

constexpr unsigned TIME_LEFT_LIMIT = 100 * 3600 - 1; // shown as 99:59:59 at most

// "999 B", "12.3 MB": decimal units, as the free space of the listing uses.
void format_size(char *text, size_t size, double bytes)
{
    static const char *const units[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
    unsigned unit = 0;
    while (bytes >= 999.95 && unit + 1 < sizeof units / sizeof units[0]) {
        bytes /= 1000;
        ++unit;
    }
    if (unit == 0)
        snprintf(text, size, "%u B", static_cast<unsigned>(bytes));
    else
        snprintf(text, size, "%.1f %s", bytes, units[unit]);
}

// "m:ss", or "h:mm:ss" from one hour on.
void format_duration(char *text, size_t size, double seconds)
{
    unsigned s = seconds >= TIME_LEFT_LIMIT ? TIME_LEFT_LIMIT : static_cast<unsigned>(seconds + 0.5);
    if (s >= 3600)
        snprintf(text, size, "%u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
    else
        snprintf(text, size, "%u:%02u", s / 60, s % 60);
}

void draw(Progress *progress, const char *line)
{
    size_t length = strlen(line);
    // Blanks cover what is left of a longer earlier line.
    int pad = progress->width > length ? static_cast<int>(progress->width - length) : 0;
    fprintf(progress->out, "\r%s%*s", line, pad, "");
    fflush(progress->out);
    progress->width = length > progress->width ? length : progress->width;
}

void send_line(const char *phase, uint64_t done, uint64_t total, const std::string &name)
{
    if (line_fd < 0)
        return;
    char numbers[64];
    snprintf(numbers, sizeof numbers, " %llu %llu ", static_cast<unsigned long long>(done),
             static_cast<unsigned long long>(total));
    std::string line = std::string(phase) + numbers;
    for (char c : name)
        line += static_cast<unsigned char>(c) < 0x20 || c == '\x7F' ? '?' : c;
    line += '\n';
    if (!platform_fd_write(line_fd, line.data(), line.size()))
        line_fd = -1;
}

void send_progress_line(Progress *progress, double now)
{
    send_line(progress->phase.c_str(), progress->done, progress->total, progress->name);
    progress->line_done = progress->done;
    progress->line_time = now;
}

// A line is due when a further hundredth of the copy is done, or a second has passed
// since the last line with something done since.
bool line_due(const Progress *progress, double now)
{
    if (progress->done == progress->line_done)
        return false;
    uint64_t total = progress->total;
    if (total > 0 && progress->done * 100 / total > progress->line_done * 100 / total)
        return true;
    return now - progress->line_time >= PROGRESS_LINE_INTERVAL;
}

} // namespace

void progress_set_fd(int fd)
{
    line_fd = fd < 0 ? -1 : fd;
}

void progress_report(const char *phase, uint64_t done, uint64_t total, const std::string &name)
{
    send_line(phase, done, total, name);
}

double progress_now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void progress_format(char *line, size_t size, uint64_t done, uint64_t total, double elapsed)
{
    char done_text[24], total_text[24];
    format_size(done_text, sizeof done_text, static_cast<double>(done));
    format_size(total_text, sizeof total_text, static_cast<double>(total));
    unsigned percent = total > 0 ? static_cast<unsigned>(done * 100.0 / total) : 100;
    int used = snprintf(line, size, "  %s of %s  %3u%%", done_text, total_text, percent);
    if (used < 0 || static_cast<size_t>(used) >= size || elapsed < PROGRESS_RATE_AFTER || done == 0)
        return;
    double rate = static_cast<double>(done) / elapsed;
    char rate_text[24], left_text[24];
    format_size(rate_text, sizeof rate_text, rate);
    format_duration(left_text, sizeof left_text, static_cast<double>(total - done) / rate);
    snprintf(line + used, size - static_cast<size_t>(used), "  %s/s  %s left", rate_text,
             left_text);
}

void progress_start_on(Progress *progress, uint64_t total, uint64_t unit, FILE *out,
                       bool terminal)
{
    *progress = Progress{};
    progress->active = terminal && out != nullptr && total > unit;
    progress->out = out;
    progress->total = total;
    progress->started = progress_now();
}

void progress_start(Progress *progress, uint64_t total, uint64_t unit)
{
    progress_start_on(progress, total, unit, stderr, platform_stderr_is_terminal());
}

void progress_start_named(Progress *progress, const char *phase, const std::string &name, uint64_t total,
                          uint64_t unit)
{
    progress_start(progress, total, unit);
    progress->phase = phase;
    progress->name = name;
    progress->lines = line_fd >= 0;
    if (progress->lines)
        send_progress_line(progress, progress->started);
}

void progress_update_at(Progress *progress, uint64_t done, double now)
{
    progress->done = done;
    if (progress->lines && line_due(progress, now))
        send_progress_line(progress, now);
    if (!progress->active || done >= progress->total)
        return;
    if (progress->last_drawn >= 0 && now - progress->last_drawn < PROGRESS_INTERVAL)
        return;
    char line[PROGRESS_LINE_SIZE];
    progress_format(line, sizeof line, done, progress->total, now - progress->started);
    draw(progress, line);
    progress->last_drawn = now;
}

void progress_update(Progress *progress, uint64_t done)
{
    if (progress->active || progress->lines)
        progress_update_at(progress, done, progress_now());
    else
        progress->done = done;
}

void progress_finish(Progress *progress)
{
    if (progress->lines && progress->done != progress->line_done)
        send_progress_line(progress, progress_now());
    progress->lines = false;
    if (progress->active && progress->width > 0) {
        fprintf(progress->out, "\r%*s\r", static_cast<int>(progress->width), "");
        fflush(progress->out);
    }
    progress->active = false;
    progress->width = 0;
}
