// Test disk images: an encoding of the recorder's file system of its own, deliberately
// sharing nothing with the code under test, so that the two check each other.
#include "support/disk_image.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace testimg {

namespace {

constexpr uint64_t SECTOR = 512;
constexpr unsigned SLOT_SIZE = 128;
constexpr unsigned NAME_OFFSET = 64;
constexpr unsigned NAME_LENGTH = 60;
constexpr unsigned TRAILER_LENGTH = 5;
const uint8_t SIGNATURE[5] = {0x01, 0x00, 0x00, 0x01, 0x01};

// Descriptor offsets.
constexpr unsigned D_FORMAT = 224, D_CLUSTER_SECTORS = 230, D_CLUSTER_COUNT = 232,
                   D_UTAB_SECTOR = 244, D_DIR_SECTOR = 252, D_FAT_SECTOR = 260,
                   D_DATA_SECTOR = 268, D_UTAB_SECTORS = 272, D_DIR_SECTORS = 276,
                   D_DATA_SECTORS = 280, D_FAT_SECTORS = 284;
// Directory slot offsets.
constexpr unsigned S_FIRST = 12, S_LAST = 20, S_ALLOCATED = 28, S_SIZE_HIGH = 32,
                   S_SIZE_LOW = 36, S_ATTRIBUTES = 40;

[[noreturn]] void fail(const std::string &message) {
    throw std::runtime_error("disk image: " + message);
}

[[noreturn]] void fail_errno(const std::string &what) {
    fail(what + ": " + std::strerror(errno));
}

std::string hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

uint16_t get_le16(const Bytes &data, size_t offset) {
    return uint16_t(data.at(offset) | data.at(offset + 1) << 8);
}

void put_le16(Bytes &data, size_t offset, uint16_t value) {
    data.at(offset) = uint8_t(value);
    data.at(offset + 1) = uint8_t(value >> 8);
}

void put_be16(Bytes &data, size_t offset, uint16_t value) {
    data.at(offset) = uint8_t(value >> 8);
    data.at(offset + 1) = uint8_t(value);
}

// Copies `text` into data[offset, offset + width), cut to the width.
void put_text(Bytes &data, size_t offset, size_t width, const std::string &text) {
    size_t n = std::min(width, text.size());
    std::copy_n(text.begin(), n, data.begin() + offset);
}

// An open descriptor of the image for the span of one operation.
// A file, or with `memory` an image held in memory (its flags then only say whether to
// start it afresh).
class ImageFile {
  public:
    ImageFile(const std::string &path, int flags, Bytes *memory = nullptr) : path_(path), memory_(memory) {
        if (memory_ != nullptr) {
            if (flags & O_TRUNC)
                memory_->clear();
            return;
        }
        fd_ = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
        if (fd_ < 0)
            fail_errno(path);
    }
    ~ImageFile() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    ImageFile(const ImageFile &) = delete;
    ImageFile &operator=(const ImageFile &) = delete;

    // Bytes beyond the end of the file read as zero.
    Bytes read(uint64_t position, size_t length) const {
        Bytes data(length, 0);
        if (memory_ != nullptr) {
            if (position < memory_->size())
                std::copy_n(memory_->begin() + long(position), std::min<uint64_t>(length, memory_->size() - position),
                            data.begin());
            return data;
        }
        size_t done = 0;
        while (done < length) {
            ssize_t n = ::pread(fd_, data.data() + done, length - done, off_t(position + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                fail_errno(path_ + ": read");
            if (n == 0)
                break;
            done += size_t(n);
        }
        return data;
    }

    void write(uint64_t position, const Bytes &data) const {
        write(position, data.data(), data.size());
    }

    void write(uint64_t position, const uint8_t *data, size_t length) const {
        if (memory_ != nullptr) {
            if (memory_->size() < position + length)
                memory_->resize(position + length);
            std::copy_n(data, length, memory_->begin() + long(position));
            return;
        }
        size_t done = 0;
        while (done < length) {
            ssize_t n = ::pwrite(fd_, data + done, length - done, off_t(position + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                fail_errno(path_ + ": write");
            done += size_t(n);
        }
    }

    uint64_t size() const {
        if (memory_ != nullptr)
            return memory_->size();
        struct stat st;
        if (::fstat(fd_, &st) != 0)
            fail_errno(path_);
        return uint64_t(st.st_size);
    }

    void resize(uint64_t size) const {
        if (memory_ != nullptr) {
            memory_->resize(size);
            return;
        }
        if (::ftruncate(fd_, off_t(size)) != 0)
            fail_errno(path_ + ": ftruncate");
    }

  private:
    std::string path_;
    Bytes *memory_ = nullptr;
    int fd_ = -1;
};

void check_part(int part) {
    if (part < 0 || part > 2)
        fail("no partition " + std::to_string(part));
}

std::string decode_name(const Bytes &slot) {
    Bytes raw(slot.begin() + NAME_OFFSET, slot.begin() + NAME_OFFSET + NAME_LENGTH);
    Bytes name = swapped_words(raw);
    auto end = std::find(name.begin(), name.end(), 0);
    return std::string(name.begin(), end);
}

void encode_name(Bytes &slot, const std::string &name) {
    if (name.size() > NAME_LENGTH)
        fail("name longer than 60 bytes: " + name);
    Bytes field(NAME_LENGTH, 0);
    put_text(field, 0, NAME_LENGTH, name);
    field = swapped_words(field);
    std::copy(field.begin(), field.end(), slot.begin() + NAME_OFFSET);
}

FileInfo decode_slot(const Bytes &slot, int index) {
    FileInfo info;
    info.name = decode_name(slot);
    info.first_sector = get_le32(slot, S_FIRST);
    info.last_sector = get_le32(slot, S_LAST);
    info.allocated_sectors = get_le32(slot, S_ALLOCATED);
    info.size = uint64_t(get_le32(slot, S_SIZE_HIGH)) << 32 | get_le32(slot, S_SIZE_LOW);
    info.attributes = get_le32(slot, S_ATTRIBUTES);
    info.slot = index;
    return info;
}

// Cluster of a file's first sector, or none when it is not the start of a cluster of the
// data area.
std::optional<uint32_t> first_cluster(const PartitionGeometry &g, uint32_t first_sector) {
    if (g.cluster_sectors == 0 || first_sector < g.data_sector)
        return std::nullopt;
    uint32_t offset = first_sector - g.data_sector;
    if (offset % g.cluster_sectors != 0 || offset / g.cluster_sectors >= g.cluster_count)
        return std::nullopt;
    return offset / g.cluster_sectors;
}

// Follows a chain from `first` through `table` (indexed by cluster), stopping at the
// end marker, at a value that is no cluster, or after cluster_count steps.
std::vector<uint32_t> walk_chain(const std::vector<uint32_t> &table, uint32_t cluster_count,
                                 uint32_t first) {
    std::vector<uint32_t> chain;
    uint32_t current = first;
    for (uint32_t step = 0; step < cluster_count && current < table.size(); ++step) {
        chain.push_back(current);
        uint32_t next = table[current];
        if (next >= cluster_count)
            break;
        current = next;
    }
    return chain;
}

uint64_t clusters_for(uint64_t size, uint32_t cluster_length) {
    if (size == 0)
        return 1;
    return size / cluster_length + (size % cluster_length != 0);
}

PartitionGeometry read_geometry(const ImageFile &file, int part) {
    check_part(part);
    Bytes table = file.read(0, SECTOR);
    for (int i = 0; i < 3; ++i)
        if (get_le16(table, 444 + 16 * i) != 0x00AF)
            fail("sector 0 is not a partition table");
    PartitionGeometry g;
    unsigned base = 16 * unsigned(part);
    g.sector_count = uint32_t(get_le16(table, 448 + base)) << 16 | get_le16(table, 454 + base);
    g.start_sector = uint32_t(get_le16(table, 456 + base)) << 16 | get_le16(table, 462 + base);
    Bytes d = file.read(g.start_sector * SECTOR, SECTOR);
    g.format_code = get_le32(d, D_FORMAT);
    g.cluster_sectors = get_le16(d, D_CLUSTER_SECTORS);
    g.cluster_count = get_le32(d, D_CLUSTER_COUNT);
    g.utab_sector = get_le32(d, D_UTAB_SECTOR);
    g.dir_sector = get_le32(d, D_DIR_SECTOR);
    g.fat_sector = get_le32(d, D_FAT_SECTOR);
    g.data_sector = get_le32(d, D_DATA_SECTOR);
    g.utab_sectors = get_le32(d, D_UTAB_SECTORS);
    g.dir_sectors = get_le32(d, D_DIR_SECTORS);
    g.data_sectors = get_le32(d, D_DATA_SECTORS);
    g.fat_sectors = get_le32(d, D_FAT_SECTORS);
    return g;
}

// The whole allocation-table region as words: word 0 the free count, word c + 1 the
// entry of cluster c.
std::vector<uint32_t> read_table_words(const ImageFile &file, const PartitionGeometry &g) {
    uint64_t length = uint64_t(g.fat_sectors) * SECTOR;
    if (g.fat_sector * SECTOR + length > file.size())
        fail("allocation table at sector " + std::to_string(g.fat_sector) + " beyond the image");
    Bytes region = file.read(g.fat_sector * SECTOR, length);
    std::vector<uint32_t> words(length / 4);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = get_le32(region, 4 * i);
    return words;
}

// The whole directory region, slot after slot.
Bytes read_directory(const ImageFile &file, const PartitionGeometry &g) {
    uint64_t length = uint64_t(g.dir_sectors) * SECTOR;
    if (g.dir_sector * SECTOR + length > file.size())
        fail("directory at sector " + std::to_string(g.dir_sector) + " beyond the image");
    return file.read(g.dir_sector * SECTOR, length);
}

// The entries of the clusters that have a word in the region (at most cluster_count).
std::vector<uint32_t> cluster_entries(const std::vector<uint32_t> &words, uint32_t cluster_count) {
    if (words.empty())
        return {};
    size_t n = std::min<size_t>(words.size() - 1, cluster_count);
    return std::vector<uint32_t>(words.begin() + 1, words.begin() + 1 + n);
}

// The geometry a partition spec gives when the partition starts at `start`.
PartitionGeometry plan_partition(const PartitionSpec &p, uint32_t start) {
    if (p.cluster_sectors == 0 || p.cluster_count == 0)
        fail("a partition needs clusters of at least one sector");
    PartitionGeometry g;
    g.start_sector = start;
    g.format_code = p.format_code ? p.format_code : DEFAULT_FORMAT;
    g.cluster_sectors = p.cluster_sectors;
    g.cluster_count = p.cluster_count;
    g.utab_sector = start + 1;
    g.utab_sectors = 1;
    g.fat_sector = start + 2;
    uint64_t fat_bytes = (uint64_t(p.cluster_count) + 1) * 4;
    g.fat_sectors = p.fat_sectors ? p.fat_sectors : uint32_t((fat_bytes + SECTOR - 1) / SECTOR);
    g.dir_sectors = p.dir_sectors;
    uint64_t dir = uint64_t(g.fat_sector) + g.fat_sectors;
    uint64_t data = dir + g.dir_sectors;
    uint64_t data_sectors = uint64_t(p.cluster_count) * p.cluster_sectors;
    if (data + data_sectors > 0xFFFFFFFFu)
        fail("partition beyond sector 0xFFFFFFFF");
    g.dir_sector = uint32_t(dir);
    g.data_sector = uint32_t(data);
    g.data_sectors = uint32_t(data_sectors);
    g.sector_count = uint32_t(data + data_sectors - start);
    return g;
}

Bytes encode_descriptor(const PartitionGeometry &g) {
    Bytes d(SECTOR, 0);
    put_le32(d, D_FORMAT, g.format_code);
    put_le16(d, D_CLUSTER_SECTORS, uint16_t(g.cluster_sectors));
    put_le32(d, D_CLUSTER_COUNT, g.cluster_count);
    put_le32(d, D_UTAB_SECTOR, g.utab_sector);
    put_le32(d, D_DIR_SECTOR, g.dir_sector);
    put_le32(d, D_FAT_SECTOR, g.fat_sector);
    put_le32(d, D_DATA_SECTOR, g.data_sector);
    put_le32(d, D_UTAB_SECTORS, g.utab_sectors);
    put_le32(d, D_DIR_SECTORS, g.dir_sectors);
    put_le32(d, D_DATA_SECTORS, g.data_sectors);
    put_le32(d, D_FAT_SECTORS, g.fat_sectors);
    return d;
}

Bytes encode_partition_table(const PartitionGeometry (&parts)[3]) {
    Bytes table(SECTOR, 0);
    for (unsigned i = 0; i < 3; ++i) {
        unsigned base = 16 * i;
        put_le16(table, 444 + base, 0x00AF);
        put_le16(table, 448 + base, uint16_t(parts[i].sector_count >> 16));
        put_le16(table, 454 + base, uint16_t(parts[i].sector_count));
        put_le16(table, 456 + base, uint16_t(parts[i].start_sector >> 16));
        put_le16(table, 462 + base, uint16_t(parts[i].start_sector));
    }
    return table;
}

// A fresh table region: every cluster free and word 0 counting them all.
Bytes fresh_fat(const PartitionGeometry &g) {
    Bytes region(uint64_t(g.fat_sectors) * SECTOR, 0xFF);
    put_le32(region, 0, g.cluster_count);
    return region;
}

PartitionSpec spec_of(const PartitionGeometry &g) {
    PartitionSpec p;
    p.start_sector = g.start_sector;
    p.cluster_sectors = uint16_t(g.cluster_sectors);
    p.cluster_count = g.cluster_count;
    p.format_code = g.format_code;
    p.fat_sectors = g.fat_sectors;
    p.dir_sectors = g.dir_sectors;
    return p;
}

} // namespace

// ---- byte helpers ----

uint32_t get_le32(const Bytes &data, size_t offset) {
    return uint32_t(data.at(offset)) | uint32_t(data.at(offset + 1)) << 8 |
           uint32_t(data.at(offset + 2)) << 16 | uint32_t(data.at(offset + 3)) << 24;
}

void put_le32(Bytes &data, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        data.at(offset + i) = uint8_t(value >> (8 * i));
}

uint32_t get_be32(const Bytes &data, size_t offset) {
    return uint32_t(data.at(offset)) << 24 | uint32_t(data.at(offset + 1)) << 16 |
           uint32_t(data.at(offset + 2)) << 8 | uint32_t(data.at(offset + 3));
}

void put_be32(Bytes &data, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        data.at(offset + i) = uint8_t(value >> (24 - 8 * i));
}

Bytes swapped_words(const Bytes &data) {
    Bytes out = data;
    for (size_t i = 0; i + 4 <= out.size(); i += 4) {
        std::swap(out[i], out[i + 3]);
        std::swap(out[i + 1], out[i + 2]);
    }
    return out;
}

ImageSpec default_spec() { return ImageSpec{}; }

// ---- creating and opening ----

DiskImage::DiskImage(std::string path, const ImageSpec &spec) : path_(std::move(path)) { create(spec); }

DiskImage::DiskImage(Bytes *memory, const ImageSpec &spec) : path_("the image in memory"), memory_(memory) {
    create(spec);
}

void DiskImage::create(const ImageSpec &spec) {
    PartitionGeometry parts[3];
    uint64_t next = spec.first_start_sector;
    for (int i = 0; i < 3; ++i) {
        uint32_t wanted = spec.partitions[i].start_sector;
        if (wanted != 0 && i > 0 && wanted < next)
            fail("partition " + std::to_string(i) + " overlaps the one before it");
        uint64_t start = wanted ? wanted : next;
        if (start == 0 || start > 0xFFFFFFFFu)
            fail("partition " + std::to_string(i) + " cannot start at sector " +
                 std::to_string(start));
        parts[i] = plan_partition(spec.partitions[i], uint32_t(start));
        next = uint64_t(parts[i].start_sector) + parts[i].sector_count;
        spec_.partitions[i] = spec_of(parts[i]);
    }
    spec_.first_start_sector = parts[0].start_sector;

    ImageFile file(path_, O_RDWR | O_CREAT | O_TRUNC, memory_);
    file.resize(next * SECTOR);
    file.write(0, encode_partition_table(parts));
    for (const PartitionGeometry &g : parts) {
        file.write(g.start_sector * SECTOR, encode_descriptor(g));
        file.write(g.fat_sector * SECTOR, fresh_fat(g));
    }
}

DiskImage::DiskImage(std::string path) : path_(std::move(path)) { load_spec(); }

DiskImage::DiskImage(Bytes *memory) : path_("the image in memory"), memory_(memory) { load_spec(); }

void DiskImage::load_spec() {
    ImageFile file(path_, O_RDONLY, memory_);
    for (int i = 0; i < 3; ++i)
        spec_.partitions[i] = spec_of(read_geometry(file, i));
    spec_.first_start_sector = spec_.partitions[0].start_sector;
}

PartitionGeometry DiskImage::geometry(int part) const {
    ImageFile file(path_, O_RDONLY, memory_);
    return read_geometry(file, part);
}

uint32_t DiskImage::region_start(int part, int which) const {
    PartitionGeometry g = geometry(part);
    switch (which) {
    case 0: return g.start_sector;
    case 1: return g.utab_sector;
    case 2: return g.fat_sector;
    case 3: return g.dir_sector;
    default: return g.data_sector;
    }
}

uint32_t DiskImage::start_sector(int part) const { return region_start(part, 0); }
uint32_t DiskImage::fat_sector(int part) const { return region_start(part, 2); }
uint32_t DiskImage::dir_sector(int part) const { return region_start(part, 3); }
uint32_t DiskImage::data_sector(int part) const { return region_start(part, 4); }

uint32_t DiskImage::cluster_length(int part) const {
    return geometry(part).cluster_sectors * uint32_t(SECTOR);
}

// ---- raw access ----

std::vector<uint32_t> DiskImage::fat_words(int part) const {
    ImageFile file(path_, O_RDONLY, memory_);
    return read_table_words(file, read_geometry(file, part));
}

void DiskImage::write_fat_words(int part, const std::vector<uint32_t> &words) {
    Bytes region(words.size() * 4);
    for (size_t i = 0; i < words.size(); ++i)
        put_le32(region, 4 * i, words[i]);
    ImageFile(path_, O_RDWR, memory_).write(uint64_t(fat_sector(part)) * SECTOR, region);
}

uint32_t DiskImage::fat_entry(int part, uint32_t cluster) const {
    std::vector<uint32_t> words = fat_words(part);
    if (uint64_t(cluster) + 1 >= words.size())
        fail("cluster " + std::to_string(cluster) + " has no word in the table");
    return words[cluster + 1];
}

void DiskImage::set_fat_entry(int part, uint32_t cluster, uint32_t value) {
    std::vector<uint32_t> words = fat_words(part);
    if (uint64_t(cluster) + 1 >= words.size())
        fail("cluster " + std::to_string(cluster) + " has no word in the table");
    words[cluster + 1] = value;
    write_fat_words(part, words);
}

uint32_t DiskImage::fat_word0(int part) const { return fat_words(part).at(0); }

void DiskImage::set_fat_word0(int part, uint32_t value) {
    std::vector<uint32_t> words = fat_words(part);
    words.at(0) = value;
    write_fat_words(part, words);
}

Bytes DiskImage::dir_slot(int part, int slot) const {
    PartitionGeometry g = geometry(part);
    if (slot < 0 || uint64_t(slot) >= uint64_t(g.dir_sectors) * 4)
        fail("no directory slot " + std::to_string(slot));
    return ImageFile(path_, O_RDONLY, memory_).read(g.dir_sector * SECTOR + uint64_t(slot) * SLOT_SIZE,
                                          SLOT_SIZE);
}

void DiskImage::set_dir_slot(int part, int slot, const Bytes &raw) {
    PartitionGeometry g = geometry(part);
    if (slot < 0 || uint64_t(slot) >= uint64_t(g.dir_sectors) * 4 || raw.size() != SLOT_SIZE)
        fail("bad directory slot write " + std::to_string(slot));
    ImageFile(path_, O_RDWR, memory_).write(g.dir_sector * SECTOR + uint64_t(slot) * SLOT_SIZE, raw);
}

void DiskImage::set_descriptor_u32(int part, unsigned offset, uint32_t value) {
    if (offset > SECTOR - 4)
        fail("descriptor offset " + std::to_string(offset));
    Bytes word(4);
    put_le32(word, 0, value);
    write_bytes(start_sector(part) * SECTOR + offset, word);
}

void DiskImage::set_descriptor_u16(int part, unsigned offset, uint16_t value) {
    if (offset > SECTOR - 2)
        fail("descriptor offset " + std::to_string(offset));
    Bytes half(2);
    put_le16(half, 0, value);
    write_bytes(start_sector(part) * SECTOR + offset, half);
}

Bytes DiskImage::read_sectors(uint32_t sector, uint32_t count) const {
    return ImageFile(path_, O_RDONLY, memory_).read(sector * SECTOR, size_t(count) * SECTOR);
}

void DiskImage::write_bytes(uint64_t position, const Bytes &data) {
    ImageFile(path_, O_RDWR, memory_).write(position, data);
}

// ---- reading back ----

std::vector<FileInfo> DiskImage::files(int part) const {
    ImageFile file(path_, O_RDONLY, memory_);
    PartitionGeometry g = read_geometry(file, part);
    std::vector<uint32_t> table = cluster_entries(read_table_words(file, g), g.cluster_count);
    Bytes dir = read_directory(file, g);
    std::vector<FileInfo> result;
    for (size_t i = 0; i < dir.size() / SLOT_SIZE; ++i) {
        Bytes slot(dir.begin() + i * SLOT_SIZE, dir.begin() + (i + 1) * SLOT_SIZE);
        if (get_le32(slot, S_FIRST) == 0)
            continue;
        FileInfo info = decode_slot(slot, int(i));
        if (auto first = first_cluster(g, info.first_sector))
            info.clusters = walk_chain(table, g.cluster_count, *first);
        result.push_back(info);
    }
    return result;
}

std::optional<FileInfo> DiskImage::find(int part, const std::string &name) const {
    for (FileInfo &info : files(part))
        if (info.name == name)
            return info;
    return std::nullopt;
}

// Every cluster of a file's chain, as stored.
Bytes DiskImage::chain_bytes(int part, const FileInfo &info) const {
    PartitionGeometry g = geometry(part);
    uint64_t length = uint64_t(g.cluster_sectors) * SECTOR;
    if (uint64_t(info.clusters.size()) * length < info.size)
        fail(info.name + ": its chain holds fewer bytes than its size");
    ImageFile file(path_, O_RDONLY, memory_);
    Bytes data;
    data.reserve(info.clusters.size() * length);
    for (uint32_t c : info.clusters) {
        Bytes cluster = file.read((g.data_sector + uint64_t(c) * g.cluster_sectors) * SECTOR,
                                  length);
        data.insert(data.end(), cluster.begin(), cluster.end());
    }
    return data;
}

FileInfo DiskImage::existing(int part, const std::string &name) const {
    std::optional<FileInfo> info = find(part, name);
    if (!info)
        fail("no file " + name + " in partition " + std::to_string(part));
    return *info;
}

Bytes DiskImage::read_file_raw(int part, const std::string &name) const {
    FileInfo info = existing(part, name);
    Bytes data = chain_bytes(part, info);
    data.resize(info.size);
    return data;
}

Bytes DiskImage::read_file(int part, const std::string &name) const {
    FileInfo info = existing(part, name);
    // Swap whole clusters first: the last word may hold bytes beyond the size.
    Bytes data = swapped_words(chain_bytes(part, info));
    data.resize(info.size);
    return data;
}

std::vector<Bytes> DiskImage::record_list_entries(unsigned record_length) const {
    if (record_length == 0)
        fail("record length 0");
    if (!find(1, RECORD_LIST_NAME))
        return {};
    Bytes list = read_file(1, RECORD_LIST_NAME);
    if (list.size() < TRAILER_LENGTH || (list.size() - TRAILER_LENGTH) % record_length != 0)
        fail("record list of " + std::to_string(list.size()) + " bytes is not n * " +
             std::to_string(record_length) + " + 5");
    size_t count = (list.size() - TRAILER_LENGTH) / record_length;
    if (std::any_of(list.end() - TRAILER_LENGTH, list.end(), [](uint8_t b) { return b != 0; }))
        fail("record list trailer is not five zero bytes");
    std::vector<Bytes> entries;
    for (size_t i = 0; i < count; ++i)
        entries.emplace_back(list.begin() + i * record_length,
                             list.begin() + (i + 1) * record_length);
    return entries;
}

// ---- adding and removing files ----

int DiskImage::free_slot(int part) const {
    ImageFile file(path_, O_RDONLY, memory_);
    Bytes dir = read_directory(file, read_geometry(file, part));
    for (size_t i = 0; i < dir.size() / SLOT_SIZE; ++i)
        if (get_le32(dir, i * SLOT_SIZE + S_FIRST) == 0)
            return int(i);
    fail("directory of partition " + std::to_string(part) + " is full");
}

std::vector<uint32_t> DiskImage::take_free_clusters(int part, uint64_t count,
                                                    Placement placement) {
    std::vector<uint32_t> table = cluster_entries(fat_words(part), geometry(part).cluster_count);
    std::vector<uint32_t> free;
    for (uint32_t c = 0; c < table.size(); ++c)
        if (table[c] == FAT_FREE)
            free.push_back(c);
    std::vector<uint32_t> taken;
    if (placement == Placement::Contiguous) {
        for (size_t i = 0; i < free.size() && taken.size() < count; ++i) {
            if (!taken.empty() && free[i] != taken.back() + 1)
                taken.clear();
            taken.push_back(free[i]);
        }
    } else if (placement == Placement::Fragmented) {
        for (size_t i = 0; i < free.size() && taken.size() < count; i += 2)
            taken.push_back(free[i]);
    } else {
        for (size_t i = free.size(); i > 0 && taken.size() < count; --i)
            taken.push_back(free[i - 1]);
    }
    if (taken.size() < count)
        fail("partition " + std::to_string(part) + " has no room for " +
             std::to_string(count) + " clusters placed that way");
    return taken;
}

int DiskImage::add_file(int part, const std::string &name, const Bytes &contents,
                        uint32_t attributes, Placement placement) {
    uint32_t length = cluster_length(part);
    if (length == 0)
        fail("partition " + std::to_string(part) + " has clusters of 0 sectors");
    uint64_t need = clusters_for(contents.size(), length);
    return add_file_at(part, name, contents, take_free_clusters(part, need, placement),
                       attributes);
}

int DiskImage::add_file_at(int part, const std::string &name, const Bytes &contents,
                           const std::vector<uint32_t> &clusters, uint32_t attributes) {
    PartitionGeometry g = geometry(part);
    uint64_t length = uint64_t(g.cluster_sectors) * SECTOR;
    if (length == 0)
        fail("partition " + std::to_string(part) + " has clusters of 0 sectors");
    if (find(part, name))
        fail(name + " exists already in partition " + std::to_string(part));
    if (clusters.size() != clusters_for(contents.size(), length))
        fail(name + ": " + std::to_string(clusters.size()) + " clusters given for " +
             std::to_string(contents.size()) + " bytes");
    std::vector<uint32_t> words = fat_words(part);
    std::vector<uint32_t> sorted = clusters;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
        fail(name + ": a cluster given twice");
    for (uint32_t c : clusters)
        if (c >= g.cluster_count || uint64_t(c) + 1 >= words.size() || words[c + 1] != FAT_FREE)
            fail(name + ": cluster " + std::to_string(c) + " is not a free cluster");
    Bytes slot(SLOT_SIZE, 0);
    encode_name(slot, name);
    int index = free_slot(part);

    // Contents, with the unused end of the last cluster zero.
    Bytes stored = contents;
    stored.resize(clusters.size() * length, 0);
    stored = swapped_words(stored);
    ImageFile file(path_, O_RDWR, memory_);
    for (size_t k = 0; k < clusters.size(); ++k)
        file.write((g.data_sector + uint64_t(clusters[k]) * g.cluster_sectors) * SECTOR,
                   stored.data() + k * length, length);

    for (size_t k = 0; k < clusters.size(); ++k)
        words[clusters[k] + 1] = k + 1 < clusters.size() ? clusters[k + 1] : FAT_END;
    words[0] -= uint32_t(clusters.size());
    write_fat_words(part, words);

    put_le32(slot, S_FIRST, g.data_sector + clusters.front() * g.cluster_sectors);
    put_le32(slot, S_LAST, g.data_sector + clusters.back() * g.cluster_sectors);
    put_le32(slot, S_ALLOCATED, uint32_t(clusters.size() * g.cluster_sectors));
    put_le32(slot, S_SIZE_HIGH, uint32_t(uint64_t(contents.size()) >> 32));
    put_le32(slot, S_SIZE_LOW, uint32_t(contents.size()));
    put_le32(slot, S_ATTRIBUTES, attributes);
    set_dir_slot(part, index, slot);
    return index;
}

void DiskImage::remove_file(int part, const std::string &name) {
    FileInfo info = existing(part, name);
    std::vector<uint32_t> words = fat_words(part);
    for (uint32_t c : info.clusters) {
        if (uint64_t(c) + 1 < words.size() && words[c + 1] != FAT_FREE) {
            words[c + 1] = FAT_FREE;
            ++words[0];
        }
    }
    write_fat_words(part, words);
    set_dir_slot(part, info.slot, Bytes(SLOT_SIZE, 0));
}

void DiskImage::zero_tables(int part) {
    PartitionGeometry g = geometry(part);
    write_bytes(uint64_t(g.fat_sector) * SECTOR, Bytes(size_t(g.fat_sectors) * SECTOR, 0));
    write_bytes(uint64_t(g.dir_sector) * SECTOR, Bytes(size_t(g.dir_sectors) * SECTOR, 0));
}

void DiskImage::write_record_list(const std::vector<Bytes> &entries, unsigned record_length) {
    Bytes list;
    for (const Bytes &entry : entries) {
        if (entry.size() != record_length || record_length < sizeof SIGNATURE)
            fail("record-list entry of " + std::to_string(entry.size()) + " bytes, not " +
                 std::to_string(record_length));
        list.insert(list.end(), entry.begin(), entry.end());
    }
    if (find(1, RECORD_LIST_NAME))
        remove_file(1, RECORD_LIST_NAME);
    if (entries.empty())
        return;
    std::copy(std::begin(SIGNATURE), std::end(SIGNATURE), list.begin());
    list.resize(list.size() + TRAILER_LENGTH, 0);
    add_file(1, RECORD_LIST_NAME, list, 0x1000);
}

// ---- consistency check ----

namespace {

std::string in_quotes(const std::string &name) { return "\"" + name + "\""; }

std::string cluster_list(const std::vector<uint32_t> &clusters) {
    std::string text;
    for (size_t i = 0; i < clusters.size() && i < 16; ++i)
        text += (i ? ", " : "") + std::to_string(clusters[i]);
    if (clusters.size() > 16)
        text += " and " + std::to_string(clusters.size() - 16) + " more";
    return text;
}

// The descriptor's own sums; false when the partition cannot be walked at all.
bool check_geometry(const PartitionGeometry &g, size_t table_clusters, const std::string &where,
                    std::vector<ImageProblem> &problems) {
    if (g.dir_sectors != 256)
        problems.push_back({ImageProblemKind::Layout, where + "dir_sectors is " + std::to_string(g.dir_sectors)});
    if (uint32_t(g.data_sector + g.data_sectors - g.start_sector) != g.sector_count)
        problems.push_back({ImageProblemKind::Layout, where + "the data area does not end at the partition's end"});
    if (uint64_t(g.cluster_count) * g.cluster_sectors > g.data_sectors)
        problems.push_back({ImageProblemKind::Layout, where + "the clusters do not fit in the data area"});
    if (table_clusters < g.cluster_count)
        problems.push_back({ImageProblemKind::Layout, where + "the table holds entries for only " +
                           std::to_string(table_clusters) + " of " +
                           std::to_string(g.cluster_count) + " clusters"});
    if (g.cluster_sectors == 0) {
        problems.push_back({ImageProblemKind::Layout, where + "clusters of 0 sectors"});
        return false;
    }
    return true;
}

void check_entries(const std::vector<uint32_t> &table, uint32_t cluster_count,
                   const std::string &where, std::vector<ImageProblem> &problems) {
    for (uint32_t c = 0; c < table.size(); ++c) {
        uint32_t v = table[c];
        bool valid = (v < cluster_count && v != c) || v == FAT_END || v == FAT_FREE;
        if (!valid)
            problems.push_back({ImageProblemKind::InvalidEntry, where + "cluster " + std::to_string(c) + " has the invalid entry " +
                               hex(v)});
    }
}

// One file's chain against its directory entry; records which clusters it owns.
void check_file(const FileInfo &file, const PartitionGeometry &g,
                const std::vector<uint32_t> &table, std::vector<int> &owner,
                const std::vector<FileInfo> &all, const std::string &where,
                std::vector<ImageProblem> &problems) {
    std::string what = where + in_quotes(file.name) + " ";
    if (!first_cluster(g, file.first_sector)) {
        problems.push_back({ImageProblemKind::FirstOutside, what + "starts at sector " + std::to_string(file.first_sector) +
                           ", no cluster of the data area"});
        return;
    }
    if (file.clusters.empty()) {
        problems.push_back({ImageProblemKind::FirstOutside, what + "starts at a cluster without a table entry"});
        return;
    }
    std::vector<uint32_t> chain;
    for (uint32_t c : file.clusters) {
        if (owner[c] == file.slot) {
            problems.push_back({ImageProblemKind::ChainLoops, what + "has a chain that loops back to cluster " +
                               std::to_string(c)});
            break;
        }
        if (owner[c] >= 0) {
            auto other = std::find_if(all.begin(), all.end(),
                                      [&](const FileInfo &f) { return f.slot == owner[c]; });
            problems.push_back({ImageProblemKind::SharedCluster, where + "cluster " + std::to_string(c) + " is in the chains of " +
                               in_quotes(other->name) + " and " + in_quotes(file.name)});
        } else {
            owner[c] = file.slot;
        }
        chain.push_back(c);
    }
    if (table[chain.back()] == FAT_FREE)
        problems.push_back({ImageProblemKind::EndsFree, what + "ends in cluster " + std::to_string(chain.back()) +
                           ", which is marked free"});
    uint64_t allocated = uint64_t(chain.size()) * g.cluster_sectors;
    if (file.allocated_sectors != allocated)
        problems.push_back({ImageProblemKind::AllocatedWrong, what + "has allocated_sectors " +
                           std::to_string(file.allocated_sectors) + " but a chain of " +
                           std::to_string(allocated) + " sectors"});
    uint64_t need = clusters_for(file.size, g.cluster_sectors * uint32_t(SECTOR));
    if (need != chain.size())
        problems.push_back({ImageProblemKind::SizeWrong, what + "of " + std::to_string(file.size) + " bytes needs " +
                           std::to_string(need) + " clusters but its chain has " +
                           std::to_string(chain.size())});
    uint64_t last = g.data_sector + uint64_t(chain.back()) * g.cluster_sectors;
    if (file.last_sector != last)
        problems.push_back({ImageProblemKind::LastSectorWrong, what + "has last_sector " + std::to_string(file.last_sector) +
                           " but its chain ends at sector " + std::to_string(last)});
}

void check_partition(const DiskImage &image, int part, std::vector<ImageProblem> &problems) {
    std::string where = "partition " + std::to_string(part) + ": ";
    ImageFile file(image.path(), O_RDONLY, image.memory());
    PartitionGeometry g = read_geometry(file, part);
    std::vector<uint32_t> words = read_table_words(file, g);
    std::vector<uint32_t> table = cluster_entries(words, g.cluster_count);
    if (!check_geometry(g, table.size(), where, problems) || table.empty())
        return;
    check_entries(table, g.cluster_count, where, problems);

    std::vector<FileInfo> files = image.files(part);
    std::vector<int> owner(table.size(), -1);
    for (size_t i = 0; i < files.size(); ++i) {
        for (size_t j = 0; j < i; ++j)
            if (files[j].name == files[i].name)
                problems.push_back({ImageProblemKind::NameTwice, where + "the name " + in_quotes(files[i].name) +
                                   " is in slots " + std::to_string(files[j].slot) + " and " +
                                   std::to_string(files[i].slot)});
        check_file(files[i], g, table, owner, files, where, problems);
    }

    std::vector<uint32_t> orphans;
    uint32_t free = 0;
    for (uint32_t c = 0; c < table.size(); ++c) {
        if (table[c] == FAT_FREE)
            ++free;
        else if (owner[c] < 0)
            orphans.push_back(c);
    }
    if (!orphans.empty())
        problems.push_back({ImageProblemKind::UnownedClusters, where + "clusters " + cluster_list(orphans) +
                           " are marked used but belong to no file"});
    if (words[0] != free)
        problems.push_back({words[0] < free ? ImageProblemKind::FreeCountLow : ImageProblemKind::FreeCountHigh,
                            where + "word 0 says " + std::to_string(words[0]) +
                                " free clusters, the table has " + std::to_string(free)});
}

unsigned be16_at(const Bytes &data, size_t offset) {
    return unsigned(data.at(offset)) << 8 | data.at(offset + 1);
}

void check_record_list(const DiskImage &image, unsigned record_length,
                       std::vector<ImageProblem> &problems) {
    if (!image.find(1, RECORD_LIST_NAME))
        return;
    Bytes list = image.read_file(1, RECORD_LIST_NAME);
    if (list.size() < record_length + TRAILER_LENGTH ||
        (list.size() - TRAILER_LENGTH) % record_length != 0) {
        problems.push_back({ImageProblemKind::ListForm, "record list: " + std::to_string(list.size()) +
                           " bytes, not n * " + std::to_string(record_length) +
                           " + 5 with n at least 1"});
        return;
    }
    if (std::any_of(list.end() - TRAILER_LENGTH, list.end(), [](uint8_t b) { return b != 0; }))
        problems.push_back({ImageProblemKind::ListForm, "record list: the trailer is not five zero bytes"});
    if (!std::equal(std::begin(SIGNATURE), std::end(SIGNATURE), list.begin()))
        problems.push_back({ImageProblemKind::ListForm, "record list: the first entry lacks the signature 01 00 00 01 01"});
    size_t count = (list.size() - TRAILER_LENGTH) / record_length;
    for (size_t k = 0; k < count; ++k) {
        size_t base = k * record_length;
        unsigned number = be16_at(list, base + 5);
        if (number == 0 || number != be16_at(list, base + 9))
            break;
        std::string av = std::to_string(number) + ".av";
        if (!image.find(0, av))
            problems.push_back({ImageProblemKind::StreamMissing, "recording " + std::to_string(k + 1) + ": " + av +
                               " is missing from partition 0"});
    }
}

} // namespace

std::vector<ImageProblem> check_image_problems(const std::string &path, unsigned record_length) {
    try {
        return check_image_problems(DiskImage(path), record_length);
    } catch (const std::exception &e) {
        return {{ImageProblemKind::Unreadable, std::string("cannot check the image: ") + e.what()}};
    }
}

std::vector<ImageProblem> check_image_problems(const DiskImage &image, unsigned record_length) {
    std::vector<ImageProblem> problems;
    try {
        for (int part = 0; part < 3; ++part) {
            try {
                check_partition(image, part, problems);
            } catch (const std::exception &e) {
                problems.push_back({ImageProblemKind::Unreadable, "partition " + std::to_string(part) + ": " + e.what()});
            }
        }
        if (record_length != 0)
            check_record_list(image, record_length, problems);
    } catch (const std::exception &e) {
        problems.push_back({ImageProblemKind::Unreadable, std::string("cannot check the image: ") + e.what()});
    }
    return problems;
}

std::vector<std::string> check_image(const std::string &path, unsigned record_length) {
    std::vector<std::string> texts;
    for (ImageProblem &p : check_image_problems(path, record_length))
        texts.push_back(std::move(p.text));
    return texts;
}

// ---- entries and programme information ----

Bytes make_entry(unsigned record_length, unsigned file_number, uint32_t start_time,
                 uint32_t end_time, const std::string &title, const std::string &channel,
                 bool is_protected) {
    if (record_length != 304 && record_length != 316)
        fail("record length " + std::to_string(record_length));
    if (file_number > 0xFFFF)
        fail("file number " + std::to_string(file_number) + " does not fit 16 bits");
    Bytes entry(record_length, 0);
    put_be16(entry, 5, uint16_t(file_number));
    put_be16(entry, 9, uint16_t(file_number));
    entry[11] = 1;
    put_be32(entry, 17, start_time);
    put_be32(entry, 21, end_time);
    put_text(entry, 25, 52, title);
    put_text(entry, 77, 24, channel);
    if (is_protected)
        entry[record_length - 203] |= 0x40;
    return entry;
}

Bytes make_epg(const std::vector<EpgEventSpec> &events, unsigned record_size) {
    if (record_size < 68)
        fail("programme-information records of " + std::to_string(record_size) + " bytes");
    Bytes epg(4 + events.size() * record_size, 0);
    put_be32(epg, 0, uint32_t(events.size()));
    for (size_t k = 0; k < events.size(); ++k) {
        size_t base = 4 + k * record_size;
        put_be32(epg, base + 4, events[k].start);
        put_be32(epg, base + 8, events[k].duration);
        put_text(epg, base + 15, 52, events[k].title);
        put_text(epg, base + 67, record_size - 67, events[k].synopsis);
    }
    return epg;
}

// ---- host files ----

TempDir::TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/dwtest.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data()))
        fail_errno("mkdtemp " + pattern);
    path_ = name.data();
}

TempDir::~TempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    // A test may have taken the write permission away to provoke failures.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

Bytes read_host_file(const std::string &path) {
    ImageFile file(path, O_RDONLY);
    return file.read(0, file.size());
}

void write_host_file(const std::string &path, const Bytes &data) {
    ImageFile(path, O_WRONLY | O_CREAT | O_TRUNC).write(0, data);
}

Bytes pattern_bytes(size_t size, uint32_t seed) {
    // xorshift32 runs through every nonzero word once per period, so no word repeats.
    uint32_t x = (seed * 0x9E3779B9u) ^ 0x6A09E667u;
    if (x == 0)
        x = 1;
    Bytes data(size);
    for (size_t i = 0; i < size; i += 4) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        for (size_t j = 0; j < 4 && i + j < size; ++j)
            data[i + j] = uint8_t(x >> (24 - 8 * j));
    }
    return data;
}

// ---- running the programs ----

namespace {

constexpr int RUN_TIME_LIMIT = 240; // seconds, below the test runner's own limit

// The environment of the child: ours, with `changes` applied.
std::vector<std::string> child_environment(const std::vector<std::string> &changes) {
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        env.emplace_back(*e);
    for (const std::string &change : changes) {
        std::string name = change.substr(0, change.find('='));
        std::erase_if(env, [&](const std::string &e) {
            return e.compare(0, name.size() + 1, name + "=") == 0;
        });
        if (change.find('=') != std::string::npos)
            env.push_back(change);
    }
    return env;
}

std::vector<char *> c_strings(std::vector<std::string> &strings) {
    std::vector<char *> pointers;
    for (std::string &s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

[[noreturn]] void exec_child(const std::string &program, char **argv, char **envp,
                             const std::string &cwd, const int (&fds)[3]) {
    for (int i = 0; i < 3; ++i)
        if (dup2(fds[i], i) < 0)
            _exit(127);
    signal(SIGPIPE, SIG_DFL);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
        perror(cwd.c_str());
        _exit(127);
    }
    execve(program.c_str(), argv, envp);
    perror(program.c_str());
    _exit(127);
}

long seconds_now() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return long(now.tv_sec);
}

// Feeds `input` and drains both outputs until the child has closed them.
void exchange(int in_fd, int out_fd, int err_fd, const std::string &input, RunResult &result,
              pid_t child) {
    int fds[3] = {in_fd, out_fd, err_fd};
    std::string *sinks[3] = {nullptr, &result.out, &result.err};
    size_t written = 0;
    if (input.empty()) {
        close(fds[0]);
        fds[0] = -1;
    }
    long deadline = seconds_now() + RUN_TIME_LIMIT;
    while (fds[1] >= 0 || fds[2] >= 0) {
        if (seconds_now() > deadline) {
            kill(child, SIGKILL);
            result.err += "\n[run_program: killed after " + std::to_string(RUN_TIME_LIMIT) +
                          " s]\n";
            deadline = seconds_now() + 3600;
        }
        pollfd polls[3];
        for (int i = 0; i < 3; ++i)
            polls[i] = {fds[i], short(i == 0 ? POLLOUT : POLLIN), 0};
        if (poll(polls, 3, 1000) < 0 && errno != EINTR)
            fail_errno("poll");
        if (fds[0] >= 0 && polls[0].revents) {
            ssize_t n = write(fds[0], input.data() + written, input.size() - written);
            if (n > 0)
                written += size_t(n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) {
                close(fds[0]);
                fds[0] = -1;
            }
        }
        for (int i = 1; i < 3; ++i) {
            if (fds[i] < 0 || !polls[i].revents)
                continue;
            char buffer[65536];
            ssize_t n = read(fds[i], buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, size_t(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                close(fds[i]);
                fds[i] = -1;
            }
        }
    }
    if (fds[0] >= 0)
        close(fds[0]);
}

} // namespace

RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const std::string &input, const std::string &cwd,
                      const std::vector<std::string> &env) {
    // A program that stops reading its input must not take the test process down.
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> arg_strings{program};
    arg_strings.insert(arg_strings.end(), args.begin(), args.end());
    std::vector<std::string> env_strings = child_environment(env);
    std::vector<char *> argv = c_strings(arg_strings);
    std::vector<char *> envp = c_strings(env_strings);

    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        fail_errno("pipe");
    pid_t child = fork();
    if (child < 0)
        fail_errno("fork");
    if (child == 0)
        exec_child(program, argv.data(), envp.data(), cwd, {in[0], out[1], err[1]});
    close(in[0]);
    close(out[1]);
    close(err[1]);
    fcntl(in[1], F_SETFL, fcntl(in[1], F_GETFL) | O_NONBLOCK);

    RunResult result;
    exchange(in[1], out[0], err[0], input, result, child);
    result.status = wait_for_exit(child);
    return result;
}

std::string find_on_path(const std::string &name)
{
    const char *path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (end > start && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

int wait_for_exit(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            fail_errno("waitpid");
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string diskwarden_path() { return DW_BIN_DIR "/diskwarden"; }
std::string reelhead_path() { return DW_BIN_DIR "/reelhead"; }

} // namespace testimg
