#pragma once
// The catalogue of named corruptions (in the manner of e2fsprogs' f_* test images): each
// is a recipe applied with the image builder to one small recorder disk, with the status
// of `diskwarden --check`, of `--repair -y` and of a check after the repair. Every test of
// the checker, and of the refusals of the writing commands, takes its damaged disks from
// here.
//
// What the three runs print is kept in files, tests/check/expect/NAME/{check,repair,after}
// (expected_output(), expect_file.h, rewrites them). They name the image "disk.img"; the
// recipes' cluster numbers follow from build_catalogue_disk(), which builds the same disk
// every time. The statuses stay here: they say what kind of damage a corruption is (mended,
// left, partly mended), which tests choose their cases by before anything runs.
#include <functional>
#include <ostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "disk_image.h"

namespace testimg {

struct Corruption {
    std::string name;
    std::function<void(DiskImage &image)> damage;
    int check_status = 4;  // of --check
    int repair_status = 1; // of --repair -y
    int after_status = 0;  // of --check after the repair
    // Files the damage itself changes ("0:2.elu": partition and name): every other file of
    // every listed recording must be byte for byte the same after the repair.
    std::set<std::string> damaged_files = {};
    // Host files the repair saves into its working directory.
    std::vector<std::string> saved = {};
    // Writing commands refuse the damaged disk (clusters in two files, a name twice).
    bool blocks_writing = false;
};

// GoogleTest prints a corruption by its name.
void PrintTo(const Corruption &corruption, std::ostream *out);

const std::vector<Corruption> &corruption_catalogue();
const Corruption &corruption(const std::string &name);

// The file of a corruption's expected output, relative to tests/ (for expect_file.h):
// `run` is "check", "repair" or "after".
std::string corruption_expect_file(const Corruption &corruption, const std::string &run);

// The disk every corruption starts from (304-byte entries, format 0xE0000030):
//   AV (256 clusters of 4 KiB): 2.av (3 clusters), 2.elu, 3.av (4 clusters, every other
//     free cluster), 3.elu, 4.av (2 clusters), 4.elu, and the time-shift buffer 0.av;
//   EPG (256 clusters of 4 KiB): 2.epg, 3.epg, 4.epg, _RECORD_LIST_ (recordings 2, 3, 4
//     in that order, "Two", "Three", "Four") and _RL_BACKUP_ (the same list);
//   MPEG/JPEG (2048 clusters of 512 bytes): photo.jpg.
void build_catalogue_disk(const std::string &path);
constexpr unsigned CATALOGUE_RECORD_LENGTH = 304;

// The files of the catalogue disk's recordings and lists, read back: "0:2.av" -> its
// contents, for every file that can be read whole.
std::map<std::string, Bytes> readable_files(const std::string &path);

} // namespace testimg
