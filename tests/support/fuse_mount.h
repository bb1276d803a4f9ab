#pragma once
// Real mounts of wardenfs for the tests and the benchmark: the daemon runs in the
// foreground (-f) in a process group of its own, the mount is awaited in
// /proc/self/mountinfo (never by touching the mount point), and whatever is left is
// unmounted (fusermount3 -u, then -uz) and the group killed when the runner goes.
#include <sys/types.h>

#include <string>
#include <vector>

namespace testimg {

// True when mounts can be made here (/dev/fuse usable, fusermount3 present); otherwise
// false with the reason in *why.
bool fuse_available(std::string *why);

// True when `mountpoint` (an absolute path without spaces) is a mount point now.
bool is_mounted(const std::string &mountpoint);

// Runs `program` (any FUSE daemon) with `args`; its standard output and error go to
// `log_path`. `env` entries as for run_program.
class FuseDaemon {
  public:
    FuseDaemon(const std::string &program, const std::vector<std::string> &args,
               const std::string &mountpoint, const std::string &log_path,
               const std::vector<std::string> &env = {});
    ~FuseDaemon();
    FuseDaemon(const FuseDaemon &) = delete;
    FuseDaemon &operator=(const FuseDaemon &) = delete;

    // Waits until the mount point shows as mounted: false when the daemon ended first or
    // `seconds` passed.
    bool wait_mounted(double seconds = 20);
    // Waits for the daemon to end; its exit status (128 + signal when killed), or -1 when
    // it is still running after `seconds`.
    int wait_exit(double seconds = 20);
    // fusermount3 -u, then the daemon's exit status as wait_exit gives it.
    int unmount();
    // Sends `signal` to the daemon, then its exit status as wait_exit gives it.
    int stop_with(int signal);
    bool running() const { return status_ < 0; }
    std::string log() const;

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string mountpoint_;
    std::string log_path_;
    bool reap(bool block);
};

// wardenfs -f [extra...] DISK MOUNTPOINT, logging to MOUNTPOINT.log.
class WardenMount : public FuseDaemon {
  public:
    WardenMount(const std::string &disk, const std::string &mountpoint,
                const std::vector<std::string> &extra = {}, const std::vector<std::string> &env = {});
};

std::string wardenfs_path();

} // namespace testimg
