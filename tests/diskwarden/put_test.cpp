#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "diskwarden/put.h"
#include "common/record_entry.h"
#include "common/run_options.h"
#include "disk/directory.h"
#include "disk_fixture.h"
#include "disk_opening.h"
#include "ts_writer.h"

namespace {

using namespace testimg;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
namespace fs = std::filesystem;

constexpr unsigned RL = 304;

// One recording's host files; an empty vector means the file is absent.
struct HostRecording {
    Bytes ts, hre, elu, epg;
};

HostRecording sample(uint32_t seed, size_t ts_size = 20003)
{
    HostRecording r;
    r.ts = pattern_bytes(ts_size, seed);
    r.hre = make_entry(RL, 0, 1500000000 + seed, 1500003600 + seed, "Show " + std::to_string(seed));
    // Opaque bytes and lead bytes must travel unchanged.
    for (unsigned offset : {0u, 1u, 4u, 7u, 8u, 12u, 200u, 303u})
        r.hre[offset] = static_cast<uint8_t>(0x5A + seed);
    r.elu = pattern_bytes(1001 + seed, seed + 100);
    r.epg = make_epg({{1500000000 + seed, 3600, "Show", "A synopsis"}});
    return r;
}

void write_recording(const std::string &dir, const std::string &stem, const HostRecording &r)
{
    const std::pair<const char *, const Bytes *> parts[] = {
        {".ts", &r.ts}, {".hre", &r.hre}, {".elu", &r.elu}, {".epg", &r.epg}};
    for (const auto &[extension, bytes] : parts)
        if (!bytes->empty())
            write_host_file(dir + "/" + stem + extension, *bytes);
}

// As the disk holds contents: each 4-byte group reversed, a last partial group
// completed with zero bytes before it is reversed (and cut back to the size).
Bytes stored_bytes(Bytes contents)
{
    size_t size = contents.size();
    contents.resize((size + 3) / 4 * 4);
    contents = swapped_words(contents);
    contents.resize(size);
    return contents;
}

// Bytes that reading gives, whatever size the file claims.
size_t readable_bytes(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return std::distance(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

unsigned file_number(const Bytes &entry) { return entry[5] << 8 | entry[6]; }

// The list entry a put makes of a header: both file numbers set, the rest as it was
// (the first entry of a list carries the list signature in its lead bytes).
Bytes entered(Bytes hre, unsigned number, bool first)
{
    for (unsigned offset : {5u, 9u}) {
        hre[offset] = static_cast<uint8_t>(number >> 8);
        hre[offset + 1] = static_cast<uint8_t>(number);
    }
    if (first)
        std::copy(LIST_SIGNATURE, LIST_SIGNATURE + 5, hre.begin());
    return hre;
}

class Put : public DiskFixture {
  protected:
    std::string recs = host + "/recs";

    void SetUp() override
    {
        DiskFixture::SetUp();
        run_options = RunOptions{};
        fs::create_directory(recs);
        DiskImage(path, default_spec());
    }
    RunResult put(const std::string &pattern, const std::string &input = "",
                  std::vector<std::string> options = {"-y"}, const std::string &cwd = "")
    {
        options.insert(options.end(), {"-p", pattern});
        return run_in(cwd.empty() ? host : cwd, options, input);
    }
    // A disk with an existing recording with file number `number` and its N.av.
    void add_existing_recording(unsigned number)
    {
        make_disk({{.file_number = number, .title = "Old", .av = pattern_bytes(5000, number),
                    .start = 1400000000, .length = 3600}},
                  {}, default_spec());
    }
    // The recording's three disk files hold exactly the host files' bytes, stored with
    // every 4-byte group reversed, under the attributes of a put.
    void expect_files(unsigned number, const HostRecording &r)
    {
        DiskImage disk(path);
        std::string n = std::to_string(number);
        const std::tuple<int, std::string, const Bytes *, uint32_t> files[] = {
            {0, n + ".av", &r.ts, 0x1002}, {0, n + ".elu", &r.elu, 0x1000},
            {1, n + ".epg", &r.epg, 0x1000}};
        for (const auto &[part, name, bytes, attributes] : files) {
            auto info = disk.find(part, name);
            ASSERT_TRUE(info) << name;
            EXPECT_EQ(info->attributes, attributes) << name;
            EXPECT_EQ(disk.read_file(part, name), *bytes) << name;
            EXPECT_EQ(disk.read_file_raw(part, name), stored_bytes(*bytes)) << name;
        }
    }
};

TEST_F(Put, AsksBeforePutting)
{
    write_recording(recs, "a", sample(1));
    const std::string question =
        "WARNING this may corrupt your Humax hard disk - do you wish to continue? [no]: ";

    RunResult no = put("recs/a.ts", "n\n", {});
    EXPECT_EQ(no.status, 1);
    EXPECT_THAT(no.err, EndsWith(question + "Aborting...\n"));
    EXPECT_FALSE(on_disk(0, "2.av"));

    RunResult yes = put("recs/a.ts", "y\n", {});
    EXPECT_EQ(yes.status, 0) << yes.err;
    EXPECT_THAT(yes.err, HasSubstr(question + "Copying file 'a.ts'...\n"));
    EXPECT_TRUE(on_disk(0, "2.av"));

    RunResult all = put("recs/a.ts", "");
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_THAT(all.err, HasSubstr(question + "yes\nCopying file 'a.ts'...\n"));
    EXPECT_TRUE(on_disk(0, "3.av"));
}

TEST_F(Put, PutsEveryMatchInNameOrderWhereverThePatternPointsTo)
{
    HostRecording a = sample(1), b = sample(2);
    write_recording(recs, "b", b);
    write_recording(recs, "a", a);
    write_host_file(recs + "/notes.txt", {1, 2, 3});
    const std::pair<std::string, std::string> runs[] = {
        {"recs/*.ts", host}, {recs + "/?.ts", "/"}, {"*.ts", recs}};
    for (const auto &[pattern, cwd] : runs) {
        SCOPED_TRACE(pattern);
        DiskImage(path, default_spec());
        RunResult r = put(pattern, "", {"-y"}, cwd);
        ASSERT_EQ(r.status, 0) << r.err;
        std::string copies_a = "Copying file 'a.ts'...\nCopying file 'a.elu'...\n"
                               "Copying file 'a.epg'...\n";
        std::string copies_b = copies_a;
        for (size_t i = copies_b.find("'a."); i != std::string::npos; i = copies_b.find("'a."))
            copies_b[i + 1] = 'b';
        EXPECT_THAT(r.err, HasSubstr(copies_a));
        EXPECT_LT(r.err.find(copies_a), r.err.find(copies_b));
        expect_files(2, a);
        expect_files(3, b);
        EXPECT_EQ(stored_entries(), (std::vector<Bytes>{entered(a.hre, 2, true), entered(b.hre, 3, false)}));
    }
}

TEST_F(Put, NumbersFillTheGapsBetweenExistingFiles)
{
    {
        DiskImage disk(path);
        for (const char *name : {"0.av", "1.av", "2.av", "4.av"})
            disk.add_file(0, name, pattern_bytes(100), 0x1002);
    }
    write_recording(recs, "a", sample(1));
    write_recording(recs, "b", sample(2));
    ASSERT_EQ(put("recs/*.ts").status, 0);
    EXPECT_EQ(file_number(stored_entries()[0]), 3u);
    EXPECT_EQ(file_number(stored_entries()[1]), 5u);
    EXPECT_TRUE(on_disk(0, "3.elu") && on_disk(1, "3.epg") && on_disk(0, "5.av"));
}

TEST_F(Put, LargeStreamThroughFragmentedSpaceArrivesByteForByte)
{
    ImageSpec spec = default_spec();
    spec.partitions[0].cluster_count = 3000; // 4 KiB clusters
    {
        DiskImage disk(path, spec);
        // Holes of five clusters between files: the new chain is made of short runs
        // first, then one long run.
        for (int i = 0; i < 40; ++i)
            disk.add_file(0, "fill" + std::to_string(i), pattern_bytes(5 * 4096, i));
        for (int i = 0; i < 40; i += 2)
            disk.remove_file(0, "fill" + std::to_string(i));
    }
    // More than two transfer buffers, ending inside a 4-byte group.
    HostRecording r = sample(7, 9 * 1024 * 1024 + 4096 * 3 + 3);
    write_recording(recs, "big", r);
    RunResult result = put("recs/big.ts");
    ASSERT_EQ(result.status, 0) << result.err;
    expect_files(2, r);
}

TEST_F(Put, HeaderMustHoldExactlyOneEntryOfTheDisk)
{
    add_existing_recording(2);
    std::vector<Bytes> before = stored_entries();
    HostRecording r = sample(1);
    for (size_t size : {RL - 1, RL + 1, RL + 12}) {
        r.hre.resize(size);
        write_recording(recs, "a", r);
        RunResult result = put("recs/a.ts");
        EXPECT_EQ(result.status, 1);
        EXPECT_THAT(result.err, HasSubstr("Incompatible hre file\n"));
        EXPECT_THAT(result.err, Not(HasSubstr("Copying")));
        EXPECT_EQ(stored_entries(), before);
        EXPECT_FALSE(on_disk(0, "3.av"));
    }
}

TEST_F(Put, LongEntriesOnADiskOfLongEntries)
{
    ImageSpec spec = default_spec();
    spec.partitions[1].format_code = 0xE000000F; // record length from the list's size
    record_length = 316;
    {
        DiskImage disk(path, spec);
        disk.add_file(0, "2.av", pattern_bytes(100), 0x1002);
        disk.write_record_list({make_entry(316, 2, 1, 2, "Old")}, 316);
    }
    HostRecording r = sample(1);
    write_recording(recs, "a", r);
    RunResult short_header = put("recs/a.ts");
    EXPECT_EQ(short_header.status, 1);
    EXPECT_THAT(short_header.err, HasSubstr("Incompatible hre file\n"));

    r.hre = make_entry(316, 0, 5, 6, "Long");
    r.hre[315] = 0x77;
    write_recording(recs, "a", r);
    RunResult result = put("recs/a.ts");
    ASSERT_EQ(result.status, 0) << result.err;
    std::vector<Bytes> entries = stored_entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1], entered(r.hre, 3, false));
}

TEST_F(Put, RecordingWithoutHeaderIsSkipped)
{
    HostRecording a = sample(1), b = sample(2);
    a.hre.clear();
    write_recording(recs, "a", a);
    write_recording(recs, "b", b);
    RunResult r = put("recs/*.ts");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.err, HasSubstr("yes\na.hre: No such file or directory\nCopying file 'b.ts'"));
    expect_files(2, b);
    EXPECT_EQ(stored_entries(), std::vector<Bytes>{entered(b.hre, 2, true)});
}

TEST_F(Put, MissingCompanionFilesAreReportedAndLeftOut)
{
    HostRecording r = sample(1);
    r.elu.clear();
    r.epg.clear();
    write_recording(recs, "a", r);
    RunResult result = put("recs/a.ts");
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.err, HasSubstr("Copying file 'a.ts'...\na.elu: No such file or directory\n"
                                      "a.epg: No such file or directory\n"));
    EXPECT_EQ(DiskImage(path).read_file(0, "2.av"), r.ts);
    EXPECT_FALSE(on_disk(0, "2.elu"));
    EXPECT_FALSE(on_disk(1, "2.epg"));
    EXPECT_EQ(stored_entries(), std::vector<Bytes>{entered(r.hre, 2, true)});
}

TEST_F(Put, TakenCompanionNameStopsBeforeAnythingIsWritten)
{
    write_recording(recs, "a", sample(1));
    const std::pair<int, std::string> taken[] = {{0, "2.elu"}, {1, "2.epg"}};
    for (const auto &[part, name] : taken) {
        DiskImage(path, default_spec()).add_file(part, name, pattern_bytes(10));
        RunResult r = put("recs/a.ts");
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr("Error: file " + name + " already exists\n"));
        EXPECT_FALSE(on_disk(0, "2.av"));
        EXPECT_THAT(stored_entries(), IsEmpty());
    }
}

TEST_F(Put, InsufficientSpaceLeavesTheDiskAsItWas)
{
    // Partition 0 holds 1 MiB. The stream alone too big; then the stream fitting but not
    // together with its companion file.
    const std::pair<size_t, size_t> sizes[] = {{2 << 20, 100}, {700 << 10, 400 << 10}};
    for (const auto &[ts_size, elu_size] : sizes) {
        DiskImage(path, default_spec());
        add_existing_recording(2);
        std::vector<Bytes> before = stored_entries();
        HostRecording r = sample(1, ts_size);
        r.elu = pattern_bytes(elu_size);
        write_recording(recs, "a", r);
        RunResult result = put("recs/a.ts");
        EXPECT_EQ(result.status, 1);
        EXPECT_THAT(result.err, HasSubstr("Insufficient space\n"));
        EXPECT_EQ(stored_entries(), before);
        EXPECT_FALSE(on_disk(0, "3.av"));
    }
}

TEST_F(Put, RefusesNamesThatAreNotStreams)
{
    write_recording(recs, "a", sample(1));
    for (const char *pattern : {"recs/a.hre", "recs/*", "recs/a*"}) {
        RunResult r = put(pattern);
        EXPECT_EQ(r.status, 1) << pattern;
        EXPECT_THAT(r.err, HasSubstr("Invalid file type\n")) << pattern;
    }
    EXPECT_FALSE(on_disk(0, "2.av"));
}

TEST_F(Put, PatternsThatFindNothing)
{
    RunResult none = put("recs/*.ts");
    EXPECT_EQ(none.status, 1);
    EXPECT_THAT(none.err, HasSubstr("yes\nrecs/*.ts: No files found\n"));
    RunResult no_dir = put("missing/*.ts");
    EXPECT_EQ(no_dir.status, 1);
    EXPECT_THAT(no_dir.err, HasSubstr("yes\nError searching for file\n"));
}

// Kernel files whose declared size differs from what reading them gives stand in for
// host files that change while they are copied.
TEST_F(Put, HostFileChangingSizeStopsBeforeTheTablesAreWritten)
{
    const char *changing[] = {"/proc/self/status", "/sys/kernel/mm/transparent_hugepage/enabled"};
    write_recording(recs, "a", sample(1));
    int tried = 0;
    for (const char *source : changing) {
        struct stat status;
        if (stat(source, &status) != 0 ||
            static_cast<size_t>(status.st_size) == readable_bytes(source))
            continue;
        ++tried;
        fs::remove(recs + "/a.ts");
        fs::create_symlink(source, recs + "/a.ts");
        RunResult r = put("recs/a.ts");
        EXPECT_EQ(r.status, 1) << source;
        EXPECT_THAT(r.err, HasSubstr("File 'a.ts' changed size while it was copied")) << source;
        EXPECT_FALSE(on_disk(0, "2.av"));
        EXPECT_THAT(stored_entries(), IsEmpty());
    }
    if (tried == 0)
        GTEST_SKIP() << "no kernel file with a misleading size";
}

TEST_F(Put, InProcessFailuresBeforeAnythingIsWritten)
{
    HostRecording r = sample(1);
    r.ts.clear();
    write_recording(recs, "a", r);
    std::string stream = recs + "/a.ts";
    EXPECT_EXIT(cmd_put_recording(testimg::open_disk(path, true), stream.c_str()),
                ::testing::ExitedWithCode(1), "a\\.ts: No such file or directory");

    write_host_file(stream, pattern_bytes(10));
    // The directory cannot hold so many names; only an in-memory list can be this full.
    auto fill_numbers = [&] {
        HumaxDisk *disk = testimg::open_disk(path, true);
        for (unsigned n = 2; n <= 2047; ++n)
            dirent_set_name(dir_new_entry(&disk->partitions[0]), (std::to_string(n) + ".av").c_str());
        cmd_put_recording(disk, stream.c_str());
    };
    EXPECT_EXIT(fill_numbers(), ::testing::ExitedWithCode(1), "No free file number");
    EXPECT_TRUE(DiskImage(path).files(0).empty());
}

TEST_F(Put, RoundTripThroughGetGivesBackTheSameBytes)
{
    HostRecording r = sample(3, 100003);
    write_recording(recs, "a", r);
    ASSERT_EQ(put("recs/a.ts").status, 0);
    RunResult listing = run({"-l"});
    EXPECT_EQ(listing.status, 0) << listing.err;
    EXPECT_THAT(listing.out, HasSubstr("Show 3"));

    std::string out = dir.file("out");
    RunResult got = run_in(out, {"-g", "1"});
    ASSERT_EQ(got.status, 0) << got.err;
    std::map<std::string, Bytes> fetched;
    for (const auto &item : fs::directory_iterator(out))
        fetched[item.path().extension()] = read_host_file(item.path());
    EXPECT_EQ(fetched.size(), 4u);
    EXPECT_EQ(fetched[".ts"], r.ts);
    EXPECT_EQ(fetched[".elu"], r.elu);
    EXPECT_EQ(fetched[".epg"], r.epg);
    EXPECT_EQ(fetched[".hre"], entered(r.hre, 2, true));
}

TEST_F(Put, HeaderMadeByReelhead)
{
    add_existing_recording(2);
    tswriter::make_recording({}).save(recs + "/20240501 2000 Film.ts");
    RunResult made = run_program(reelhead_path(), {recs + "/20240501 2000 Film.ts"}, "", recs);
    ASSERT_EQ(made.status, 0) << made.err;
    Bytes hre = read_host_file(recs + "/20240501 2000 Film.hre");
    ASSERT_EQ(hre.size(), RL);
    ASSERT_EQ(hre[11], 1); // entry_marker
    RunResult r = put("recs/*.ts");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<Bytes> entries = stored_entries();
    ASSERT_EQ(entries.size(), 2u);
    // Not the first entry: the zero lead bytes stay.
    EXPECT_EQ(entries[1], entered(hre, 3, false));
}

} // namespace
