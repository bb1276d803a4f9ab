#include "support/image_layout.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testimg::layout {

void fail(const std::string &message) {
    throw std::runtime_error("disk image: " + message);
}

void fail_errno(const std::string &what) {
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

void put_text(Bytes &data, size_t offset, size_t width, const std::string &text) {
    size_t n = std::min(width, text.size());
    std::copy_n(text.begin(), n, data.begin() + offset);
}

ImageFile::ImageFile(const std::string &path, int flags, Bytes *memory) : path_(path), memory_(memory) {
    if (memory_ != nullptr) {
        if (flags & O_TRUNC)
            memory_->clear();
        return;
    }
    fd_ = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd_ < 0)
        fail_errno(path);
}

ImageFile::~ImageFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

Bytes ImageFile::read(uint64_t position, size_t length) const {
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

void ImageFile::write(uint64_t position, const Bytes &data) const {
    write(position, data.data(), data.size());
}

void ImageFile::write(uint64_t position, const uint8_t *data, size_t length) const {
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

uint64_t ImageFile::size() const {
    if (memory_ != nullptr)
        return memory_->size();
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        fail_errno(path_);
    return uint64_t(st.st_size);
}

void ImageFile::resize(uint64_t size) const {
    if (memory_ != nullptr) {
        memory_->resize(size);
        return;
    }
    if (::ftruncate(fd_, off_t(size)) != 0)
        fail_errno(path_ + ": ftruncate");
}

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

std::optional<uint32_t> first_cluster(const PartitionGeometry &g, uint32_t first_sector) {
    if (g.cluster_sectors == 0 || first_sector < g.data_sector)
        return std::nullopt;
    uint32_t offset = first_sector - g.data_sector;
    if (offset % g.cluster_sectors != 0 || offset / g.cluster_sectors >= g.cluster_count)
        return std::nullopt;
    return offset / g.cluster_sectors;
}

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

Bytes read_directory(const ImageFile &file, const PartitionGeometry &g) {
    uint64_t length = uint64_t(g.dir_sectors) * SECTOR;
    if (g.dir_sector * SECTOR + length > file.size())
        fail("directory at sector " + std::to_string(g.dir_sector) + " beyond the image");
    return file.read(g.dir_sector * SECTOR, length);
}

std::vector<uint32_t> cluster_entries(const std::vector<uint32_t> &words, uint32_t cluster_count) {
    if (words.empty())
        return {};
    size_t n = std::min<size_t>(words.size() - 1, cluster_count);
    return std::vector<uint32_t>(words.begin() + 1, words.begin() + 1 + n);
}

} // namespace testimg::layout
