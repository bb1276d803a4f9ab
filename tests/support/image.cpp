// The image writer and reader: an encoding of the recorder's file system of its own,
// deliberately sharing nothing with the code under test, so that the two check each other.
#include "support/image.h"

#include <algorithm>
#include <stdexcept>

#include <fcntl.h>

#include "support/image_layout.h"

namespace testimg {

using namespace layout;

namespace {

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

void DiskImage::set_descriptor_bytes(int part, unsigned offset, const Bytes &bytes) {
    if (offset > SECTOR - bytes.size())
        fail("descriptor offset " + std::to_string(offset));
    write_bytes(start_sector(part) * SECTOR + offset, bytes);
}

void DiskImage::set_descriptor_u32(int part, unsigned offset, uint32_t value) {
    Bytes word(4);
    put_le32(word, 0, value);
    set_descriptor_bytes(part, offset, word);
}

void DiskImage::set_descriptor_u16(int part, unsigned offset, uint16_t value) {
    Bytes half(2);
    put_le16(half, 0, value);
    set_descriptor_bytes(part, offset, half);
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

} // namespace testimg
