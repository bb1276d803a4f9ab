#pragma once
// The fixture of the mount's tests: a recorder disk whose recordings exercise the mount
// (contiguous, fragmented and reversed chains, sizes that end inside a 4-byte group, a
// listed recording without its stream, two that -g would name alike), the files the
// programs write for it (-g, -H, -i, -r -g) at the paths where the mount must show them,
// and the file system in process. Built only where the mount is (dw_mountsupport).
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "disk/disk_io.h"
#include "disk_fixture.h"
#include "wardenfs/mount_open.h"
#include "wardenfs/wfs.h"

namespace testimg {

using FileSet = std::map<std::string, Bytes>; // mount path -> contents

// A wrapper around a disk stream whose reads fail with EIO while they touch the bytes
// [from, to) and `failing` is set: a bad spot on the disk.
struct BadSpot {
    DiskStream inner;
    uint64_t from = 0, to = 0;
    bool failing = true;
    unsigned long failed = 0; // reads refused
    int code = EIO;           // the errno they fail with
};

// Puts a bad spot over the bytes [from, to) of `stream`, which then owns it (closing the
// stream frees it). The spot stays the caller's to switch and count.
BadSpot *add_bad_spot(DiskStream *stream, uint64_t from, uint64_t to);

class MountFixture : public DiskFixture {
  protected:
    Wfs *wfs = nullptr;
    static std::vector<std::string> log; // what the file system logged since it was opened

    Bytes image_before; // the image as the test made it

    // Stops serving and closes the file system; the image must equal image_before when a
    // snapshot was taken.
    void TearDown() override;

    // Takes the image as it is now as the one that must not change.
    void snapshot();

    // The recordings of the standard disk, in list order.
    static std::vector<TestRecording> recordings();

    // The standard disk. A listed recording lacks its stream, which the consistency check
    // reports: instead, the image must stay byte for byte as made.
    void make_mount_disk(const ImageSpec &spec = fixture_spec());

    // Every file of the directory, by name with `prefix` in front.
    static FileSet files_in(const std::string &dir, const std::string &prefix);

    // What the programs write for the disk, at the paths of the mount: for each of the
    // first `listed` recordings what -g writes (or, without its stream, the companions as
    // stored and the header -H writes) and -i's text as NAME.txt; what -r -g writes in
    // recovery/, and -r -i's text beside each with a .epg; and every file of each
    // partition read by the image reader of the tests.
    FileSet program_files(size_t listed = recordings().size());

    // The recordings that recovery finds on the disk: its .av files.
    size_t recovered() const;

    // Starts serving the file system of a disk already opened and loaded (which it then
    // owns), its log captured in `log`.
    Wfs *serve(HumaxDisk *disk);

    // The file system of the disk as wardenfs opens it, served as serve() does.
    Wfs *open_wfs();

    // The same with a bad spot over the given bytes of the disk from the start; the
    // record list's error of the opening in *list_error when given.
    BadSpot *open_wfs_with_bad_spot(uint64_t from, uint64_t to, Error *list_error = nullptr);

    // Where the bytes of cluster `index` of a file lie on the disk.
    uint64_t cluster_position(int part, const std::string &name, size_t index) const;

    // A whole file through the operations, in reads of `piece` bytes (empty, with a
    // failure of the test, when it cannot be opened).
    static Bytes read_file(Wfs *fs, const std::string &file_path, size_t piece = 128 * 1024);

    // The names wfs_readdir gives for `dir`, "." and ".." included.
    static std::vector<std::string> names_in(Wfs *fs, const std::string &dir);

    // Every file of the file system under `dir` through the operations, each checked to
    // read as many bytes as its size says.
    static FileSet read_tree(Wfs *fs, const std::string &dir = "/");

  private:
    static void capture_log(const char *text);
};

// The names of a file set, for messages that show what differs.
std::vector<std::string> names_of(const FileSet &files);

} // namespace testimg
