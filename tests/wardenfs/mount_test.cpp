// Real mounts of wardenfs where /dev/fuse can be used (as root, as in CI); skipped with a
// message elsewhere. Each mount runs in the foreground in its own process group and is
// awaited in /proc/self/mountinfo; the runner unmounts and kills whatever is left.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <thread>
#include <utime.h>

#include "fuse_mount.h"
#include "mount_fixture.h"

namespace testimg {
namespace {

using ::testing::HasSubstr;

class RealMount : public MountFixture {
  protected:
    std::string mountpoint = dir.file("mnt");

    void SetUp() override
    {
        MountFixture::SetUp();
        std::string why;
        if (!fuse_available(&why))
            GTEST_SKIP() << "no FUSE here (" << why << "): real mounts not tested";
        std::filesystem::create_directory(mountpoint);
    }

    // Every file under the mount point, read through the kernel.
    FileSet files_under(const std::string &top)
    {
        FileSet files;
        for (const auto &e : std::filesystem::recursive_directory_iterator(top)) {
            if (e.is_regular_file())
                files[e.path().string().substr(top.size())] = read_host_file(e.path());
        }
        return files;
    }

    void expect_mounted(WardenMount &mount)
    {
        ASSERT_TRUE(mount.wait_mounted()) << "not mounted; its messages:\n" << mount.log();
    }
};

TEST_F(RealMount, EveryFileIsWhatTheProgramsWrite)
{
    make_mount_disk();
    FileSet expected = program_files();
    WardenMount mount(path, mountpoint);
    expect_mounted(mount);
    FileSet shown = files_under(mountpoint);
    EXPECT_EQ(names_of(shown), names_of(expected));
    for (const auto &[name, contents] : expected) {
        auto found = shown.find(name);
        if (found != shown.end()) {
            EXPECT_TRUE(found->second == contents) << name;
        }
    }
    struct stat status;
    ASSERT_EQ(stat((mountpoint + "/" + host_stem(2, "Nature_Wild Isles") + ".ts").c_str(), &status), 0);
    EXPECT_EQ(status.st_mtime, SUNDAY_2100 + 2 * 86400);
    EXPECT_EQ(status.st_mode, S_IFREG | 0444);
    char title[64];
    ssize_t title_length = getxattr((mountpoint + "/recovery/recover_0003.ts").c_str(), "user.title", title, sizeof title);
    EXPECT_EQ(std::string(title, static_cast<size_t>(std::max<ssize_t>(title_length, 0))), "Nature/Wild Isles");
    struct statvfs fs;
    ASSERT_EQ(statvfs(mountpoint.c_str(), &fs), 0);
    EXPECT_EQ(fs.f_blocks * fs.f_frsize, std::filesystem::file_size(path));
    EXPECT_TRUE(fs.f_flag & ST_RDONLY);
    // Reads at random offsets and lengths of the fragmented stream.
    Bytes film = recordings()[1].av;
    int fd = open((mountpoint + "/recovery/recover_0002.ts").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::mt19937_64 random(7);
    Bytes got(200000);
    for (int i = 0; i < 300; ++i) {
        uint64_t offset = random() % (film.size() + 10);
        size_t length = random() % got.size();
        ssize_t n = pread(fd, got.data(), length, static_cast<off_t>(offset));
        size_t expect = offset >= film.size() ? 0 : std::min<size_t>(length, film.size() - offset);
        ASSERT_EQ(n, static_cast<ssize_t>(expect)) << offset;
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + n, film.begin() + offset)) << offset;
    }
    close(fd);
    EXPECT_EQ(mount.unmount(), 0) << mount.log();
    EXPECT_FALSE(is_mounted(mountpoint));
    EXPECT_EQ(mount.log(), "");
}

// A recording shown at the top, in recovery/ and in partitions/AV is one file with three
// links: du counts it once, cp -a and rsync -aH copy it once, and the copy's directories
// can be deleted by the user who copied them.
TEST_F(RealMount, EachRecordingIsCopiedOnce)
{
    make_mount_disk();
    FileSet expected = program_files();
    uint64_t distinct = 0;
    for (const auto &[name, contents] : expected) {
        bool top = name.find('/', 1) == std::string::npos;
        bool text = name.ends_with(".txt") && !name.starts_with("/partitions/");
        if (name.starts_with("/partitions/") || text || (top && name.ends_with(".hre")))
            distinct += contents.size();
    }
    WardenMount mount(path, mountpoint);
    expect_mounted(mount);
    auto du = [](const std::string &top) {
        RunResult r = run_program(find_on_path("du"), {"-sb", top});
        return std::stoull(r.out);
    };
    std::string film = host_stem(1, "Film_ The Long Voyage Home") + ".ts";
    struct stat at_top, in_recovery;
    ASSERT_EQ(stat((mountpoint + "/" + film).c_str(), &at_top), 0);
    ASSERT_EQ(stat((mountpoint + "/recovery/recover_0002.ts").c_str(), &in_recovery), 0);
    EXPECT_EQ(at_top.st_ino, in_recovery.st_ino);
    EXPECT_EQ(at_top.st_nlink, 3u);
    EXPECT_EQ(du(mountpoint), distinct);
    struct statvfs fs;
    ASSERT_EQ(statvfs(mountpoint.c_str(), &fs), 0);
    printf("du of the mount %llu bytes; df: %llu used of %llu\n", static_cast<unsigned long long>(du(mountpoint)),
           static_cast<unsigned long long>((fs.f_blocks - fs.f_bfree) * fs.f_frsize),
           static_cast<unsigned long long>(fs.f_blocks * fs.f_frsize));
    // The copies' own directories count too: their files, each inode once.
    auto file_bytes = [](const std::string &top) {
        std::map<ino_t, uint64_t> files;
        for (const auto &e : std::filesystem::recursive_directory_iterator(top)) {
            struct stat status;
            if (lstat(e.path().c_str(), &status) == 0 && S_ISREG(status.st_mode))
                files[status.st_ino] = static_cast<uint64_t>(status.st_size);
        }
        uint64_t total = 0;
        for (const auto &file : files)
            total += file.second;
        return total;
    };
    std::string copy = dir.file("copy");
    ASSERT_EQ(run_program(find_on_path("cp"), {"-a", mountpoint, copy}).status, 0);
    EXPECT_EQ(file_bytes(copy), distinct);
    struct stat copied;
    ASSERT_EQ(stat((copy + "/recovery").c_str(), &copied), 0);
    EXPECT_TRUE(copied.st_mode & S_IWUSR);
    std::string rsync = find_on_path("rsync");
    if (!rsync.empty()) {
        std::string synced = dir.file("synced");
        ASSERT_EQ(run_program(rsync, {"-aH", mountpoint + "/", synced}).status, 0);
        EXPECT_EQ(file_bytes(synced), distinct);
    }
    EXPECT_EQ(mount.unmount(), 0);
}

// The fault injector of the disk stream fails one read of the disk: the first read of a
// file after mounting (the reads of opening are counted in a first mount).
TEST_F(RealMount, ADiskErrorGivesEioAndTheMountKeepsServing)
{
    make_mount_disk();
    std::string count = dir.file("reads");
    std::vector<std::string> env = {"DW_FAULT_IMAGE=" + path, "DW_FAULT_KIND=read",
                                    "DW_FAULT_ACTION=fail", "DW_FAULT_COUNT=" + count};
    unsigned long opening_reads;
    {
        std::vector<std::string> counting = env;
        counting.push_back("DW_FAULT_AT=0");
        WardenMount mount(path, mountpoint, {"-s"}, counting);
        expect_mounted(mount);
        ASSERT_EQ(mount.unmount(), 0);
        Bytes text = read_host_file(count);
        opening_reads = std::stoul(std::string(text.begin(), text.end()));
    }
    env.push_back("DW_FAULT_AT=" + std::to_string(opening_reads + 1));
    WardenMount mount(path, mountpoint, {"-s"}, env);
    expect_mounted(mount);
    std::string film = mountpoint + "/" + host_stem(1, "Film_ The Long Voyage Home") + ".ts";
    // Direct reads reach the daemon as they are. (Through the page cache, the kernel
    // reads a page again when its first read failed: a fault that happens once, as this
    // one does, would not be seen; a bad sector fails both reads.)
    int fd = open(film.c_str(), O_RDONLY | O_DIRECT);
    ASSERT_GE(fd, 0) << strerror(errno);
    Bytes got(4096);
    errno = 0;
    EXPECT_EQ(pread(fd, got.data(), got.size(), 0), -1);
    EXPECT_EQ(errno, EIO);
    // The same bytes again, and everything else.
    ASSERT_EQ(pread(fd, got.data(), got.size(), 0), 4096);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), recordings()[1].av.begin()));
    close(fd);
    EXPECT_TRUE(read_host_file(mountpoint + "/recovery/recover_0001.ts") == recordings()[0].av);
    EXPECT_EQ(mount.unmount(), 0);
    EXPECT_THAT(mount.log(), HasSubstr("Input/output error at byte 0"));
}

// The mount holds the disk's shared lock: writing commands refuse while it is mounted
// (whatever name reaches the disk), and a disk a writer holds is refused before anything
// is mounted.
TEST_F(RealMount, WritersAndTheMountExcludeEachOther)
{
    make_mount_disk();
    {
        WardenMount mount(path, mountpoint);
        expect_mounted(mount);
        RunResult deleting = run_in(host, {"-y", "-d", "1"});
        EXPECT_EQ(deleting.status, 1);
        EXPECT_THAT(deleting.err, HasSubstr(path + " is in use by another process"));
        EXPECT_EQ(run_in(host, {"-l"}).status, 0); // readers share the disk
        // The image attached as a loop device is the same disk under another name.
        LoopDevice loop(path);
        if (!loop.device.empty()) {
            RunResult through_device =
                run_program(diskwarden_path(), {"-y", "-d", "1", loop.device}, "", host);
            EXPECT_EQ(through_device.status, 1);
            EXPECT_EQ(through_device.err, loop.device + " is in use by another process\n");
        }
        EXPECT_EQ(mount.unmount(), 0);
    }
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    WardenMount refused(path, mountpoint);
    EXPECT_EQ(refused.wait_exit(), 1);
    EXPECT_FALSE(is_mounted(mountpoint));
    EXPECT_THAT(refused.log(), HasSubstr(path + " is in use by another process"));
    close(fd);
}

TEST_F(RealMount, SignalsAndUnmountingEndAForegroundRunWithStatusZero)
{
    make_mount_disk();
    for (int signal : {SIGTERM, SIGINT, 0}) {
        WardenMount mount(path, mountpoint);
        expect_mounted(mount);
        int status = signal == 0 ? mount.unmount() : mount.stop_with(signal);
        EXPECT_EQ(status, 0) << "signal " << signal << "\n" << mount.log();
        EXPECT_FALSE(is_mounted(mountpoint)) << signal;
    }
}

// A reader held up by a slow spot of the disk (a failing drive retrying a sector) holds
// up no one else: another recording, the listing, attributes, statfs and the texts are
// served beside it in about the time they take alone. The bound is loose on purpose;
// under one lock, or with -o max_threads=1 (honoured), the other reader waits out the
// slow read (3 s).
TEST_F(RealMount, ASlowReadStallsOnlyItsReader)
{
    make_mount_disk();
    uint64_t slow_from = cluster_position(0, "3.av", 0);
    std::vector<std::string> env = {"DW_FAULT_IMAGE=" + path, "DW_FAULT_SLOW=" + std::to_string(slow_from) + "," +
                                                                 std::to_string(slow_from + 4096) + ",3000"};
    std::string stem = mountpoint + "/" + host_stem(0, "Evening News (2)");
    // Direct reads reach the daemon each time, as they would uncached.
    auto read_direct = [](const std::string &file, size_t length) {
        int fd = open(file.c_str(), O_RDONLY | O_DIRECT);
        Bytes buffer(length);
        ssize_t n = fd < 0 ? -1 : pread(fd, buffer.data(), length, 0);
        if (fd >= 0)
            close(fd);
        return n;
    };
    auto other_reader = [&](bool everything) {
        auto begun = std::chrono::steady_clock::now();
        struct statvfs fs;
        EXPECT_EQ(statvfs(mountpoint.c_str(), &fs), 0);
        if (!everything)
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
        size_t names = 0;
        for (const auto &e : std::filesystem::directory_iterator(mountpoint + "/partitions/AV"))
            names += e.is_regular_file() ? 1 : 0;
        EXPECT_GT(names, 0u);
        EXPECT_GT(read_direct(stem + ".txt", 4096), 0);
        EXPECT_EQ(read_direct(stem + ".ts", 1 << 20), static_cast<ssize_t>(recordings()[0].av.size()));
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    };
    // With one thread, statfs alone waits out the slow read.
    for (int threads : {10, 1}) {
        WardenMount mount(path, mountpoint, {"-o", "max_threads=" + std::to_string(threads)}, env);
        expect_mounted(mount);
        double alone = other_reader(threads > 1);
        std::atomic<bool> stop{false};
        std::thread slow_reader([&] {
            while (!stop)
                read_direct(mountpoint + "/recovery/recover_0002.ts", 4096);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // it now waits on the spot
        double beside = other_reader(threads > 1);
        stop = true;
        slow_reader.join();
        printf("%d threads: other reader alone %.3f s, beside the slow reader %.3f s\n", threads, alone, beside);
        if (threads > 1)
            EXPECT_LT(beside, 1.0 + 10 * alone);
        else
            EXPECT_GT(beside, 1.5);
        EXPECT_EQ(mount.unmount(), 0) << mount.log();
    }
}

// Start-up: the mount point is checked before anything is mounted (a regular file, the
// image itself included, and a dead mount are refused, the latter with what to do); in
// the background the status is the mount's: 0 once it serves, non-zero when FUSE's set-up
// fails after the program went to the background.
TEST_F(RealMount, StartUpFailuresEndWithANonZeroStatus)
{
    make_mount_disk();
    RunResult on_image = run_program(wardenfs_path(), {path, path});
    EXPECT_EQ(on_image.status, 1);
    EXPECT_EQ(on_image.err, path + ": Not a directory: the mount point must be a directory\n");
    EXPECT_FALSE(is_mounted(path));
    RunResult failed_set_up = run_program(wardenfs_path(), {"-o", "max_read=4096", path, mountpoint});
    EXPECT_EQ(failed_set_up.status, 1) << failed_set_up.err;
    EXPECT_FALSE(is_mounted(mountpoint));
    // -o recovery: the recordings partition alone; umask takes bits, never gives any.
    RunResult background = run_program(wardenfs_path(), {"-o", "recovery,umask=027", path, mountpoint});
    EXPECT_EQ(background.status, 0) << background.err;
    EXPECT_TRUE(is_mounted(mountpoint));
    std::vector<std::string> top;
    for (const auto &e : std::filesystem::directory_iterator(mountpoint))
        top.push_back(e.path().filename().string());
    std::sort(top.begin(), top.end());
    EXPECT_THAT(top, ::testing::ElementsAre("partitions", "recovery"));
    EXPECT_FALSE(std::filesystem::exists(mountpoint + "/partitions/EPG"));
    struct stat status;
    ASSERT_EQ(stat((mountpoint + "/recovery/recover_0001.ts").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode, S_IFREG | 0440);
    ASSERT_EQ(stat((mountpoint + "/recovery").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0750u);
    EXPECT_EQ(run_program(find_on_path("fusermount3"), {"-u", mountpoint}).status, 0);
    {
        WardenMount killed(path, mountpoint);
        expect_mounted(killed);
        EXPECT_EQ(killed.stop_with(SIGKILL), 128 + SIGKILL);
        RunResult on_dead = run_program(wardenfs_path(), {"-f", path, mountpoint});
        EXPECT_EQ(on_dead.status, 1);
        EXPECT_THAT(on_dead.err, HasSubstr("Transport endpoint is not connected"));
        EXPECT_THAT(on_dead.err, HasSubstr("fusermount3 -u " + mountpoint + "\n"));
        EXPECT_EQ(run_program(find_on_path("fusermount3"), {"-u", mountpoint}).status, 0);
    }
    WardenMount again(path, mountpoint);
    expect_mounted(again);
    EXPECT_EQ(again.unmount(), 0);
}

TEST_F(RealMount, WritesGetErofsAndChangeNothing)
{
    make_mount_disk();
    WardenMount mount(path, mountpoint);
    expect_mounted(mount);
    std::string file = mountpoint + "/" + host_stem(0, "Evening News (2)") + ".ts";
    const char *p = file.c_str();
    int fd = open(p, O_RDWR);
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(unlink(p), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_TRUE(read_host_file(file) == recordings()[0].av);
}

// Problems that end diskwarden's opening end the mount before it mounts, with the same
// messages; a record list diskwarden refuses leaves recovery/ and partitions/.
TEST_F(RealMount, OpeningProblemsEndBeforeMountingButADamagedListMounts)
{
    make_mount_disk();
    DiskImage image(path);
    Bytes list = image.read_file(1, RECORD_LIST_NAME);
    list[0] = 0x07;
    image.remove_file(1, RECORD_LIST_NAME);
    image.add_file(1, RECORD_LIST_NAME, list);
    snapshot();
    {
        WardenMount mount(path, mountpoint);
        expect_mounted(mount);
        EXPECT_TRUE(std::filesystem::exists(mountpoint + "/recovery/recover_0004.ts"));
        EXPECT_FALSE(std::filesystem::exists(mountpoint + "/" + host_stem(0, "Evening News (2)") + ".ts"));
        EXPECT_EQ(mount.unmount(), 0);
        EXPECT_THAT(mount.log(), HasSubstr("Invalid record list\n"));
    }
    image.write_bytes(444, {0, 0}); // the partition table's first marker
    snapshot();
    WardenMount broken(path, mountpoint);
    EXPECT_EQ(broken.wait_exit(), 1);
    EXPECT_FALSE(is_mounted(mountpoint));
    EXPECT_EQ(broken.log(), "Unknown partition table\n");
    WardenMount missing(dir.file("none.img"), mountpoint);
    EXPECT_EQ(missing.wait_exit(), 1);
    EXPECT_THAT(missing.log(), HasSubstr("none.img: No such file or directory"));
}

} // namespace
} // namespace testimg

namespace testimg {
namespace {

size_t count_of(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// The command line alone, without mounting (also where FUSE cannot be used).
TEST(WardenfsCommandLine, HelpVersionAndMissingArguments)
{
    RunResult help = run_program(wardenfs_path(), {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("[options] DISK MOUNTPOINT"));
    for (const char *option : {"-h,", "-V,", "-d ", "-f ", "-s ", "max_threads=N", "auto_unmount"})
        EXPECT_EQ(count_of(help.out, option), 1u) << option;
    RunResult version = run_program(wardenfs_path(), {"-V"});
    EXPECT_EQ(version.status, 0);
    EXPECT_THAT(version.out, HasSubstr("wardenfs version " DW_VERSION));
    RunResult none = run_program(wardenfs_path(), {});
    EXPECT_EQ(none.status, 1);
    EXPECT_THAT(none.err, HasSubstr("usage: "));
    EXPECT_THAT(none.err, HasSubstr("[options] DISK MOUNTPOINT\nHumax disk not found\n"));
    RunResult no_mountpoint = run_program(wardenfs_path(), {"disk.img"});
    EXPECT_EQ(no_mountpoint.status, 1);
    EXPECT_THAT(no_mountpoint.err, HasSubstr("no mount point given"));
}

} // namespace
} // namespace testimg
