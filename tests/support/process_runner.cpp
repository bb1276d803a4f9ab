#include "support/process_runner.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace testimg {

namespace {

[[noreturn]] void fail_errno(const std::string &what) {
    throw std::runtime_error("run_program: " + what + ": " + std::strerror(errno));
}

constexpr int RUN_TIME_LIMIT = 240; // seconds, below the test runner's own limit

// The environment of the child: ours, with `changes` applied.
std::vector<std::string> child_environment(const std::vector<std::string> &changes) {
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        env.emplace_back(*e);
    for (const std::string &change : changes) {
        std::string name = change.substr(0, change.find('='));
        std::erase_if(env, [&](const std::string &e) {
            return e.compare(0, name.size() + 1, name + "=") == 0;
        });
        if (change.find('=') != std::string::npos)
            env.push_back(change);
    }
    return env;
}

std::vector<char *> c_strings(std::vector<std::string> &strings) {
    std::vector<char *> pointers;
    for (std::string &s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

[[noreturn]] void exec_child(const std::string &program, char **argv, char **envp,
                             const std::string &cwd, const int (&fds)[3]) {
    for (int i = 0; i < 3; ++i)
        if (dup2(fds[i], i) < 0)
            _exit(127);
    signal(SIGPIPE, SIG_DFL);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
        perror(cwd.c_str());
        _exit(127);
    }
    execve(program.c_str(), argv, envp);
    perror(program.c_str());
    _exit(127);
}

long seconds_now() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return long(now.tv_sec);
}

// Feeds `input` and drains both outputs until the child has closed them.
void exchange(int in_fd, int out_fd, int err_fd, const std::string &input, RunResult &result,
              pid_t child) {
    int fds[3] = {in_fd, out_fd, err_fd};
    std::string *sinks[3] = {nullptr, &result.out, &result.err};
    size_t written = 0;
    if (input.empty()) {
        close(fds[0]);
        fds[0] = -1;
    }
    long deadline = seconds_now() + RUN_TIME_LIMIT;
    while (fds[1] >= 0 || fds[2] >= 0) {
        if (seconds_now() > deadline) {
            kill(child, SIGKILL);
            result.err += "\n[run_program: killed after " + std::to_string(RUN_TIME_LIMIT) +
                          " s]\n";
            deadline = seconds_now() + 3600;
        }
        pollfd polls[3];
        for (int i = 0; i < 3; ++i)
            polls[i] = {fds[i], short(i == 0 ? POLLOUT : POLLIN), 0};
        if (poll(polls, 3, 1000) < 0 && errno != EINTR)
            fail_errno("poll");
        if (fds[0] >= 0 && polls[0].revents) {
            ssize_t n = write(fds[0], input.data() + written, input.size() - written);
            if (n > 0)
                written += size_t(n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) {
                close(fds[0]);
                fds[0] = -1;
            }
        }
        for (int i = 1; i < 3; ++i) {
            if (fds[i] < 0 || !polls[i].revents)
                continue;
            char buffer[65536];
            ssize_t n = read(fds[i], buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, size_t(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                close(fds[i]);
                fds[i] = -1;
            }
        }
    }
    if (fds[0] >= 0)
        close(fds[0]);
}

} // namespace

RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const std::string &input, const std::string &cwd,
                      const std::vector<std::string> &env) {
    // A program that stops reading its input must not take the test process down.
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> arg_strings{program};
    arg_strings.insert(arg_strings.end(), args.begin(), args.end());
    std::vector<std::string> env_strings = child_environment(env);
    std::vector<char *> argv = c_strings(arg_strings);
    std::vector<char *> envp = c_strings(env_strings);

    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        fail_errno("pipe");
    pid_t child = fork();
    if (child < 0)
        fail_errno("fork");
    if (child == 0)
        exec_child(program, argv.data(), envp.data(), cwd, {in[0], out[1], err[1]});
    close(in[0]);
    close(out[1]);
    close(err[1]);
    fcntl(in[1], F_SETFL, fcntl(in[1], F_GETFL) | O_NONBLOCK);

    RunResult result;
    exchange(in[1], out[0], err[0], input, result, child);
    result.status = wait_for_exit(child);
    return result;
}

std::string find_on_path(const std::string &name)
{
    const char *path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (end > start && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

int wait_for_exit(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            fail_errno("waitpid");
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string diskwarden_path() { return DW_BIN_DIR "/diskwarden"; }
std::string reelhead_path() { return DW_BIN_DIR "/reelhead"; }

} // namespace testimg
