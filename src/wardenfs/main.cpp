// wardenfs: mounts a recorder disk read-only through FUSE.
//   wardenfs [options] DISK MOUNTPOINT
#include <fuse.h>
#include <fuse_lowlevel.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <syslog.h>

#ifdef DW_TEST_HOOKS
#include "disk/test_hooks.h"
#endif

#include "common/error.h"
#include "common/fatal.h"
#include "wardenfs/mount_open.h"
#include "wardenfs/wfs.h"
#include "wardenfs/wfs_fuse.h"

namespace {

struct Arguments {
    const char *disk = nullptr;
    bool help = false;
    bool version = false;
    bool zeros = false;
};

enum { KEY_HELP, KEY_VERSION, KEY_ZEROS };

constexpr unsigned DEFAULT_IDLE_THREADS = 10;

const fuse_opt OPTIONS[] = {
    FUSE_OPT_KEY("-h", KEY_HELP),      FUSE_OPT_KEY("--help", KEY_HELP),
    FUSE_OPT_KEY("-V", KEY_VERSION),   FUSE_OPT_KEY("--version", KEY_VERSION),
    FUSE_OPT_KEY("zeros", KEY_ZEROS),
    FUSE_OPT_END,
};

// Takes DISK (the first argument that is not an option) and our own -h and -V; the rest
// is for FUSE.
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
        return 1;
    default: return 1;
    }
}

void print_usage(const char *program)
{
    printf("usage: %s [options] DISK MOUNTPOINT\n"
           "\n"
           "Mounts a Humax recorder disk (an image, a device, or N: for drive N)\n"
           "read-only: its recordings as .ts files with their .elu, .epg, .hre and\n"
           ".txt, recovery/ and partitions/. Unmount with: fusermount3 -u MOUNTPOINT\n"
           "\n"
           "    -h, --help             this text\n"
           "    -V, --version          the versions of wardenfs and of FUSE\n"
           "    -f                     stay in the foreground (messages on standard error)\n"
           "    -d                     FUSE debugging (implies -f)\n"
           "    -s                     single-threaded\n"
           "    -o OPTION[,OPTION...]  FUSE mount options (allow_other, ...)\n"
           "    -o zeros               unreadable sectors read as zeros (logged once per\n"
           "                           area) instead of failing the read with EIO\n"
           "\n",
           program);
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

// Mounts and serves until unmounted or told to stop; the exit status.
int serve(Wfs *wfs, fuse_args *args, const fuse_cmdline_opts &options)
{
    fuse *session = fuse_new(args, wfs_fuse_operations(wfs), sizeof(fuse_operations), wfs);
    if (session == nullptr)
        return 1;
    int status = 1;
    if (fuse_mount(session, options.mountpoint) == 0) {
        if (fuse_daemonize(options.foreground) == 0 &&
            fuse_set_signal_handlers(fuse_get_session(session)) == 0) {
            int result;
            if (options.singlethread) {
                result = fuse_loop(session);
            } else {
                fuse_loop_config config{};
                config.clone_fd = options.clone_fd;
                // UINT_MAX: not given; libfuse's own default then.
                config.max_idle_threads =
                    options.max_idle_threads == UINT_MAX ? DEFAULT_IDLE_THREADS : options.max_idle_threads;
                result = fuse_loop_mt(session, &config);
            }
            // Ended by a signal (SIGINT, SIGTERM, SIGHUP) or by unmounting: both are the
            // normal end of a mount.
            status = result == 0 || result == SIGINT || result == SIGTERM || result == SIGHUP ? 0 : 1;
            fuse_remove_signal_handlers(fuse_get_session(session));
        }
        fuse_unmount(session);
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
        print_usage(argv[0]);
        printf("FUSE options:\n");
        fuse_cmdline_help();
        fuse_lib_help(&args);
        return 0;
    }
    if (arguments.version) {
        printf("wardenfs version " DW_VERSION " - recorder disk file system\n");
        printf("FUSE library version %s\n", fuse_pkgversion());
        return 0;
    }
    if (arguments.disk == nullptr)
        fatal("Humax disk not found\n");
    add_mount_options(&args, arguments.disk);
    fuse_cmdline_opts options{};
    if (fuse_parse_cmdline(&args, &options) != 0)
        fatal_exit(1);
    if (options.mountpoint == nullptr)
        fatal("%s: no mount point given (see %s --help)\n", argv[0], argv[0]);
    DiskOpenOptions access;
#ifdef DW_TEST_HOOKS
    // Only test builds obey the tests' variables (direct I/O, the fault injector).
    DiskTestHooks hooks = disk_test_hooks_from_environment();
    access.direct = hooks.direct;
    access.wrap_stream = [hooks](DiskStream *stream) { disk_test_hooks_apply(hooks, stream); };
#endif
    Wfs *wfs = nullptr;
    Error error;
    if (!mount_open(arguments.disk, access, &wfs, &error))
        error_end(error);
    wfs->zeros = arguments.zeros;
    if (options.foreground) {
        wfs->log = log_to_stderr;
    } else {
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
