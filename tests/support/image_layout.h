#pragma once
// The tests' own encoding of the recorder's on-disk layout, shared by the image writer
// (image.h) and the consistency check (image_oracle.h) and by nothing of the code under
// test: the offsets of the descriptor and the directory slots, the image's backing (a
// file or bytes in memory), and the readers of the partition table, the allocation
// table and the directory. Internal to the test support: tests use image.h.
//
// Every failure throws std::runtime_error("disk image: ...").
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/image.h"

namespace testimg::layout {

constexpr uint64_t SECTOR = 512;
constexpr unsigned SLOT_SIZE = 128;
constexpr unsigned NAME_OFFSET = 64;
constexpr unsigned NAME_LENGTH = 60;
constexpr unsigned TRAILER_LENGTH = 5;
inline constexpr uint8_t SIGNATURE[5] = {0x01, 0x00, 0x00, 0x01, 0x01};

// Descriptor offsets.
constexpr unsigned D_FORMAT = 224, D_CLUSTER_SECTORS = 230, D_CLUSTER_COUNT = 232,
                   D_UTAB_SECTOR = 244, D_DIR_SECTOR = 252, D_FAT_SECTOR = 260,
                   D_DATA_SECTOR = 268, D_UTAB_SECTORS = 272, D_DIR_SECTORS = 276,
                   D_DATA_SECTORS = 280, D_FAT_SECTORS = 284;
// Directory slot offsets.
constexpr unsigned S_FIRST = 12, S_LAST = 20, S_ALLOCATED = 28, S_SIZE_HIGH = 32,
                   S_SIZE_LOW = 36, S_ATTRIBUTES = 40;

[[noreturn]] void fail(const std::string &message);
// fail() with the system's reason for the last failed call.
[[noreturn]] void fail_errno(const std::string &what);

std::string hex(uint32_t value); // "0x%08X"
uint16_t get_le16(const Bytes &data, size_t offset);
void put_le16(Bytes &data, size_t offset, uint16_t value);
void put_be16(Bytes &data, size_t offset, uint16_t value);
// Copies `text` into data[offset, offset + width), cut to the width.
void put_text(Bytes &data, size_t offset, size_t width, const std::string &text);

// An open descriptor of the image for the span of one operation.
// A file, or with `memory` an image held in memory (its flags then only say whether to
// start it afresh).
class ImageFile {
  public:
    ImageFile(const std::string &path, int flags, Bytes *memory = nullptr);
    ~ImageFile();
    ImageFile(const ImageFile &) = delete;
    ImageFile &operator=(const ImageFile &) = delete;

    // Bytes beyond the end of the file read as zero.
    Bytes read(uint64_t position, size_t length) const;
    // Writes all of `data`; a memory image grows to take it.
    void write(uint64_t position, const Bytes &data) const;
    void write(uint64_t position, const uint8_t *data, size_t length) const;
    uint64_t size() const;
    void resize(uint64_t size) const;

  private:
    std::string path_;
    Bytes *memory_ = nullptr;
    int fd_ = -1;
};

void check_part(int part); // throws unless 0, 1 or 2

// A directory slot's name, and the name written into a slot (throws beyond 60 bytes).
std::string decode_name(const Bytes &slot);
void encode_name(Bytes &slot, const std::string &name);
// The entry of slot `index` (its chain left empty).
FileInfo decode_slot(const Bytes &slot, int index);

// Cluster of a file's first sector, or none when it is not the start of a cluster of the
// data area.
std::optional<uint32_t> first_cluster(const PartitionGeometry &g, uint32_t first_sector);
// Follows a chain from `first` through `table` (indexed by cluster), stopping at the
// end marker, at a value that is no cluster, or after cluster_count steps.
std::vector<uint32_t> walk_chain(const std::vector<uint32_t> &table, uint32_t cluster_count,
                                 uint32_t first);
// The clusters a file of `size` bytes takes (one for size 0).
uint64_t clusters_for(uint64_t size, uint32_t cluster_length);

// The geometry of partition `part` from sector 0 and its descriptor; throws when sector 0
// lacks the three partition markers.
PartitionGeometry read_geometry(const ImageFile &file, int part);
// The whole allocation-table region as words: word 0 the free count, word c + 1 the
// entry of cluster c. Throws when the region lies beyond the image.
std::vector<uint32_t> read_table_words(const ImageFile &file, const PartitionGeometry &g);
// The whole directory region, slot after slot. Throws when it lies beyond the image.
Bytes read_directory(const ImageFile &file, const PartitionGeometry &g);
// The entries of the clusters that have a word in the region (at most cluster_count).
std::vector<uint32_t> cluster_entries(const std::vector<uint32_t> &words, uint32_t cluster_count);

} // namespace testimg::layout
