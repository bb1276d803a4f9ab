#include "wine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace testimg {

namespace {

namespace fs = std::filesystem;

std::string log_path() { return wine_prefix() + ".log"; }

// Runs a Wine tool with its output appended to the log; its status.
int run_logged(const std::vector<std::string> &command)
{
    std::vector<std::string> args = {"-c", "exec \"$@\" </dev/null >>\"$DW_WINE_LOG\" 2>&1",
                                     "sh"};
    args.insert(args.end(), command.begin(), command.end());
    std::vector<std::string> env = wine_environment();
    env.push_back("DW_WINE_LOG=" + log_path());
    return run_program("/bin/sh", args, "", "", env).status;
}

// The server first (it daemonizes; -p keeps it after its last client), then the prefix.
// A server that runs already makes the new one leave at once.
void start_server()
{
    fs::create_directories(wine_prefix());
    run_logged({"wineserver", "-p"});
}

// Written when wineboot has finished (the server writes the registry files later).
std::string ready_mark() { return wine_prefix() + "/.made-by-tests"; }

// Holds an exclusive lock on the prefix while it is made, for test programs that start
// at the same time.
class PrefixLock {
  public:
    PrefixLock()
    {
        fs::create_directories(fs::path(wine_prefix()).parent_path());
        fd_ = open((wine_prefix() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0)
            flock(fd_, LOCK_EX);
    }
    ~PrefixLock()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    PrefixLock(const PrefixLock &) = delete;
    PrefixLock &operator=(const PrefixLock &) = delete;

  private:
    int fd_ = -1;
};

bool prefix_ready() { return fs::exists(ready_mark()); }

void make_prefix()
{
    start_server();
    if (run_logged({"wine", "wineboot", "-i"}) != 0)
        throw std::runtime_error("wineboot could not make the prefix " + wine_prefix() +
                                 "; see " + log_path());
    write_host_file(ready_mark(), {});
}

} // namespace

std::string windows_program_path(const std::string &name)
{
    return DW_WINDOWS_BIN "/" + name + ".exe";
}

std::string wine_prefix() { return DW_WINE_PREFIX; }

std::vector<std::string> wine_environment()
{
    // No display, no offer to install Mono or Gecko, no desktop menu entries, no debug
    // channels: the prefix is for console programs.
    return {"WINEPREFIX=" + wine_prefix(), "WINEDEBUG=-all",
            "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d", "DISPLAY",
            "WAYLAND_DISPLAY"};
}

void wine_create_prefix()
{
    PrefixLock lock;
    if (fs::exists(wine_prefix()))
        wine_stop();
    fs::remove_all(wine_prefix());
    fs::remove(log_path());
    make_prefix();
}

void wine_stop()
{
    if (fs::exists(wine_prefix()))
        run_logged({"wineserver", "-k"});
}

bool wine_installed()
{
    return !testimg::find_on_path("wine").empty() && !testimg::find_on_path("wineserver").empty();
}

std::string wine_unavailable_reason()
{
    static const std::string reason = [] {
        if (!wine_installed())
            return std::string("Wine is not installed (Debian: wine, wine64)");
        try {
            PrefixLock lock;
            if (prefix_ready())
                start_server(); // no-op when it runs already
            else
                make_prefix();
        } catch (const std::exception &e) {
            return std::string(e.what());
        }
        return std::string();
    }();
    return reason;
}

RunResult run_windows_program(const std::string &exe, const std::vector<std::string> &args,
                              const std::string &input, const std::string &cwd,
                              const std::vector<std::string> &env)
{
    TempDir outputs;
    std::vector<std::string> shell = {
        "-c", "exec wine \"$@\" >\"$DW_WINE_OUT\" 2>\"$DW_WINE_ERR\"", "sh", exe};
    shell.insert(shell.end(), args.begin(), args.end());
    std::vector<std::string> environment = wine_environment();
    environment.push_back("DW_WINE_OUT=" + outputs.file("out"));
    environment.push_back("DW_WINE_ERR=" + outputs.file("err"));
    environment.insert(environment.end(), env.begin(), env.end());
    RunResult result = run_program("/bin/sh", shell, input, cwd, environment);
    for (auto [name, text] : {std::pair{"out", &result.out}, std::pair{"err", &result.err}}) {
        Bytes bytes = read_host_file(outputs.file(name));
        text->assign(bytes.begin(), bytes.end());
    }
    return result;
}

} // namespace testimg
