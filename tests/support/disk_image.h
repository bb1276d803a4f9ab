#pragma once
// Builds recorder disk images for tests, in temporary files, written independently of
// the code under test (its own encoding of the on-disk layout), and reads them back.
//
// Layout written: sector 0 holds the partition table (markers 0x00AF at 444/460/476,
// 16-bit halves of sector counts and start sectors); each partition begins with its
// descriptor sector, then the utab region (1 sector), the allocation table, the
// directory (256 sectors) and the data area, which ends exactly at the partition's end.
// All 32-bit table values little-endian; names and file contents with every aligned
// 4-byte group reversed.
//
// Misuse (a bad argument, no room, an unreadable image) throws std::runtime_error with a
// message, so a test that trips over it fails with that message.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testimg {

using Bytes = std::vector<uint8_t>;

inline constexpr uint32_t FAT_END = 0xFFFFFFFE;
inline constexpr uint32_t FAT_FREE = 0xFFFFFFFF;
inline constexpr uint32_t DEFAULT_FORMAT = 0xE0000030;
inline const std::string RECORD_LIST_NAME = "_RECORD_LIST_";

struct PartitionSpec {
    uint32_t start_sector = 0;      // 0: placed after the previous partition
    uint16_t cluster_sectors = 8;
    uint32_t cluster_count = 256;
    uint32_t format_code = 0;       // 0: 0xE0000030 for every partition
    uint32_t fat_sectors = 0;       // 0: just enough for cluster_count + 1 words
    uint32_t dir_sectors = 256;
};

struct ImageSpec {
    PartitionSpec partitions[3];
    uint32_t first_start_sector = 64; // where partition 0 starts when its start is 0
};

// A small default image: 3 partitions of 256 clusters of 8 sectors.
ImageSpec default_spec();

// Which clusters a new file gets.
enum class Placement { Contiguous, Fragmented, Reversed };

struct FileInfo {
    std::string name;
    uint64_t size = 0;
    uint32_t attributes = 0;
    uint32_t first_sector = 0;
    uint32_t last_sector = 0;
    uint32_t allocated_sectors = 0;
    std::vector<uint32_t> clusters; // the chain, bounded by cluster_count steps
    int slot = 0;
};

// The geometry of one partition as its partition-table entry and descriptor give it.
struct PartitionGeometry {
    uint32_t start_sector = 0, sector_count = 0, format_code = 0, cluster_sectors = 0,
             cluster_count = 0, utab_sector = 0, dir_sector = 0, fat_sector = 0,
             data_sector = 0, utab_sectors = 0, dir_sectors = 0, data_sectors = 0,
             fat_sectors = 0;
};

class DiskImage {
  public:
    // Creates (or replaces) a sparse image file at `path` laid out by `spec`, with empty
    // tables and directories.
    DiskImage(std::string path, const ImageSpec &spec);
    // Opens an existing image (written by this class or by the code under test). Throws
    // when sector 0 lacks the three partition markers.
    explicit DiskImage(std::string path);
    // The same on an image held in `memory` (which must outlive this object): made afresh
    // from `spec`, or read as it is. For the fuzz targets, which build one per input.
    DiskImage(Bytes *memory, const ImageSpec &spec);
    explicit DiskImage(Bytes *memory);

    const std::string &path() const { return path_; }
    // The layout with every default resolved (for an opened image: from its descriptors).
    const ImageSpec &spec() const { return spec_; }
    // The accessors below read the partition table and descriptor as they are on the
    // image now, so they follow set_descriptor_u32() and the code under test.
    PartitionGeometry geometry(int part) const;
    uint32_t start_sector(int part) const;
    uint32_t data_sector(int part) const;
    uint32_t fat_sector(int part) const;
    uint32_t dir_sector(int part) const;
    uint32_t cluster_length(int part) const; // bytes

    // Adds a file with the given logical (natural-order) contents; allocates clusters per
    // `placement` (Contiguous: the first run of free clusters long enough; Fragmented:
    // every other free cluster; Reversed: descending from the highest free cluster) and
    // writes them swapped. A file of size 0 gets one cluster. Writes the table and
    // directory at once, the entry in the first free slot. Returns the directory slot.
    // Throws when the name exists already or is longer than 60 bytes, or without room.
    int add_file(int part, const std::string &name, const Bytes &contents,
                 uint32_t attributes = 0x1000, Placement placement = Placement::Contiguous);
    // Same, with explicit clusters (chained in the given order). They must be free,
    // distinct, and exactly as many as the size needs (at least one).
    int add_file_at(int part, const std::string &name, const Bytes &contents,
                    const std::vector<uint32_t> &clusters, uint32_t attributes = 0x1000);
    void remove_file(int part, const std::string &name); // frees its chain and slot
    // Zeroes the allocation table and the directory of the partition, as a disk whose
    // tables were wiped (the clusters keep their contents).
    void zero_tables(int part);

    // Record list "_RECORD_LIST_" in partition 1: the entries (each record_length bytes,
    // logical order) followed by the 5-byte trailer. Replaces an existing list. As the
    // recorder does, the signature 01 00 00 01 01 is written into the first 5 bytes of
    // the first entry (whatever the caller put there). An empty vector leaves no list
    // file at all. For a list without signature, use add_file() directly.
    void write_record_list(const std::vector<Bytes> &entries, unsigned record_length);

    // Raw access for corruptions. Table entries can be reached for every cluster whose
    // word lies inside the table region.
    uint32_t fat_entry(int part, uint32_t cluster) const;
    void set_fat_entry(int part, uint32_t cluster, uint32_t value);
    uint32_t fat_word0(int part) const;
    void set_fat_word0(int part, uint32_t value);
    Bytes dir_slot(int part, int slot) const;   // raw 128 bytes as on the disk
    void set_dir_slot(int part, int slot, const Bytes &raw);
    void set_descriptor_u32(int part, unsigned offset, uint32_t value);
    void set_descriptor_u16(int part, unsigned offset, uint16_t value);
    Bytes read_sectors(uint32_t sector, uint32_t count) const;
    void write_bytes(uint64_t position, const Bytes &data);

    // Reading back (through the image's own tables, whoever wrote them).
    std::vector<FileInfo> files(int part) const; // in slot order
    std::optional<FileInfo> find(int part, const std::string &name) const;
    // Both throw when the name is missing or its chain holds fewer bytes than its size.
    Bytes read_file(int part, const std::string &name) const;     // logical contents
    Bytes read_file_raw(int part, const std::string &name) const; // stored bytes, size-bounded
    // The entries of the record list (empty when there is no list file). Throws unless
    // the file is n * record_length + 5 bytes ending in five zero bytes.
    std::vector<Bytes> record_list_entries(unsigned record_length) const;

    Bytes *memory() const { return memory_; } // null for an image file

  private:
    std::string path_;
    Bytes *memory_ = nullptr;
    ImageSpec spec_;
    void create(const ImageSpec &spec);
    void load_spec();
    // Sector of a region of the partition: 0 descriptor, 1 utab, 2 table, 3 directory,
    // 4 data area.
    uint32_t region_start(int part, int which) const;
    std::vector<uint32_t> take_free_clusters(int part, uint64_t count, Placement placement);
    int free_slot(int part) const;
    std::vector<uint32_t> fat_words(int part) const; // the whole table region
    void write_fat_words(int part, const std::vector<uint32_t> &words);
    FileInfo existing(int part, const std::string &name) const; // throws when missing
    Bytes chain_bytes(int part, const FileInfo &info) const;    // whole clusters, stored
};

// An independent consistency check of an image: every chain valid and within the
// partition, no cluster in two chains, no cluster marked used that no file owns, word 0
// equal to the free clusters, every file's allocated sectors and size consistent with its
// chain (exactly the clusters its size needs, one for size 0), no name twice in a
// directory. With `record_length` nonzero, also the record list's size, trailer and
// signature, and that every numbered record-list entry's N.av exists.
// Returns the problems found, empty when consistent.
std::vector<std::string> check_image(const std::string &path, unsigned record_length = 0);

// The same problems with their kind, so that a caller can tell space wasted (clusters no
// file owns, word 0 claiming fewer free clusters than there are) from damage without
// reading the messages.
enum class ImageProblemKind {
    Layout,          // the descriptor's sums
    InvalidEntry,    // a table entry that is no cluster, end or free
    FirstOutside,    // a file starting at no cluster of the data area
    ChainLoops,
    SharedCluster,   // one cluster in two chains
    EndsFree,        // a chain ending in a cluster marked free
    AllocatedWrong,  // allocated_sectors against the chain
    SizeWrong,       // the size against the chain's length
    LastSectorWrong,
    NameTwice,
    UnownedClusters, // marked used, in no file
    FreeCountLow,    // word 0 claims fewer free clusters than the table has
    FreeCountHigh,   // word 0 claims more
    ListForm,        // the record list's size, trailer or signature
    StreamMissing,   // a listed recording without its .av
    Unreadable,      // the image or a partition could not be read
};
struct ImageProblem {
    ImageProblemKind kind;
    std::string text; // as check_image returns it
};
std::vector<ImageProblem> check_image_problems(const std::string &path, unsigned record_length = 0);
std::vector<ImageProblem> check_image_problems(const DiskImage &image, unsigned record_length = 0);

// A 304- or 316-byte entry with the given fields (big-endian), the rest zero. The lead
// bytes stay zero; title and channel are cut to their fields (52 and 24 bytes).
Bytes make_entry(unsigned record_length, unsigned file_number, uint32_t start_time,
                 uint32_t end_time, const std::string &title,
                 const std::string &channel = "BBC ONE", bool is_protected = false);

// A programme-information (.epg) file: the event count, then one record of
// `record_size` bytes per event (start at 4, duration at 8, title at 15, synopsis from
// 67 to the end of the record, cut to fit).
struct EpgEventSpec {
    uint32_t start = 0;
    uint32_t duration = 0;
    std::string title;
    std::string synopsis;
};
Bytes make_epg(const std::vector<EpgEventSpec> &events, unsigned record_size = 328);

// Temporary directory removed with its contents when destroyed.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Reads and writes whole host files.
Bytes read_host_file(const std::string &path);
void write_host_file(const std::string &path, const Bytes &data);
// Deterministic pseudo-random bytes (asymmetric, never a repeated word pattern).
Bytes pattern_bytes(size_t size, uint32_t seed = 1);
// A copy with every aligned 4-byte group reversed (a trailing partial group as is).
Bytes swapped_words(const Bytes &data);
// Fixed-width numbers inside byte buffers (no bounds beyond the vector's own).
uint32_t get_le32(const Bytes &data, size_t offset);
void put_le32(Bytes &data, size_t offset, uint32_t value);
uint32_t get_be32(const Bytes &data, size_t offset);
void put_be32(Bytes &data, size_t offset, uint32_t value);

// Runs a program with the given arguments, standard input from `input` (a pipe; empty
// means immediate end of input) and the working directory `cwd`. Captures both outputs.
// `env` entries "NAME=value" set a variable, a bare "NAME" removes it; the rest of the
// environment is inherited. A program still running after 240 seconds is killed.
struct RunResult {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
};
RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const std::string &input = "", const std::string &cwd = "",
                      const std::vector<std::string> &env = {});
// Waits for the child `pid` and returns its exit status, or 128 + signal.
int wait_for_exit(pid_t pid);
std::string diskwarden_path();
// The executable called `name` on the search path, or "".
std::string find_on_path(const std::string &name);
std::string reelhead_path();

} // namespace testimg
