// The mount's file-system operations in process, without a kernel mount: what each file
// holds against what the programs write, reads at any offset and length, a failing disk,
// refused writes, statfs, and disks whose record list or directory names are damaged.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <fuse.h>

#include <filesystem>
#include <random>

#include "wardenfs/wfs_fuse.h"
#include "corruptions.h"
#include "mount_fixture.h"

namespace testimg {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class Wfs_ : public MountFixture {};

// On disks of both entry lengths (316-byte entries have no information display: their
// .txt says so, as -i does).
class EveryFile : public MountFixture, public ::testing::WithParamInterface<unsigned> {};

TEST_P(EveryFile, IsWhatTheProgramsWrite)
{
    record_length = GetParam();
    ImageSpec spec = fixture_spec();
    if (record_length == 316)
        spec.partitions[1].format_code = 0xE000000F; // the list's length decides
    make_mount_disk(spec);
    FileSet expected = program_files();
    open_wfs();
    FileSet shown = read_tree(wfs);
    EXPECT_EQ(names_of(shown), names_of(expected));
    for (const auto &[name, contents] : expected) {
        auto found = shown.find(name);
        if (found != shown.end()) {
            EXPECT_TRUE(found->second == contents) << name;
        }
    }
    // The recording without its stream shows the rest, and no .ts.
    std::string lost = "/" + host_stem(3, "Lost Stream");
    EXPECT_EQ(shown.count(lost + ".ts"), 0u);
    EXPECT_EQ(shown.count(lost + ".elu") + shown.count(lost + ".epg") + shown.count(lost + ".hre") +
                  shown.count(lost + ".txt"),
              4u);
    EXPECT_EQ(shown[lost + ".hre"].size(), record_length);
    EXPECT_EQ(shown.count("/" + host_stem(0, "EVENING NEWS") + " (7).ts"), 1u);
    std::string text(shown[lost + ".txt"].begin(), shown[lost + ".txt"].end());
    EXPECT_EQ(text.find("***Info disabled***") != std::string::npos, record_length == 316) << text;
    EXPECT_EQ(wfs->fatal_errors, 0u);
    EXPECT_THAT(log, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Wfs, EveryFile, ::testing::Values(304u, 316u));

TEST_F(Wfs_, AttributesAreReadOnlyWithTheRecordingsStartTime)
{
    make_mount_disk();
    open_wfs();
    struct stat status;
    ASSERT_EQ(wfs_getattr(wfs, ("/" + host_stem(1, "Film_ The Long Voyage Home") + ".ts").c_str(),
                          &status),
              0);
    EXPECT_EQ(status.st_mode, S_IFREG | 0444);
    EXPECT_EQ(status.st_size, 5 * FIXTURE_CLUSTER + 6);
    EXPECT_EQ(status.st_mtime, SUNDAY_2100 + 86400);
    ASSERT_EQ(wfs_getattr(wfs, ("/" + host_stem(1, "Film_ The Long Voyage Home") + ".txt").c_str(),
                          &status),
              0);
    EXPECT_EQ(status.st_mtime, SUNDAY_2100 + 86400);
    ASSERT_EQ(wfs_getattr(wfs, "/partitions", &status), 0);
    EXPECT_EQ(status.st_mode, S_IFDIR | 0755);
    EXPECT_EQ(status.st_nlink, 5u); // ".", its entry, and AV, EPG, MPEG_JPEG
    EXPECT_EQ(wfs_getattr(wfs, "/nothing.ts", &status), -ENOENT);
    EXPECT_EQ(wfs_getattr(wfs, "/partitions/AV/9.av", &status), -ENOENT);
    EXPECT_THAT(names_in(wfs, "/partitions"), ElementsAre(".", "..", "AV", "EPG", "MPEG_JPEG"));
    EXPECT_EQ(wfs_opendir(wfs, "/recovery"), 0);
    uint64_t handle;
    EXPECT_EQ(wfs_open(wfs, "/recovery", O_RDONLY, &handle), -EISDIR);
    EXPECT_EQ(wfs_readdir(wfs, "/recovery/recover_0001.ts", nullptr, nullptr), -ENOTDIR);
}

// Reads at random positions and lengths, and every small read around the ends of
// clusters and of the file, against the file's contents.
TEST_F(Wfs_, ReadsAtAnyOffsetAndLength)
{
    make_mount_disk();
    open_wfs();
    std::mt19937_64 random(20);
    for (const TestRecording &r : {recordings()[1], recordings()[2]}) {
        std::string name = "/partitions/AV/" + std::to_string(r.file_number) + ".av";
        uint64_t handle;
        ASSERT_EQ(wfs_open(wfs, name.c_str(), O_RDONLY, &handle), 0);
        const Bytes &want = r.av;
        Bytes got(3 * FIXTURE_CLUSTER + 16);
        auto check = [&](uint64_t offset, size_t length) {
            int n = wfs_read(wfs, handle, reinterpret_cast<char *>(got.data()), length,
                             static_cast<off_t>(offset));
            size_t expect = offset >= want.size() ? 0 : std::min<size_t>(length, want.size() - offset);
            ASSERT_EQ(n, static_cast<int>(expect)) << name << " at " << offset << " +" << length;
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + n, want.begin() + offset))
                << name << " at " << offset << " +" << length;
        };
        for (int i = 0; i < 1500; ++i) {
            uint64_t offset = random() % (want.size() + 10);
            check(offset, random() % got.size());
        }
        for (uint64_t edge = FIXTURE_CLUSTER; edge <= want.size() + 4; edge += FIXTURE_CLUSTER) {
            uint64_t end = std::min<uint64_t>(edge, want.size());
            for (uint64_t offset = end - 9; offset <= end + 2; ++offset)
                for (size_t length = 0; length <= 11; ++length)
                    check(offset, length);
        }
        check(0, got.size());
        wfs_release(wfs, handle);
    }
}

// A bad spot in the middle of a recording: reads that touch it give EIO, and everything
// else goes on, the same file included. The information text of a recording whose .epg
// cannot be read is refused until it can.
TEST_F(Wfs_, AFailingReadGivesEioAndTheMountGoesOn)
{
    make_mount_disk();
    FileSet expected = program_files();
    uint64_t bad = cluster_position(0, "3.av", 2);
    BadSpot *spot = open_wfs_with_bad_spot(bad + 1000, bad + 1512);
    std::string film = "/" + host_stem(1, "Film_ The Long Voyage Home");
    spot->failing = false; // the epg is read below, not here
    uint64_t handle;
    ASSERT_EQ(wfs_open(wfs, (film + ".ts").c_str(), O_RDONLY, &handle), 0);
    spot->failing = true;
    char buffer[4096];
    EXPECT_EQ(wfs_read(wfs, handle, buffer, sizeof buffer, 2 * FIXTURE_CLUSTER), -EIO);
    EXPECT_EQ(wfs_read(wfs, handle, buffer, 3, 2 * FIXTURE_CLUSTER + 1001), -EIO);
    ASSERT_EQ(wfs_read(wfs, handle, buffer, sizeof buffer, 3 * FIXTURE_CLUSTER), 4096);
    EXPECT_EQ(0, memcmp(buffer, expected[film + ".ts"].data() + 3 * FIXTURE_CLUSTER, 4096));
    wfs_release(wfs, handle);
    EXPECT_TRUE(read_file(wfs, "/recovery/recover_0001.ts") == expected["/recovery/recover_0001.ts"]);
    ASSERT_FALSE(log.empty());
    EXPECT_THAT(log[0], HasSubstr(film + ".ts: Input/output error at byte 65536"));
    // An image on a file system that went away: still EIO, never "not connected".
    spot->code = ENOTCONN;
    ASSERT_EQ(wfs_open(wfs, (film + ".ts").c_str(), O_RDONLY, &handle), 0);
    EXPECT_EQ(wfs_read(wfs, handle, buffer, sizeof buffer, 2 * FIXTURE_CLUSTER), -EIO);
    // -o zeros: the two sectors the spot touches read as zeros, said once; read again,
    // they are not asked of the drive again, and the sectors around them are.
    wfs->zeros = true;
    log.clear();
    unsigned long failed_first = 0;
    for (int twice = 0; twice < 2; ++twice) {
        memset(buffer, 0xAA, sizeof buffer);
        ASSERT_EQ(wfs_read(wfs, handle, buffer, sizeof buffer, 2 * FIXTURE_CLUSTER), 4096);
        if (twice == 0)
            failed_first = spot->failed;
        else
            EXPECT_EQ(spot->failed, failed_first);
        Bytes want(expected[film + ".ts"].begin() + 2 * FIXTURE_CLUSTER,
                   expected[film + ".ts"].begin() + 2 * FIXTURE_CLUSTER + 4096);
        std::fill(want.begin() + 512, want.begin() + 1536, 0);
        EXPECT_EQ(0, memcmp(buffer, want.data(), 4096));
    }
    EXPECT_THAT(log, ElementsAre(HasSubstr(film + ".ts: bytes 66048 to 67071 cannot be read, read as zeros")));
    wfs->zeros = false;
    spot->code = EIO;
    wfs_release(wfs, handle);

    // A .txt is rendered when the mount begins; one whose .epg could not be read then is
    // tried again when asked for.
    wfs_end_serving();
    mount_close(wfs);
    uint64_t epg = cluster_position(1, "3.epg", 0);
    spot = open_wfs_with_bad_spot(epg, epg + 1);
    struct stat status;
    EXPECT_EQ(wfs_getattr(wfs, (film + ".txt").c_str(), &status), -EIO);
    EXPECT_EQ(wfs_open(wfs, (film + ".txt").c_str(), O_RDONLY, &handle), -EIO);
    spot->failing = false;
    EXPECT_TRUE(read_file(wfs, film + ".txt") == expected[film + ".txt"]);
    EXPECT_EQ(wfs->fatal_errors, 0u);
}

// The entry points that write only ever refuse; what can differ is how opening and
// access judge their flags, so those are what is held here.
TEST_F(Wfs_, OpeningForWritingIsRefusedAndReadingIsNot)
{
    make_mount_disk();
    open_wfs();
    const fuse_operations *ops = wfs_fuse_operations(wfs);
    std::string file = "/" + host_stem(0, "Evening News (2)") + ".ts";
    const char *p = file.c_str();
    fuse_file_info info{};
    for (int flags : {O_WRONLY, O_RDWR, O_RDONLY | O_TRUNC}) {
        info.flags = flags;
        EXPECT_EQ(ops->open(p, &info), -EROFS) << flags;
    }
    EXPECT_EQ(ops->access(p, W_OK), -EROFS);
    EXPECT_EQ(ops->access(p, R_OK), 0);
    info.flags = O_RDONLY;
    ASSERT_EQ(ops->open(p, &info), 0);
    char first[4];
    EXPECT_EQ(ops->read(p, first, 4, 0, &info), 4);
    EXPECT_EQ(ops->release(p, &info), 0);
}

// statfs: the disk's size, and the free space of the recordings partition that -l shows.
TEST_F(Wfs_, StatfsGivesTheDiskSizeAndTheFreeSpaceOfTheListing)
{
    make_mount_disk();
    RunResult listing = run({"-l"});
    open_wfs();
    struct statvfs status;
    ASSERT_EQ(wfs_statfs(wfs, &status), 0);
    EXPECT_EQ(status.f_blocks * status.f_frsize, std::filesystem::file_size(path));
    DiskImage image(path);
    uint64_t free_clusters = 0;
    for (uint32_t c = 0; c < image.geometry(0).cluster_count; ++c)
        free_clusters += image.fat_entry(0, c) == FAT_FREE ? 1 : 0;
    uint64_t free_bytes = status.f_bavail * status.f_frsize;
    EXPECT_EQ(free_bytes, free_clusters * FIXTURE_CLUSTER);
    EXPECT_EQ(status.f_bsize, FIXTURE_CLUSTER);
    EXPECT_TRUE(status.f_flag & ST_RDONLY);
    // -l rounds to three figures: 29.4 MB for these 29 425 664 bytes.
    char shown[32];
    snprintf(shown, sizeof shown, "Free Space: %llu.%llu MB", static_cast<unsigned long long>(free_bytes / 1000000),
             static_cast<unsigned long long>(free_bytes / 100000 % 10));
    EXPECT_THAT(listing.out, HasSubstr(shown));
}

// Record lists that diskwarden refuses, or cannot read: the disk still mounts, with
// recovery/ and partitions/ as recovery mode gives them.
enum class ListDamage { NoSignature, UnknownLength, Unreadable, Missing };

class DamagedList : public MountFixture, public ::testing::WithParamInterface<ListDamage> {};

TEST_P(DamagedList, TheDiskMountsWithRecoveryAndPartitions)
{
    ListDamage damage = GetParam();
    ImageSpec spec = fixture_spec();
    if (damage == ListDamage::UnknownLength)
        spec.partitions[1].format_code = 0xE000000F; // the list's length decides
    make_mount_disk(spec);
    DiskImage image(path);
    Bytes list = image.read_file(1, RECORD_LIST_NAME);
    ErrorKind want = ErrorKind::RecordList;
    if (damage == ListDamage::NoSignature) {
        list[0] = 0x07;
    } else if (damage == ListDamage::UnknownLength) {
        list.push_back(0);
        want = ErrorKind::RecordLength;
    } else if (damage == ListDamage::Missing) {
        want = ErrorKind::None; // an empty list, as the recorder leaves it
    } else {
        want = ErrorKind::Read;
    }
    if (damage != ListDamage::Unreadable) {
        image.remove_file(1, RECORD_LIST_NAME);
        if (damage != ListDamage::Missing)
            image.add_file(1, RECORD_LIST_NAME, list);
    }
    snapshot();
    FileSet expected = program_files(0);
    uint64_t list_at = damage == ListDamage::Unreadable ? cluster_position(1, RECORD_LIST_NAME, 0) : 0;
    Error found;
    testing::internal::CaptureStderr();
    BadSpot *spot = open_wfs_with_bad_spot(list_at, list_at + (list_at != 0 ? 1 : 0), &found);
    testing::internal::GetCapturedStderr();
    spot->failing = false;
    EXPECT_EQ(found.kind, want);
    EXPECT_THAT(names_in(wfs, "/"), ElementsAre(".", "..", "recovery", "partitions"));
    FileSet shown = read_tree(wfs);
    EXPECT_TRUE(shown == expected) << ::testing::PrintToString(names_of(shown));
}

INSTANTIATE_TEST_SUITE_P(Wfs, DamagedList,
                         ::testing::Values(ListDamage::NoSignature, ListDamage::UnknownLength,
                                           ListDamage::Unreadable, ListDamage::Missing));

// Every disk of the corruption catalogue that diskwarden -r -n reads mounts: whole when
// it can be, otherwise (a truncated image, a damaged partition table, EPG or MPEG/JPEG
// table) recovery/ and partitions/AV from its recordings partition alone, with a
// warning, each file as -r -n -g writes it.
TEST_F(Wfs_, EveryDiskThatRecoveryReadsMounts)
{
    expect_damaged();
    size_t partial = 0;
    for (const Corruption &c : corruption_catalogue()) {
        build_catalogue_disk(path);
        {
            DiskImage image(path);
            c.damage(image);
        }
        RunResult rescue = run_in(host, {"-r", "-n", "-l"});
        Wfs *fs = nullptr;
        Error error;
        testing::internal::CaptureStderr();
        bool mounted = mount_open(path.c_str(), {}, MountScope::Whole, &fs, &error);
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(mounted, rescue.status == 0) << c.name << ": " << error.text << rescue.err;
        EXPECT_THAT(said + error.text, ::testing::Not(HasSubstr("-r -n"))) << c.name; // no wardenfs option
        if (!mounted)
            continue;
        if (said.find("The disk cannot be read whole") != std::string::npos) {
            ++partial;
            EXPECT_THAT(names_in(fs, "/"), ElementsAre(".", "..", "recovery", "partitions")) << c.name;
            EXPECT_THAT(names_in(fs, "/partitions"), ElementsAre(".", "..", "AV")) << c.name;
            std::string out = host + "/" + c.name;
            std::filesystem::create_directories(out);
            run_program(diskwarden_path(), {"-r", "-n", "-g", "1-99", path}, "", out);
            FileSet written = files_in(out, "/recovery/");
            FileSet shown = read_tree(fs, "/recovery");
            EXPECT_EQ(names_of(shown), names_of(written)) << c.name;
            EXPECT_TRUE(shown == written) << c.name;
        }
        mount_close(fs);
    }
    printf("%zu of %zu damaged disks mount from their recordings partition alone\n", partial,
           corruption_catalogue().size());
    EXPECT_GE(partial, 5u);
}

// Titles in the disk's DVB text are shown in UTF-8 at the top, while -g keeps its names;
// a listed recording's files carry its title, channel, start, duration and synopsis as
// extended attributes, wherever they are shown.
TEST_F(Wfs_, TitlesInUtf8AndTheProgrammeAsAttributes)
{
    TestRecording cafe = full_recording(2, "Caf\xC2" "e", 5000);                  // ISO 6937
    TestRecording news = full_recording(3, "\x01\xBD\xDE\xD2\xDE\xE1\xE2\xD8", 5000); // ISO 8859-5
    news.channel = "\x01\xBF\xD5\xE0\xD2\xEB\xD9";
    make_disk({cafe, news});
    open_wfs();
    std::string stem = "/" + host_stem(0, "Café");
    std::vector<std::string> top = names_in(wfs, "/");
    EXPECT_THAT(top, ::testing::Contains(stem.substr(1) + ".ts"));
    EXPECT_THAT(top, ::testing::Contains(host_stem(1, "Новости") + ".ts"));
    EXPECT_EQ(run_in(host, {"-g", "1"}).status, 0);
    EXPECT_TRUE(read_file(wfs, stem + ".ts") == read_host_file(host + "/" + host_stem(0, "Caf_e") + ".ts"));
    auto attribute = [&](const std::string &path, const char *name) {
        char value[256];
        int n = wfs_getxattr(wfs, path.c_str(), name, value, sizeof value);
        return n < 0 ? "error " + std::to_string(n) : std::string(value, static_cast<size_t>(n));
    };
    EXPECT_EQ(attribute(stem + ".ts", "user.title"), "Café");
    EXPECT_EQ(attribute(stem + ".txt", "user.start"), "2013-05-26T21:00:00Z");
    EXPECT_EQ(attribute(stem + ".ts", "user.duration"), "5400");
    EXPECT_EQ(attribute(stem + ".ts", "user.channel"), "BBC ONE");
    EXPECT_EQ(attribute("/recovery/recover_0001.ts", "user.synopsis"), "About Café");
    EXPECT_EQ(attribute("/" + host_stem(1, "Новости") + ".epg", "user.channel"), "Первый");
    EXPECT_EQ(attribute(stem + ".ts", "user.other"), "error " + std::to_string(-ENODATA));
    char names[256];
    int n = wfs_listxattr(wfs, (stem + ".ts").c_str(), names, sizeof names);
    EXPECT_EQ(std::string(names, static_cast<size_t>(std::max(n, 0))),
              std::string("user.title\0user.channel\0user.start\0user.duration\0user.synopsis\0", 63));
    EXPECT_EQ(wfs_listxattr(wfs, (stem + ".ts").c_str(), names, 0), n);
    EXPECT_EQ(wfs_listxattr(wfs, (stem + ".ts").c_str(), names, 10), -ERANGE);
    EXPECT_EQ(wfs_listxattr(wfs, "/recovery", names, sizeof names), 0);
}

// Directory names are shown cleaned as the recordings' names are (no byte of a disk's
// name reaches a terminal that lists the directory), unless that takes a real name; names
// no directory can hold, and a second entry of a name, are left out with a warning.
TEST_F(Wfs_, NamesAreShownCleanedOrLeftOut)
{
    make_mount_disk();
    DiskImage image(path);
    image.add_file(2, "picture.jpg", pattern_bytes(100, 7));
    image.add_file(2, "a/b", pattern_bytes(100, 8));
    image.add_file(2, "..", pattern_bytes(100, 9));
    int slot = image.add_file(2, "twice", pattern_bytes(100, 10));
    image.set_dir_slot(2, slot + 1, image.dir_slot(2, slot)); // the same entry again
    image.add_file(2, "\x1B]2;owned\x07\x9B" "2J\x7F.jpg", pattern_bytes(100, 11));
    image.add_file(2, "c:d", pattern_bytes(100, 12));
    image.add_file(2, "c_d", pattern_bytes(100, 13));
    snapshot();
    testing::internal::CaptureStderr();
    open_wfs();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_THAT(names_in(wfs, "/partitions/MPEG_JPEG"),
                ElementsAre(".", "..", "picture.jpg", "twice", "c_d", "a_b", "_]2;owned__2J_.jpg"));
    EXPECT_THAT(err, HasSubstr("MPEG/JPEG partition: the file named \"a/b\" is shown as \"a_b\"\n"));
    EXPECT_THAT(err, HasSubstr("MPEG/JPEG partition: the file named \".]2;owned..2J..jpg\" is shown as "
                               "\"_]2;owned__2J_.jpg\"\n"));
    EXPECT_THAT(err, HasSubstr("MPEG/JPEG partition: a file named \"c:d\" is not shown: \"c_d\""));
    EXPECT_THAT(err, HasSubstr("MPEG/JPEG partition: a file named \"..\" cannot be shown"));
    EXPECT_THAT(err, HasSubstr("MPEG/JPEG partition: a second file named \"twice\" is not shown"));
    for (unsigned char c : err)
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << int{c};
    EXPECT_TRUE(read_file(wfs, "/partitions/MPEG_JPEG/twice") == pattern_bytes(100, 10));
    EXPECT_TRUE(read_file(wfs, "/partitions/MPEG_JPEG/a_b") == pattern_bytes(100, 8));
    EXPECT_TRUE(read_file(wfs, "/partitions/MPEG_JPEG/_]2;owned__2J_.jpg") == pattern_bytes(100, 11));
    EXPECT_TRUE(read_file(wfs, "/partitions/MPEG_JPEG/c_d") == pattern_bytes(100, 13));
}

} // namespace
} // namespace testimg
