#pragma once
// Recorder disk images for tests, in temporary files or in memory, written and read
// independently of the code under test (its own encoding of the on-disk layout).
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
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/byte_helpers.h"
#include "support/image_builders.h"

namespace testimg {

inline constexpr uint32_t FAT_END = 0xFFFFFFFE;
inline constexpr uint32_t FAT_FREE = 0xFFFFFFFF;
inline const std::string RECORD_LIST_NAME = "_RECORD_LIST_";

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
    // Bytes at `offset` of the partition's descriptor sector (values little-endian).
    void set_descriptor_bytes(int part, unsigned offset, const Bytes &bytes);
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

} // namespace testimg
