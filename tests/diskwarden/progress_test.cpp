// The progress line of long copies, end to end: absent when standard error is a pipe;
// under a pseudo-terminal drawn with carriage returns and blanked again, so that what the
// terminal finally shows is exactly the messages of a run without a terminal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "disk_fixture.h"

namespace {

namespace fs = std::filesystem;
using testimg::Bytes;
using testimg::DiskImage;
using testimg::RunResult;
using testing::HasSubstr;
using testing::Not;

using testimg::SUNDAY_2100;

// Larger than the biggest transfer of any copy (4 MiB), so that a partial copy is reported.
constexpr size_t STREAM_SIZE = 6'000'000;
const std::string COPY_ALL =
    "Copying av file...\nCopying elu file...\nCopying epg file...\nCopying hre file...\n";

[[noreturn]] void fail(const std::string &what)
{
    throw std::runtime_error(what + ": " + strerror(errno));
}

// Runs `program` with standard error on a fresh pseudo-terminal in raw mode (so that the
// bytes arrive as written), standard input and output on /dev/null. Returns the exit
// status and everything written to the terminal.
RunResult run_on_terminal(const std::string &program, const std::vector<std::string> &args,
                          const std::string &cwd)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        fail("pseudo-terminal");
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode{};
    if (slave < 0 || tcgetattr(slave, &mode) != 0)
        fail("terminal side");
    cfmakeraw(&mode);
    tcsetattr(slave, TCSANOW, &mode);

    std::vector<std::string> strings{program};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    pid_t child = fork();
    if (child < 0)
        fail("fork");
    if (child == 0) {
        int null = open("/dev/null", O_RDWR);
        if (null < 0 || chdir(cwd.c_str()) != 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 ||
            dup2(slave, 2) < 0)
            _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(slave);
    RunResult result;
    // Reading ends when the last holder of the terminal side has closed it (EIO).
    for (int waited = 0;;) {
        pollfd ready{master, POLLIN, 0};
        int n = poll(&ready, 1, 1000);
        if (n == 0 && ++waited > 120) {
            kill(child, SIGKILL);
            result.err += "\n[killed after 120 s]\n";
            break;
        }
        if (n <= 0)
            continue;
        char buffer[4096];
        ssize_t got = read(master, buffer, sizeof buffer);
        if (got > 0)
            result.err.append(buffer, static_cast<size_t>(got));
        else if (got == 0 || errno != EINTR)
            break;
    }
    close(master);
    result.status = testimg::wait_for_exit(child);
    return result;
}

// What a terminal shows after `raw`: a carriage return goes back to the start of the
// line and later characters overwrite earlier ones; trailing blanks are not visible.
std::string screen(const std::string &raw)
{
    std::string shown, line;
    size_t column = 0;
    auto end_line = [&] {
        line.erase(line.find_last_not_of(' ') + 1);
        shown += line;
        line.clear();
        column = 0;
    };
    for (char c : raw) {
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            end_line();
            shown += '\n';
        } else {
            if (column < line.size())
                line[column] = c;
            else
                line += c;
            ++column;
        }
    }
    end_line();
    return shown;
}

// Disks with a recordings partition of 32 MiB in clusters of 32 KiB.
class Progress : public testimg::DiskFixture {
  protected:
    std::string other = dir.file("other.img");

    void SetUp() override
    {
        DiskFixture::SetUp();
        add_image(other);
    }

    // One recording, file number 5, with a stream of several clusters and one-cluster
    // companions.
    void make_disk_with_recording()
    {
        make_disk({{.file_number = 5, .title = "Film", .av = testimg::pattern_bytes(STREAM_SIZE, 5),
                    .elu = testimg::pattern_bytes(777, 6),
                    .epg = testimg::make_epg({{SUNDAY_2100, 5400, "Film", "About it"}}, 332),
                    .placement = testimg::Placement::Fragmented, .start = SUNDAY_2100}});
    }

    void fresh_host()
    {
        fs::remove_all(host);
        fs::create_directory(host);
    }

    // The same command on the same starting state, once with standard error on a pipe and
    // once on a terminal. The terminal's final picture must equal the pipe's bytes, and
    // the terminal must have seen a progress line drawn over with a carriage return.
    void expect_progress_only_on_terminal(const std::function<void()> &prepare,
                                          const std::vector<std::string> &args)
    {
        prepare();
        RunResult piped = run(args, "", {});
        prepare();
        RunResult shown = run_on_terminal(testimg::diskwarden_path(), args, host);
        expect_consistent();
        EXPECT_EQ(piped.status, 0) << piped.err;
        EXPECT_EQ(shown.status, 0) << shown.err;
        EXPECT_THAT(piped.err, Not(HasSubstr("\r")));
        EXPECT_THAT(shown.err, testing::ContainsRegex("\r  [0-9.]+ [kM]B of [0-9.]+ MB +[0-9]+%"));
        // Blanked before the next message: the last progress write is blanks, then \r.
        EXPECT_THAT(shown.err, testing::ContainsRegex("\r +\r[^\r ]"));
        EXPECT_EQ(screen(shown.err), piped.err);
    }
};

TEST_F(Progress, GetWithoutTerminalPrintsOnlyItsMessages)
{
    make_disk_with_recording();
    RunResult r = run({"-g", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, COPY_ALL);
    EXPECT_EQ(testimg::read_host_file(host + "/20130526 2100 Film.ts"),
              testimg::pattern_bytes(STREAM_SIZE, 5));
}

TEST_F(Progress, GetOnATerminalDrawsTheLineForTheStreamOnly)
{
    make_disk_with_recording();
    RunResult r = run_on_terminal(testimg::diskwarden_path(), {"-g", "1", path}, host);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(screen(r.err), COPY_ALL);
    // The stream (many clusters) has its line; the one-cluster companions have none.
    size_t stream = r.err.find("Copying av file...\n");
    size_t companion = r.err.find("Copying elu file...\n");
    ASSERT_NE(stream, std::string::npos);
    ASSERT_NE(companion, std::string::npos);
    EXPECT_THAT(r.err.substr(stream, companion - stream),
                testing::ContainsRegex("^Copying av file...\n\r  [0-9.]+ [kM]B of 6\\.0 MB  "));
    EXPECT_EQ(r.err.substr(companion), "Copying elu file...\nCopying epg file...\nCopying hre file...\n");
    EXPECT_EQ(testimg::read_host_file(host + "/20130526 2100 Film.ts"),
              testimg::pattern_bytes(STREAM_SIZE, 5));
}

TEST_F(Progress, BackupAndRecoveryGet)
{
    auto prepare = [&] {
        fresh_host();
        make_disk_with_recording();
    };
    expect_progress_only_on_terminal(prepare, {"-b", path});
    expect_progress_only_on_terminal(prepare, {"-r", "-g", "1", path});
}

TEST_F(Progress, Put)
{
    testimg::write_host_file(host + "/rec.ts", testimg::pattern_bytes(STREAM_SIZE, 9));
    testimg::write_host_file(host + "/rec.hre",
                             testimg::make_entry(record_length, 0, SUNDAY_2100, SUNDAY_2100 + 60, "Put"));
    expect_progress_only_on_terminal([&] { DiskImage(path, testimg::fixture_spec()); },
                                     {"-y", "-p", "rec.ts", path});
    EXPECT_EQ(DiskImage(path).read_file(0, "2.av"), testimg::pattern_bytes(STREAM_SIZE, 9));
}

TEST_F(Progress, DiskToDiskCopy)
{
    auto prepare = [&] {
        make_disk_with_recording();
        DiskImage(other, testimg::fixture_spec());
    };
    expect_progress_only_on_terminal(prepare, {"-y", "-g", "1", path, other});
    EXPECT_EQ(DiskImage(other).read_file(0, "2.av"), testimg::pattern_bytes(STREAM_SIZE, 5));
}

} // namespace
