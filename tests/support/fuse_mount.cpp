#include "fuse_mount.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "disk_image.h"

namespace testimg {

namespace {

using Clock = std::chrono::steady_clock;

bool program_in_path(const char *name)
{
    const char *path = getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (access((dir + "/" + name).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

void run_quietly(const std::vector<std::string> &command)
{
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char *> argv;
        for (const std::string &a : command)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (child > 0)
        wait_for_exit(child);
}

} // namespace

bool fuse_available(std::string *why)
{
    int fd = open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        *why = std::string("/dev/fuse cannot be opened: ") + strerror(errno);
        return false;
    }
    close(fd);
    if (!program_in_path("fusermount3")) {
        *why = "fusermount3 is not installed (Debian: fuse3)";
        return false;
    }
    return true;
}

bool is_mounted(const std::string &mountpoint)
{
    std::ifstream info("/proc/self/mountinfo");
    for (std::string line; std::getline(info, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        fields >> id >> parent >> device >> root >> point;
        if (point == mountpoint)
            return true;
    }
    return false;
}

FuseDaemon::FuseDaemon(const std::string &program, const std::vector<std::string> &args,
                       const std::string &mountpoint, const std::string &log_path,
                       const std::vector<std::string> &env)
    : mountpoint_(mountpoint), log_path_(log_path)
{
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        setpgid(0, 0);
        int null = open("/dev/null", O_RDONLY);
        int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (null < 0 || log < 0)
            _exit(127);
        dup2(null, 0);
        dup2(log, 1);
        dup2(log, 2);
        for (const std::string &change : env) {
            size_t equals = change.find('=');
            if (equals == std::string::npos)
                unsetenv(change.c_str());
            else
                setenv(change.substr(0, equals).c_str(), change.c_str() + equals + 1, 1);
        }
        std::vector<char *> argv{const_cast<char *>(program.c_str())};
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        perror(program.c_str());
        _exit(127);
    }
    setpgid(pid_, pid_); // also from here, so that the group exists before any kill
}

FuseDaemon::~FuseDaemon()
{
    if (is_mounted(mountpoint_)) {
        run_quietly({"fusermount3", "-u", mountpoint_});
        if (is_mounted(mountpoint_))
            run_quietly({"fusermount3", "-uz", mountpoint_});
    }
    if (running()) {
        kill(-pid_, SIGKILL);
        reap(true);
    }
}

bool FuseDaemon::reap(bool block)
{
    if (!running())
        return true;
    int status = 0;
    pid_t got;
    while ((got = waitpid(pid_, &status, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    if (got != pid_)
        return false;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

bool FuseDaemon::wait_mounted(double seconds)
{
    auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < deadline) {
        if (is_mounted(mountpoint_))
            return true;
        if (reap(false))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int FuseDaemon::wait_exit(double seconds)
{
    auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!reap(false)) {
        if (Clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
}

int FuseDaemon::unmount()
{
    run_quietly({"fusermount3", "-u", mountpoint_});
    return wait_exit();
}

int FuseDaemon::stop_with(int signal)
{
    if (running())
        kill(pid_, signal);
    return wait_exit();
}

std::string FuseDaemon::log() const
{
    std::ifstream in(log_path_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string wardenfs_path() { return DW_BIN_DIR "/wardenfs"; }

namespace {

std::vector<std::string> warden_args(const std::string &disk, const std::string &mountpoint,
                                     const std::vector<std::string> &extra)
{
    std::vector<std::string> args{"-f"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(disk);
    args.push_back(mountpoint);
    return args;
}

} // namespace

WardenMount::WardenMount(const std::string &disk, const std::string &mountpoint,
                         const std::vector<std::string> &extra, const std::vector<std::string> &env)
    : FuseDaemon(wardenfs_path(), warden_args(disk, mountpoint, extra), mountpoint,
                 mountpoint + ".log", env)
{
}

} // namespace testimg
