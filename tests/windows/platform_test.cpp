// The Windows platform functions under Wine, through the probe program: 64-bit positions
// and binary mode of opened host files, the program's own wildcard expansion (with the
// Windows forms a Linux shell has no counterpart for), the existence probe, the console
// test of progress lines and text written to a console. And what only the programs
// themselves show: their long-path manifest, locks between two Windows runs, drive
// numbers, and a recording larger than 4 GiB put and got back byte for byte, with an
// interrupted copy that leaves nothing behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "differential.h"
#include "disk_fixture.h"
#include "wine.h"

namespace {

namespace fs = std::filesystem;

class WindowsPlatform : public ::testing::Test {
  protected:
    testimg::TempDir tmp;
    const std::string probe = testimg::windows_program_path("windows_probe");

    void SetUp() override
    {
        std::string missing = testimg::wine_unavailable_reason();
        if (missing.empty() && !fs::exists(probe))
            missing = probe + " is not built (make windows)";
        if (missing.empty())
            return;
        if (getenv("CI") != nullptr)
            FAIL() << missing; // CI has Wine and the Windows build: the tests must run
        GTEST_SKIP() << missing;
    }

    testimg::RunResult run(const std::vector<std::string> &args)
    {
        return testimg::run_windows_program(probe, args, "", tmp.path());
    }
};

// A Windows program run in the background under Wine, so that a second run can meet it:
// its standard input is a FIFO held open until finish() (a question waits meanwhile),
// its outputs go to files.
class BackgroundRun {
  public:
    BackgroundRun(const std::string &exe, const std::vector<std::string> &args, const std::string &cwd,
                  const testimg::TempDir &scratch)
        : fifo_(scratch.file("bg.in")), err_(scratch.file("bg.err"))
    {
        if (mkfifo(fifo_.c_str(), 0600) != 0)
            throw std::runtime_error("mkfifo " + fifo_);
        // Read and write: opening never waits for the reader, and end of input comes
        // only when this end is closed.
        writer_ = open(fifo_.c_str(), O_RDWR | O_CLOEXEC);
        std::vector<std::string> command = {"wine", exe};
        command.insert(command.end(), args.begin(), args.end());
        pid_ = fork();
        if (pid_ == 0)
            exec_wine(command, cwd);
    }
    ~BackgroundRun()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            testimg::wait_for_exit(pid_);
        }
        if (writer_ >= 0)
            close(writer_);
    }
    BackgroundRun(const BackgroundRun &) = delete;
    BackgroundRun &operator=(const BackgroundRun &) = delete;

    // What it has written to standard error so far.
    std::string err() const
    {
        if (!fs::exists(err_))
            return "";
        testimg::Bytes bytes = testimg::read_host_file(err_);
        return std::string(bytes.begin(), bytes.end());
    }
    void interrupt() const { kill(pid_, SIGINT); }

    // Writes `answer`, ends the input and waits for the end; the exit status (Wine's
    // for a run ended by a signal is not Windows').
    int finish(const std::string &answer = "")
    {
        if (!answer.empty() && write(writer_, answer.data(), answer.size()) < 0)
            ADD_FAILURE() << "answer not written";
        close(writer_);
        writer_ = -1;
        int status = testimg::wait_for_exit(pid_);
        pid_ = -1;
        return status;
    }

  private:
    std::string fifo_, err_;
    int writer_ = -1;
    pid_t pid_ = -1;

    [[noreturn]] void exec_wine(std::vector<std::string> command, const std::string &cwd)
    {
        for (const std::string &entry : testimg::wine_environment()) {
            size_t equals = entry.find('=');
            if (equals == std::string::npos)
                unsetenv(entry.c_str());
            else
                setenv(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1, 1);
        }
        setenv("TZ", "UTC0", 1);
        int in = open(fifo_.c_str(), O_RDONLY);
        int out = open("/dev/null", O_WRONLY);
        int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            chdir(cwd.c_str()) != 0)
            _exit(127);
        std::vector<char *> argv;
        for (std::string &word : command)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        execvp("wine", argv.data());
        _exit(127);
    }
};

// Waits up to a minute for `ready`; false when it never came.
bool eventually(const std::function<bool()> &ready)
{
    for (int i = 0; i < 600; ++i) {
        if (ready())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

std::string without_cr(std::string text)
{
    std::erase(text, '\r');
    return text;
}

class WindowsDiskwarden : public WindowsPlatform {
  protected:
    const std::string exe = testimg::windows_program_path("diskwarden");

    void SetUp() override
    {
        WindowsPlatform::SetUp();
        if (!IsSkipped() && !HasFatalFailure() && !fs::exists(exe))
            FAIL() << exe << " is not built (make windows)";
    }

    testimg::RunResult diskwarden(const std::vector<std::string> &args, const std::string &input = "",
                                  const std::string &cwd = "")
    {
        testimg::RunResult r =
            testimg::run_windows_program(exe, args, input, cwd.empty() ? tmp.path() : cwd, {"TZ=UTC0"});
        r.out = without_cr(r.out);
        r.err = without_cr(r.err);
        return r;
    }

    void make_disk()
    {
        testimg::DiskImage image(tmp.file("disk.img"), testimg::fixture_spec());
        testimg::write_recordings(image, {testimg::full_recording(2, "News"), testimg::full_recording(3, "Film")});
    }
};

TEST_F(WindowsPlatform, SeeksPast4GiBAndReadsBytesAsTheyAre)
{
    const uint64_t five_gib = uint64_t{5} << 30;
    const int fd = open(tmp.file("sparse.ts").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const uint8_t marker[8] = {0x0D, 0x0A, 0x1A, 0x47, 0x00, 0x0A, 0xFF, 0x0D};
    ASSERT_EQ(pwrite(fd, marker, sizeof marker, static_cast<off_t>(five_gib + 3)), 8);
    close(fd);

    testimg::RunResult result = run({"read", "sparse.ts", std::to_string(five_gib + 3)});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "5368709123 0d 0a 1a 47 00 0a ff 0d\r\n");
    result = run({"read", "sparse.ts", std::to_string(five_gib + 1)});
    EXPECT_EQ(result.out, "5368709121 00 00 0d 0a 1a 47 00 0a\r\n");
}

TEST_F(WindowsPlatform, ExpandsWildcardArgumentsItself)
{
    for (const char *name : {"a.ts", "b.ts", "x.TS", ".h.ts", "sub/c.ts", "sub/cd.ts", "[ab].ts"}) {
        fs::create_directories(fs::path(tmp.file(name)).parent_path());
        testimg::write_host_file(tmp.file(name), {1});
    }
    const testimg::RunResult result =
        run({"args", "-h", "*.ts", "sub\\?.ts", "sub/c*", "*.none", ".*", "[ab].ts", "--"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "-h\r\n"
                          "[ab].ts\r\na.ts\r\nb.ts\r\nx.TS\r\n" // case-insensitive, bytewise
                          "sub\\c.ts\r\n"
                          "sub/c.ts\r\nsub/cd.ts\r\n"
                          "*.none\r\n"  // nothing matches: kept as the shell keeps it
                          ".h.ts\r\n"   // dot names only for a pattern with a dot first
                          "[ab].ts\r\n" // brackets are no wildcard on Windows
                          "--\r\n");
}

TEST_F(WindowsPlatform, ProbesPathsWithoutOpeningThem)
{
    testimg::write_host_file(tmp.file("here.hre"), {});
    fs::create_directory(tmp.file("dir.hre"));
    EXPECT_EQ(run({"taken", "here.hre"}).out, "taken\r\n");
    EXPECT_EQ(run({"taken", "dir.hre"}).out, "taken\r\n");
    EXPECT_EQ(run({"taken", "missing.hre"}).out, "free\r\n");
}

TEST_F(WindowsPlatform, ProgressLinesOnlyOnAConsole)
{
    // The NUL device (here /dev/null) is a terminal to the C library's isatty; a pipe and a
    // file are not. None is a console.
    for (const char *redirect : {"2>/dev/null", "2>&1 >\"$OUT\" | cat", "2>\"$OUT.err\""}) {
        const std::string command = "wine \"$0\" console >\"$OUT\" " + std::string(redirect);
        std::vector<std::string> env = testimg::wine_environment();
        env.push_back("OUT=" + tmp.file("out"));
        const testimg::RunResult r = testimg::run_program("/bin/sh", {"-c", command, probe}, "", tmp.path(), env);
        EXPECT_EQ(r.status, 0) << redirect;
        const testimg::Bytes said = testimg::read_host_file(tmp.file("out"));
        EXPECT_EQ(std::string(said.begin(), said.end()), "no console\r\n") << redirect;
    }
}

// The text a terminal shows for what was written to it: the cursor's movements to the
// right (Wine's console skips blanks that way) as spaces, other control sequences and
// carriage returns left out.
std::string terminal_text(const std::string &written)
{
    std::string text;
    for (size_t i = 0; i < written.size(); ++i) {
        if (written[i] == '\r')
            continue;
        if (written[i] != '\x1b' || i + 1 >= written.size() || written[i + 1] != '[') {
            text += written[i];
            continue;
        }
        size_t end = written.find_first_of("ABCDEFGHJKSTfhlmnsu", i + 2);
        if (end == std::string::npos)
            break;
        if (written[end] == 'C') {
            const std::string count = written.substr(i + 2, end - i - 2);
            text.append(count.empty() ? 1 : static_cast<size_t>(std::stoul(count)), ' ');
        }
        i = end;
    }
    return text;
}

// Wine gives a program run on a terminal a console, which it shows on the terminal in
// the locale's character set; the console's own code page there is 437, in which UTF-8
// bytes written as they are would come out garbled. Progress lines still see a console.
TEST_F(WindowsPlatform, ConsoleShowsUtf8NamesAndLatin1DiskText)
{
    const std::string script = testimg::find_on_path("script");
    if (script.empty())
        GTEST_SKIP() << "script (util-linux) is not installed";
    const std::string name = "Фильм 映画";
    std::vector<std::string> env = testimg::wine_environment();
    env.insert(env.end(), {"LC_ALL=C.UTF-8", "PROBE=" + probe, "NAME=" + name});
    // Wine's console host sometimes ends before it has drawn anything when Wine starts
    // beside other Wine runs; a run that drew nothing at all is tried again.
    const auto on_terminal = [&](const std::string &command) {
        std::string text;
        for (int attempt = 0; attempt < 3 && text.empty(); ++attempt) {
            const testimg::RunResult r = testimg::run_program(
                script, {"-qec", "wine \"$PROBE\" " + command, "/dev/null"}, "", tmp.path(), env);
            EXPECT_EQ(r.status, 0) << r.err;
            text = terminal_text(r.out);
        }
        return text;
    };
    const std::string said = on_terminal("say \"$NAME\"");
    EXPECT_THAT(said, ::testing::HasSubstr(name + " Café\n")) << said;
    EXPECT_THAT(said, ::testing::HasSubstr(name + "\n")) << said;
    EXPECT_EQ(on_terminal("console"), "console\n");
}

TEST_F(WindowsDiskwarden, WritersExcludeEveryoneAndReadersShareBetweenWindowsRuns)
{
    make_disk();
    const testimg::Bytes before = testimg::read_host_file(tmp.file("disk.img"));
    const std::string in_use = "disk.img is in use by another process\n";
    {
        // A delete waiting at its question holds the disk exclusively.
        BackgroundRun writer(exe, {"-d", "1", "disk.img"}, tmp.path(), tmp);
        ASSERT_TRUE(eventually([&] { return writer.err().find("[no]: ") != std::string::npos; }));
        testimg::RunResult reader = diskwarden({"-l", "disk.img"});
        EXPECT_EQ(reader.status, 1);
        EXPECT_EQ(reader.err, in_use);
        writer.finish("no\n");
    }
    fs::remove(tmp.file("bg.in"));
    {
        // A get waiting before it replaces a host file holds the disk shared.
        testimg::write_host_file(tmp.file("20130526 2100 News.ts"), {1});
        BackgroundRun reader(exe, {"-g", "1", "disk.img"}, tmp.path(), tmp);
        ASSERT_TRUE(eventually([&] { return reader.err().find("overwrite? [no]: ") != std::string::npos; }));
        EXPECT_EQ(diskwarden({"-l", "disk.img"}).status, 0);
        testimg::RunResult writer = diskwarden({"-y", "-d", "2", "disk.img"});
        EXPECT_EQ(writer.status, 1);
        EXPECT_EQ(writer.err, in_use);
        reader.finish("no\n");
    }
    EXPECT_EQ(testimg::read_host_file(tmp.file("disk.img")), before);
    // Released when the runs end.
    EXPECT_EQ(diskwarden({"-y", "-d", "2", "disk.img"}).status, 0);
}

// Without the manifest's longPathAware, Windows holds the wide calls to MAX_PATH unless a
// path is in extended form (which Wine does not): the programs must carry it.
TEST_F(WindowsDiskwarden, ProgramsCarryTheLongPathManifest)
{
    for (const std::string &program : {exe, testimg::windows_program_path("reelhead")}) {
        const testimg::Bytes bytes = testimg::read_host_file(program);
        const std::string text(bytes.begin(), bytes.end());
        EXPECT_THAT(text, ::testing::HasSubstr("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                                               "WindowsSettings\">true</longPathAware>"))
            << program;
    }
}

TEST_F(WindowsDiskwarden, DriveNumbersNamePhysicalDrives)
{
    // No drive 9 here: the open fails, and the message names the path "9:" stands for.
    const testimg::RunResult r = diskwarden({"-l", "9:"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, ::testing::StartsWith("\\\\.\\PhysicalDrive9: ")) << r.err;

    // The other spelling names the same drive (it was taken for an image and refused as
    // "in use by another process"). Wine has a drive 0 where it finds a disk of the host.
    const testimg::RunResult same = diskwarden({"-y", "-g", "1", "\\\\?\\PhysicalDrive0", "0:"});
    if (same.err.find("No such file") != std::string::npos)
        GTEST_SKIP() << "Wine has no drive 0 here";
    EXPECT_EQ(same.err, "\\\\?\\PhysicalDrive0 and \\\\.\\PhysicalDrive0 are the same disk: copying a disk "
                        "onto itself is refused\n");
    EXPECT_EQ(same.status, 1);
}

// A recording of 4 GiB and 1 MiB and a few bytes, sparse on the host: data at its start,
// past 1 GiB, across the 4 GiB line and at its end, holes between.
void write_large_stream(const std::string &path, uint64_t size)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const uint64_t tail = (1 << 20) + 13;
    const std::pair<uint64_t, uint64_t> pieces[] = {
        {0, 65536}, {(uint64_t{1} << 30) + 3, 65536}, {(uint64_t{4} << 30) - 32768, 65536}, {size - tail, tail}};
    uint32_t seed = 1;
    for (auto [at, length] : pieces) {
        const testimg::Bytes data = testimg::pattern_bytes(static_cast<size_t>(length), seed++);
        ASSERT_EQ(pwrite(fd, data.data(), data.size(), static_cast<off_t>(at)), static_cast<ssize_t>(data.size()));
    }
    close(fd);
    ASSERT_EQ(fs::file_size(path), size);
}

TEST_F(WindowsDiskwarden, RecordingLargerThan4GiBGoesOnAndComesBackByteForByte)
{
#ifdef DW_SANITIZED
    GTEST_SKIP() << "the same Windows program as in the plain build's run: 16 GiB of I/O once is enough";
#endif
    testimg::ImageSpec spec = testimg::default_spec();
    spec.partitions[0].cluster_sectors = 2048; // 1 MiB clusters
    spec.partitions[0].cluster_count = 4200;
    {
        testimg::DiskImage image(tmp.file("big.img"), spec);
        testimg::write_recordings(image, {testimg::full_recording(2, "Small", 5000)});
    }
    const uint64_t size = (uint64_t{4} << 30) + (1 << 20) + 13;
    write_large_stream(tmp.file("large.ts"), size);
    testimg::write_host_file(tmp.file("large.hre"),
                             testimg::make_entry(304, 0, testimg::SUNDAY_2100, testimg::SUNDAY_2100 + 7200, "Large"));
    testimg::RunResult put = diskwarden({"-y", "-p", "large.ts", "big.img"});
    ASSERT_EQ(put.status, 0) << put.err;
    EXPECT_THAT(testimg::check_image(tmp.file("big.img"), 304), ::testing::IsEmpty());

    // Ended from outside half-way (SIGINT: what Wine makes of it without a console), the
    // copy leaves no file behind, neither its temporary nor the final name.
    const std::string got = tmp.file("got");
    fs::create_directory(got);
    {
        BackgroundRun get(exe, {"-g", "2", "../big.img"}, got, tmp);
        ASSERT_TRUE(eventually([&] { return !fs::is_empty(got); }));
        get.interrupt();
        get.finish();
    }
    EXPECT_TRUE(fs::is_empty(got)) << fs::directory_iterator(got)->path();

    testimg::RunResult get = diskwarden({"-g", "2", "../big.img"}, "", got);
    ASSERT_EQ(get.status, 0) << get.err;
    const std::string stream = got + "/20130526 2100 Large.ts";
    ASSERT_TRUE(fs::exists(stream)) << get.out;
    EXPECT_EQ(difftest::file_difference(tmp.file("large.ts"), stream), "");
    EXPECT_THAT(get.err, ::testing::Not(::testing::HasSubstr("%"))) << "a progress line in a file";
}

} // namespace
