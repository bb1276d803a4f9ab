#include "differential.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "wine.h"

namespace difftest {

namespace {

namespace fs = std::filesystem;
using testimg::Bytes;

constexpr uint64_t GIB = uint64_t{1} << 30;

[[noreturn]] void fail(const std::string &what)
{
    throw std::runtime_error(what + ": " + strerror(errno));
}

void write_at(int fd, const Bytes &bytes, uint64_t position, const std::string &path)
{
    if (pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(position)) !=
        static_cast<ssize_t>(bytes.size()))
        fail(path);
}

std::string program_path(Program program)
{
    return program == Program::Reelhead ? testimg::reelhead_path() : testimg::diskwarden_path();
}

std::string windows_path(Program program)
{
    return testimg::windows_program_path(program == Program::Reelhead ? "reelhead"
                                                                       : "diskwarden");
}

std::vector<std::string> environment(const Row &row)
{
    std::vector<std::string> env = {"TZ=UTC0"};
    env.insert(env.end(), row.env.begin(), row.env.end());
    return env;
}

// The argument as bash expands it in `dir` (C locale: sorted bytewise; kept when nothing
// matches).
void shell_expand(const std::string &argument, const std::string &dir,
                  std::vector<std::string> *out)
{
    if (argument.find_first_of("*?[") == std::string::npos) {
        out->push_back(argument);
        return;
    }
    const std::string prefix = dir + "/";
    glob_t found{};
    if (glob((prefix + argument).c_str(), GLOB_NOCHECK, nullptr, &found) != 0) {
        out->push_back(argument);
        return;
    }
    for (size_t i = 0; i < found.gl_pathc; ++i)
        out->push_back(std::string(found.gl_pathv[i]).substr(prefix.size()));
    globfree(&found);
}

std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// How Wine shows a Unix path to a Windows program: drive Z:, backslashes.
std::string wine_form(const std::string &path)
{
    std::string windows = "Z:" + path;
    for (char &c : windows)
        c = c == '/' ? '\\' : c;
    return windows;
}

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool is_system_error_text(const std::string &text)
{
    for (int code = 1; code < 200; ++code)
        if (text == strerror(code))
            return true;
    return false;
}

// Equal, or the same "label: " before a C library error text on Linux and any text on
// Windows.
bool same_line(const std::string &linux_line, const std::string &windows_line)
{
    if (linux_line == windows_line)
        return true;
    const size_t colon = linux_line.rfind(": ");
    if (colon == std::string::npos || windows_line.size() <= colon + 2 ||
        windows_line.compare(0, colon + 2, linux_line, 0, colon + 2) != 0)
        return false;
    return is_system_error_text(linux_line.substr(colon + 2));
}

// Data segments of a file as SEEK_DATA/SEEK_HOLE show them.
std::vector<std::pair<uint64_t, uint64_t>> data_segments(int fd, uint64_t size)
{
    std::vector<std::pair<uint64_t, uint64_t>> segments;
    off_t position = 0;
    while (static_cast<uint64_t>(position) < size) {
        off_t data = lseek(fd, position, SEEK_DATA);
        if (data < 0)
            break;
        off_t hole = lseek(fd, data, SEEK_HOLE);
        if (hole < 0)
            hole = static_cast<off_t>(size);
        segments.emplace_back(data, hole);
        position = hole;
    }
    return segments;
}

// The first offset where the two files differ within [from, to), or `to`.
uint64_t first_difference(int a, int b, uint64_t from, uint64_t to)
{
    constexpr size_t CHUNK = 1 << 20;
    Bytes x(CHUNK), y(CHUNK);
    for (uint64_t at = from; at < to;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(CHUNK, to - at));
        if (pread(a, x.data(), want, static_cast<off_t>(at)) != static_cast<ssize_t>(want) ||
            pread(b, y.data(), want, static_cast<off_t>(at)) != static_cast<ssize_t>(want))
            return at;
        if (memcmp(x.data(), y.data(), want) != 0)
            for (size_t i = 0;; ++i)
                if (x[i] != y[i])
                    return at + i;
        at += want;
    }
    return to;
}

// "" when both files hold the same bytes, else where they differ.
std::string file_difference(const std::string &a_path, const std::string &b_path)
{
    const uint64_t size = fs::file_size(a_path);
    if (fs::file_size(b_path) != size)
        return "sizes " + std::to_string(size) + " and " + std::to_string(fs::file_size(b_path));
    int a = open(a_path.c_str(), O_RDONLY | O_CLOEXEC);
    int b = open(b_path.c_str(), O_RDONLY | O_CLOEXEC);
    std::string problem;
    if (a < 0 || b < 0) {
        problem = "cannot open";
    } else {
        // Holes read as zeros: when both files have the same holes, their data decides.
        auto segments = data_segments(a, size);
        if (segments != data_segments(b, size))
            segments = {{0, size}};
        for (auto [from, to] : segments) {
            uint64_t at = first_difference(a, b, from, to);
            if (at != to) {
                problem = "bytes differ from offset " + std::to_string(at);
                break;
            }
        }
    }
    if (a >= 0)
        close(a);
    if (b >= 0)
        close(b);
    return problem;
}

std::map<std::string, fs::file_type> tree(const std::string &dir)
{
    std::map<std::string, fs::file_type> entries;
    for (const auto &entry : fs::recursive_directory_iterator(dir))
        entries[fs::relative(entry.path(), dir).string()] = entry.symlink_status().type();
    return entries;
}

} // namespace

void PrintTo(const Row &row, std::ostream *out)
{
    *out << row.name;
}

InputFile bytes_file(const std::string &name, const Bytes &bytes)
{
    return {name, [bytes](const std::string &path) { testimg::write_host_file(path, bytes); }};
}

InputFile stream_file(const std::string &name, const tswriter::RecordingSpec &spec)
{
    return {name, [spec](const std::string &path) { tswriter::make_recording(spec).save(path); }};
}

InputFile large_stream_file(const std::string &name, unsigned seconds)
{
    return {name, [seconds](const std::string &path) {
                tswriter::RecordingSpec head_spec;
                head_spec.seconds = 1;
                const tswriter::TsWriter head = tswriter::make_recording(head_spec);
                // More than the converter's tail window of packets, so that the whole
                // search there reads packets, not the hole.
                tswriter::TsWriter tail;
                const unsigned ticks = 1500;
                for (unsigned tick = 1; tick <= ticks; ++tick) {
                    tail.pcr(head_spec.pcr_pid,
                             head_spec.first_pcr + uint64_t{seconds} * tswriter::PCR_HZ -
                                 uint64_t{ticks - tick} * (tswriter::PCR_HZ / 10));
                    tail.payload(head_spec.streams.front().pid, 3);
                }
                int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                if (fd < 0)
                    fail(path);
                write_at(fd, head.bytes(), 0, path);
                write_at(fd, tail.bytes(), 5 * GIB, path);
                close(fd);
            }};
}

InputFile image_file(const std::string &name, std::function<void(testimg::DiskImage &)> fill,
                     const testimg::ImageSpec &spec)
{
    return {name, [fill, spec](const std::string &path) {
                testimg::DiskImage image(path, spec);
                if (fill)
                    fill(image);
            }};
}

void make_inputs(const Row &row, const std::string &dir)
{
    for (const InputFile &file : row.files) {
        const fs::path path = fs::path(dir) / file.name;
        fs::create_directories(path.parent_path());
        file.make(path.string());
        const timespec times[2] = {{INPUT_MTIME, 0}, {INPUT_MTIME, 0}};
        if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
            fail(path.string());
    }
}

testimg::RunResult run_linux(const Row &row, const std::string &dir)
{
    std::vector<std::string> args;
    for (const std::string &argument : row.args)
        shell_expand(argument, dir, &args);
    return testimg::run_program(program_path(row.program), args, row.input, dir,
                                environment(row));
}

testimg::RunResult run_windows(const Row &row, const std::string &dir)
{
    return testimg::run_windows_program(windows_path(row.program), row.args, row.input, dir,
                                        environment(row));
}

std::string output_difference(Program program, const std::string &linux_text,
                              const std::string &windows_text)
{
    const std::string linux_norm = replace_all(linux_text, program_path(program), "PROGRAM");
    std::string windows_norm = replace_all(windows_text, "\r\n", "\n");
    windows_norm = replace_all(windows_norm, wine_form(windows_path(program)), "PROGRAM");
    windows_norm = replace_all(windows_norm, windows_path(program), "PROGRAM");
    const std::vector<std::string> l = split_lines(linux_norm), w = split_lines(windows_norm);
    bool same = l.size() == w.size() && (linux_norm.empty() || linux_norm.back() == '\n') ==
                                            (windows_norm.empty() || windows_norm.back() == '\n');
    for (size_t i = 0; same && i < l.size(); ++i)
        same = same_line(l[i], w[i]);
    if (same)
        return "";
    return "Linux:\n" + linux_norm + "\n---- Windows:\n" + windows_norm;
}

std::vector<std::string> tree_differences(const std::string &linux_dir,
                                          const std::string &windows_dir)
{
    std::vector<std::string> problems;
    const auto a = tree(linux_dir), b = tree(windows_dir);
    for (const auto &[name, type] : a) {
        auto other = b.find(name);
        if (other == b.end())
            problems.push_back(name + ": left by the Linux run only");
        else if (other->second != type)
            problems.push_back(name + ": of another kind");
        else if (type == fs::file_type::regular) {
            std::string problem = file_difference(linux_dir + "/" + name, windows_dir + "/" + name);
            if (!problem.empty())
                problems.push_back(name + ": " + problem);
        }
    }
    for (const auto &[name, type] : b)
        if (a.count(name) == 0)
            problems.push_back(name + ": left by the Windows run only");
    return problems;
}

} // namespace difftest
