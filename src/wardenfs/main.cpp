// wardenfs: mounts a recorder disk read-only through FUSE.
//   wardenfs [options] DISK MOUNTPOINT
#include <fuse.h>
#include <fuse_lowlevel.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#ifdef DW_TEST_HOOKS
#include "disk/test_hooks.h"
#endif

#include "common/error.h"
#include "common/fatal.h"
#include "wardenfs/mount_open.h"
#include "wardenfs/mount_point.h"
#include "wardenfs/wfs.h"
#include "wardenfs/wfs_fuse.h"

namespace {

struct Arguments {
    const char *disk = nullptr;
    const char *mountpoint = nullptr; // also left for FUSE, which resolves it
    unsigned umask = 0;
    int recovery = 0; // -o recovery: the recordings partition alone
    bool help = false;
    bool version = false;
    bool zeros = false;
};

enum { KEY_HELP, KEY_VERSION, KEY_ZEROS };

constexpr unsigned DEFAULT_IDLE_THREADS = 10;

// umask is ours: FUSE would apply it to the modes it is given and show write bits.
const fuse_opt OPTIONS[] = {
    FUSE_OPT_KEY("-h", KEY_HELP),
    FUSE_OPT_KEY("--help", KEY_HELP),
    FUSE_OPT_KEY("-V", KEY_VERSION),
    FUSE_OPT_KEY("--version", KEY_VERSION),
    FUSE_OPT_KEY("zeros", KEY_ZEROS),
    {"umask=%o", offsetof(Arguments, umask), 0},
    {"recovery", offsetof(Arguments, recovery), 1},
    FUSE_OPT_END,
};

// Takes DISK (the first argument that is not an option), notes MOUNTPOINT (the second)
// and takes our own options; the rest is for FUSE.
int take_argument(void *data, const char *argument, int key, fuse_args *)
{
    auto *arguments = static_cast<Arguments *>(data);
    switch (key) {
    case KEY_HELP: arguments->help = true; return 0;
    case KEY_VERSION: arguments->version = true; return 0;
    case KEY_ZEROS: arguments->zeros = true; return 0;
    case FUSE_OPT_KEY_NONOPT:
        if (arguments->disk == nullptr) {
            arguments->disk = argument;
            return 0;
        }
        if (arguments->mountpoint == nullptr)
            arguments->mountpoint = argument;
        return 1;
    default: return 1;
    }
}

void print_usage_line(FILE *out, const char *program)
{
    fprintf(out, "usage: %s [options] DISK MOUNTPOINT\n", program);
}

void print_help(const char *program)
{
    print_usage_line(stdout, program);
    printf("\n"
           "Mounts a Humax recorder disk (an image, a device, or N: for drive N)\n"
           "read-only: its recordings as .ts files with their .elu, .epg, .hre and\n"
           ".txt, recovery/ and partitions/. Unmount with: fusermount3 -u MOUNTPOINT\n"
           "\n"
           "    -h, --help             this text\n"
           "    -V, --version          the versions of wardenfs and of FUSE\n"
           "    -f                     stay in the foreground (messages on standard error)\n"
           "    -d                     FUSE debugging (implies -f)\n"
           "    -s                     single-threaded\n"
           "    -o OPTION[,OPTION...]  mount options:\n"
           "       recovery            only recovery/ and partitions/AV, read from the\n"
           "                           recordings partition alone (what a disk whose\n"
           "                           other partitions are damaged mounts with)\n"
           "       zeros               unreadable sectors read as zeros (logged once per\n"
           "                           area) instead of failing the read with EIO\n"
           "       allow_other         other users may read the mount too (root, or\n"
           "                           user_allow_other in /etc/fuse.conf)\n"
           "       allow_root          root may read the mount too\n"
           "       auto_unmount        unmount when wardenfs ends, even when killed\n"
           "       uid=N, gid=N        the owner of every file (the user who mounts)\n"
           "       umask=M             permission bits taken away (modes are at most\n"
           "                           r-xr-xr-x, never writable)\n"
           "       max_threads=N       at most N requests served at once (10)\n"
           "       max_idle_threads=N  threads kept waiting for requests (10)\n");
}

void log_to_stderr(const char *text)
{
    fprintf(stderr, "wardenfs: %s", text);
}

void log_to_syslog(const char *text)
{
    syslog(LOG_WARNING, "%s", text);
}

// The FUSE options every mount gets: read-only, and the disk's name in the mount table.
void add_mount_options(fuse_args *args, const char *disk)
{
    std::string escaped;
    for (const char *c = disk; *c != '\0'; ++c) {
        if (*c == ',' || *c == '\\')
            escaped += '\\';
        escaped += *c;
    }
    fuse_opt_add_arg(args, "-oro");
    fuse_opt_add_arg(args, "-osubtype=wardenfs");
    fuse_opt_add_arg(args, ("-ofsname=" + escaped).c_str());
}

// In the background, the process the user started waits for the mount to serve (or to
// fail) before it ends, so that its status says whether there is a mount.
int ready_fd = -1;

// The mount's daemon, once mounted: tells the waiting process, then leaves its terminal.
void tell_mounted()
{
    if (ready_fd < 0)
        return;
    char ready = 0;
    while (write(ready_fd, &ready, 1) < 0 && errno == EINTR) {
    }
    close(ready_fd);
    ready_fd = -1;
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        if (null > STDERR_FILENO)
            close(null);
    }
}

// True when a FUSE file system serves at `mountpoint`: asking it waits for the end of its
// set-up, which fails when FUSE's negotiation with the kernel failed.
bool serving_at(const char *mountpoint)
{
    constexpr long FUSE_MAGIC = 0x65735546;
    struct statfs status;
    return statfs(mountpoint, &status) == 0 && status.f_type == FUSE_MAGIC;
}

// Goes to the background: the calling process waits and ends with 0 once the daemon's
// mount serves, or with the daemon's status when it ends first. The daemon returns.
void go_to_background(const char *mountpoint)
{
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        fatal_errno("pipe");
    fflush(nullptr);
    pid_t child = fork();
    if (child < 0)
        fatal_errno("fork");
    if (child == 0) {
        close(pipe_fds[0]);
        ready_fd = pipe_fds[1];
        setsid();
        if (chdir("/") != 0) {
            // It would only keep the directory busy, for as long as the mount lasts.
        }
        return;
    }
    close(pipe_fds[1]);
    char ready;
    ssize_t got;
    while ((got = read(pipe_fds[0], &ready, 1)) < 0 && errno == EINTR) {
    }
    int status = 0;
    if (got == 1 && serving_at(mountpoint) && waitpid(child, &status, WNOHANG) == 0)
        _exit(0);
    if (waitpid(child, &status, 0) == child && WIFEXITED(status))
        _exit(WEXITSTATUS(status) != 0 ? WEXITSTATUS(status) : got == 1 ? 1 : 0);
    _exit(1);
}

int run_loop(fuse *session, const fuse_cmdline_opts &options)
{
    if (options.singlethread)
        return fuse_loop(session);
    fuse_loop_config *config = fuse_loop_cfg_create();
    fuse_loop_cfg_set_clone_fd(config, static_cast<unsigned>(options.clone_fd));
    // UINT_MAX: not given.
    fuse_loop_cfg_set_idle_threads(
        config, options.max_idle_threads == UINT_MAX ? DEFAULT_IDLE_THREADS : options.max_idle_threads);
    fuse_loop_cfg_set_max_threads(config, options.max_threads);
    int result = fuse_loop_mt(session, config);
    fuse_loop_cfg_destroy(config);
    return result;
}

// Mounts and serves until unmounted or told to stop; the exit status.
int serve(Wfs *wfs, fuse_args *args, const fuse_cmdline_opts &options)
{
    fuse *session = fuse_new(args, wfs_fuse_operations(wfs, tell_mounted), sizeof(fuse_operations), wfs);
    if (session == nullptr)
        return 1;
    int status = 1;
    // The handlers are in place before the mount shows: a SIGTERM or SIGINT that comes as
    // soon as it shows ends the loop, which then unmounts, instead of the process.
    if (fuse_set_signal_handlers(fuse_get_session(session)) == 0) {
        if (fuse_mount(session, options.mountpoint) == 0) {
            int result = run_loop(session, options);
            // Ended by a signal (SIGINT, SIGTERM, SIGHUP) or by unmounting: both are the
            // normal end of a mount.
            status = result == 0 || result == SIGINT || result == SIGTERM || result == SIGHUP ? 0 : 1;
            fuse_unmount(session);
        }
        fuse_remove_signal_handlers(fuse_get_session(session));
    }
    fuse_destroy(session);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    fuse_args args = FUSE_ARGS_INIT(argc, argv);
    Arguments arguments;
    if (fuse_opt_parse(&args, &arguments, OPTIONS, take_argument) != 0)
        fatal_exit(1);
    if (arguments.help) {
        print_help(argv[0]);
        return 0;
    }
    if (arguments.version) {
        printf("wardenfs version " DW_VERSION " - recorder disk file system\n");
        printf("FUSE library version %s\n", fuse_pkgversion());
        return 0;
    }
    if (arguments.disk == nullptr) {
        print_usage_line(stderr, argv[0]);
        fatal("Humax disk not found\n");
    }
    if (arguments.mountpoint == nullptr)
        fatal("%s: no mount point given (see %s --help)\n", argv[0], argv[0]);
    Error error;
    if (!mount_point_check(arguments.mountpoint, &error))
        error_end(error);
    add_mount_options(&args, arguments.disk);
    fuse_cmdline_opts options{};
    if (fuse_parse_cmdline(&args, &options) != 0)
        fatal_exit(1);
    DiskOpenOptions access;
#ifdef DW_TEST_HOOKS
    // Only test builds obey the tests' variables (direct I/O, the fault injector).
    DiskTestHooks hooks = disk_test_hooks_from_environment();
    access.direct = hooks.direct;
    access.wrap_stream = [hooks](DiskStream *stream) { disk_test_hooks_apply(hooks, stream); };
#endif
    Wfs *wfs = nullptr;
    MountScope scope = arguments.recovery != 0 ? MountScope::FirstPartition : MountScope::Whole;
    if (!mount_open(arguments.disk, access, scope, &wfs, &error))
        error_end(error);
    wfs->umask = static_cast<mode_t>(arguments.umask & 0777);
    wfs->zeros = arguments.zeros;
    if (options.foreground) {
        wfs->log = log_to_stderr;
    } else {
        go_to_background(options.mountpoint);
        openlog("wardenfs", LOG_PID, LOG_DAEMON);
        wfs->log = log_to_syslog;
    }
    int status = serve(wfs, &args, options);
    wfs_end_serving();
    mount_close(wfs);
    free(options.mountpoint);
    fuse_opt_free_args(&args);
    return status;
}
