#pragma once
// The shared recorder-disk fixture: a temporary directory with a disk image and a host
// directory (the programs' working directory), recordings described in a few fields, and
// runs of the programs that always end with the independent consistency check of every
// image the test made. New end-to-end tests build on this instead of a fixture of their
// own; tests of damaged disks say so with expect_damaged().
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "disk_image.h"
#include "json_doc.h"

namespace testimg {

constexpr uint32_t SUNDAY_2100 = 1369602000; // Sun 26 May 2013 21:00 UTC
constexpr uint32_t FIXTURE_CLUSTER = 32768;  // partition 0's cluster in fixture_spec()

// One recording to put on a fixture disk. An empty `av` leaves out N.av (a listed
// recording whose stream is missing), and likewise for the companions.
struct TestRecording {
    unsigned file_number = 0;
    std::string title;
    Bytes av;
    Bytes elu = {};
    Bytes epg = {};
    Placement placement = Placement::Contiguous;
    std::vector<uint32_t> clusters = {}; // N.av's clusters in chain order (instead of placement)
    uint32_t start = 0; // 0: one day after the previous recording, from SUNDAY_2100
    uint32_t length = 5400;
    std::string channel = "BBC ONE";
    bool is_protected = false;
    Placement epg_placement = Placement::Contiguous; // of N.epg
};

// A recording with all three files: a stream of `av_size` pattern bytes, a companion and
// one programme-information event named after the title.
TestRecording full_recording(unsigned file_number, const std::string &title,
                             size_t av_size = 100000);

// A recording whose stream is broadcast-like (tswriter::make_recording): payloads that
// differ from packet to packet on a video and an audio PID, the PAT and PMT every second,
// the channel's name in the SDT, the title in the EIT and the time in the TDT from
// `start` on; `seconds` long at about 47 kB a second (one 32 KiB cluster every 0.7 s),
// its clock starting at a value of its own (`seed`, default the file number). Its
// programme information holds one event of the same title, start and length.
TestRecording broadcast_recording(unsigned file_number, const std::string &title, unsigned seconds,
                                  uint32_t start, uint32_t seed = 0);

// The default image with partition 0 in clusters of 32 KiB, room for several MiB.
ImageSpec fixture_spec();

// Writes the recordings onto `image` (their files, and the record list with the entries
// of `extra` appended as given), one day apart from SUNDAY_2100 unless a start is given.
// Returns the entries as written.
std::vector<Bytes> write_recordings(DiskImage &image, const std::vector<TestRecording> &recordings,
                                    const std::vector<Bytes> &extra = {},
                                    unsigned record_length = 304);

// A loop device attached to an image (losetup -f --show) for the lifetime of the object,
// as desktop disk-image tools attach one, and detached after. Needs root and losetup:
// without them `device` stays empty and `why` says what was missing (tests skip then).
class LoopDevice {
  public:
    explicit LoopDevice(const std::string &image);
    ~LoopDevice();
    LoopDevice(const LoopDevice &) = delete;
    LoopDevice &operator=(const LoopDevice &) = delete;

    std::string device;
    std::string why;
};

class DiskFixture : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.file("disk.img");
    std::string host = dir.file("host");
    unsigned record_length = 304;

    void SetUp() override;
    // Checks every image of images() unless expect_damaged() was called.
    void TearDown() override;

    // Writes the image at `image_path` (default: path) with the recordings and their list
    // (entries after `extra` appended as given). Returns the entries as written.
    std::vector<Bytes> make_disk(const std::vector<TestRecording> &recordings,
                                 const std::vector<Bytes> &extra = {},
                                 const ImageSpec &spec = fixture_spec(),
                                 const std::string &image_path = "");

    // Runs diskwarden in the host directory with `args` and the disk path(s) appended
    // (none when `disks` is empty), `input` as its standard input; then checks the
    // images. `disks` defaults to {path}.
    RunResult run(std::vector<std::string> args, const std::string &input = "",
                  std::vector<std::string> disks = {{}});
    // The same in the working directory `cwd` (made if missing).
    RunResult run_in(const std::string &cwd, std::vector<std::string> args,
                     const std::string &input = "", std::vector<std::string> disks = {{}});
    // run() with the entries of `env` ("NAME=value") added to the program's environment.
    RunResult run_env(const std::vector<std::string> &env, std::vector<std::string> args,
                      const std::string &input = "", std::vector<std::string> disks = {{}});
    // Empties the host directory, for a test that starts its runs over on a new disk.
    void clear_host();

    // run() with --json in front of `args`: standard output must be one JSON document
    // that python3's json module takes (strictly, see json_doc.h). Returns it parsed (an
    // empty Value after a failure of the test); the run in *result if given.
    testjson::Value run_json(std::vector<std::string> args, const std::string &input = "",
                             RunResult *result = nullptr, std::vector<std::string> disks = {{}});

    // The same with a limit on the size of files the program writes (in 512-byte blocks):
    // a host disk that fills up, as `ulimit -f` makes it.
    RunResult run_limited(unsigned blocks, std::vector<std::string> args,
                          const std::string &input = "");

    // Adds empty files ("fill0", "fill1", ...) to partition `part` until only `leave_free`
    // directory slots are left.
    void fill_directory(int part, unsigned leave_free, const std::string &image_path = "");

    // The bytes of the image at `path`, for comparing before and after a refusal.
    Bytes image_bytes() const { return read_host_file(path); }
    // Every partition's descriptor, allocation table and directory, as stored.
    Bytes table_bytes() const;

    // Later runs read the image at `image_path` (default: path) as a failing drive whose
    // 512-byte sectors `sectors` ("S[:K],...": every read, or the first K) fail with EIO.
    void fail_sectors(const std::string &sectors, const std::string &image_path = "");
    // The disk sector that holds byte `offset` of file `name` of partition `part`.
    uint64_t file_sector(int part, const std::string &name, uint64_t offset,
                         const std::string &image_path = "") const;
    // The file areas [begin, end) a copy loses when the disk's bytes `bad` ([begin, end)
    // pairs) cannot be read: every byte whose read unit (512 bytes, or 4096 when the tests
    // run with the disks opened for direct I/O) touches one of them. Joined, in order.
    std::vector<std::pair<uint64_t, uint64_t>> lost_areas(int part, const std::string &name, uint64_t size,
                                                          const std::vector<std::pair<uint64_t, uint64_t>> &bad) const;
    // `contents` with zeros in `areas`, and the map a copy with those holes has beside it.
    static Bytes with_zeros(Bytes contents, const std::vector<std::pair<uint64_t, uint64_t>> &areas);
    static std::string map_blocks(uint64_t size, const std::vector<std::pair<uint64_t, uint64_t>> &areas);
    // The last run's read transfers of the failing image, and the most reads any of its
    // unreadable sectors had.
    std::pair<unsigned long, unsigned long> fault_reads() const;

    // The images the consistency check covers (path, plus those added), each with
    // record-list entries of `length` bytes (0: record_length). Adding one again with a
    // length sets its length.
    void add_image(const std::string &image_path, unsigned length = 0);
    // This test's images are damaged on purpose: the check after each run is skipped.
    void expect_damaged() { damaged_ = true; }
    // Only the image at `image_path` is damaged on purpose: the others are still checked.
    void expect_damaged(const std::string &image_path);
    // Asserts that every image is consistent now (also done after each run).
    void expect_consistent();

    Bytes host_file(const std::string &name) const;
    std::vector<std::string> host_names() const; // sorted
    // The stored entries of the list of the image at `image_path` (default: path), with
    // the list signature on the first, and entry i of them.
    std::vector<Bytes> stored_entries(const std::string &image_path = "") const;
    Bytes stored_entry(size_t i) const;
    // Whether partition `part` of the image at `path` holds a file called `name`.
    bool on_disk(int part, const std::string &name) const;
    // The contents of file `name` of partition `part` of the image at `image_path`
    // (default: path); nothing when there is no such file.
    std::optional<Bytes> disk_file(int part, const std::string &name,
                                   const std::string &image_path = "") const;
    // Writes the record list of the image at `path` anew with `edit` applied to its
    // entries (the first gets the list signature again).
    void edit_entries(const std::function<void(std::vector<Bytes> &)> &edit);
    // "20130526 2100 Title" for a recording of the fixture that started `day` days after
    // SUNDAY_2100 (the host name without extension).
    static std::string host_stem(int day, const std::string &title);

  private:
    struct CheckedImage {
        std::string path;
        unsigned record_length = 0; // 0: the fixture's record_length
        bool damaged = false;
    };
    std::vector<CheckedImage> images_;
    RunResult run_with(const std::string &cwd, const std::vector<std::string> &env,
                       std::vector<std::string> args, const std::string &input,
                       std::vector<std::string> disks);
    std::vector<std::string> env_;
    bool damaged_ = false;
};

} // namespace testimg
