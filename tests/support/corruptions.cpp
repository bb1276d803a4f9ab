#include "corruptions.h"

#include <stdexcept>

#include <unistd.h>

namespace testimg {

namespace {

constexpr uint32_t START = 1369602000; // Sun 26 May 2013 21:00 UTC
constexpr unsigned SLOT_FIRST = 12, SLOT_LAST = 20, SLOT_ALLOCATED = 28, SLOT_SIZE_LOW = 36;
constexpr unsigned D_FORMAT = 224, D_CLUSTER_COUNT = 232, D_DIR_SECTOR = 252, D_DIR_SECTORS = 276,
                   D_DATA_SECTORS = 280, D_FAT_SECTORS = 284;

FileInfo file(const DiskImage &image, int part, const std::string &name)
{
    std::optional<FileInfo> info = image.find(part, name);
    if (!info)
        throw std::runtime_error("catalogue: no " + name);
    return *info;
}

void set_slot(DiskImage &image, int part, const std::string &name, unsigned offset, uint32_t value)
{
    FileInfo f = file(image, part, name);
    Bytes slot = image.dir_slot(part, f.slot);
    put_le32(slot, offset, value);
    image.set_dir_slot(part, f.slot, slot);
}

int free_slot(const DiskImage &image, int part)
{
    for (int slot = 0;; ++slot)
        if (get_le32(image.dir_slot(part, slot), SLOT_FIRST) == 0)
            return slot;
}

// A free cluster of the partition near its end, away from the files.
uint32_t spare_cluster(const DiskImage &image, int part, uint32_t from_end = 1)
{
    uint32_t count = image.spec().partitions[part].cluster_count;
    uint32_t c = count - from_end;
    if (image.fat_entry(part, c) != FAT_FREE)
        throw std::runtime_error("catalogue: cluster " + std::to_string(c) + " is not free");
    return c;
}

// Takes every free cluster of the partition but `leave` with one file.
void fill_partition(DiskImage &image, int part, size_t leave = 0)
{
    std::vector<uint32_t> free;
    for (uint32_t c = 0; c < image.spec().partitions[part].cluster_count; ++c)
        if (image.fat_entry(part, c) == FAT_FREE)
            free.push_back(c);
    free.resize(free.size() - leave);
    image.add_file_at(part, "fill.bin", Bytes(free.size() * image.cluster_length(part), 0x5A), free);
}

// Replaces a list file's contents, keeping its name and attributes.
void rewrite_file(DiskImage &image, int part, const std::string &name, const Bytes &contents)
{
    FileInfo f = file(image, part, name);
    image.remove_file(part, name);
    image.add_file(part, name, contents, f.attributes);
}

Bytes list_bytes(const DiskImage &image)
{
    return image.read_file(1, RECORD_LIST_NAME);
}

void set_entry_number(DiskImage &image, size_t entry, unsigned number, unsigned check)
{
    Bytes list = list_bytes(image);
    size_t base = entry * CATALOGUE_RECORD_LENGTH;
    list.at(base + 5) = uint8_t(number >> 8);
    list.at(base + 6) = uint8_t(number);
    list.at(base + 9) = uint8_t(check >> 8);
    list.at(base + 10) = uint8_t(check);
    rewrite_file(image, 1, RECORD_LIST_NAME, list);
}

std::vector<Corruption> make_catalogue();

} // namespace

void build_catalogue_disk(const std::string &path)
{
    ImageSpec spec = default_spec();
    spec.partitions[2].cluster_sectors = 1;
    spec.partitions[2].cluster_count = 2048;
    DiskImage image(path, spec);
    std::vector<Bytes> entries;
    struct Plan {
        unsigned number;
        size_t av;
        Placement placement;
        const char *title;
    };
    const Plan plans[] = {{2, 10000, Placement::Contiguous, "Two"},
                          {3, 14000, Placement::Fragmented, "Three"},
                          {4, 6000, Placement::Contiguous, "Four"}};
    for (const Plan &p : plans) {
        std::string n = std::to_string(p.number);
        image.add_file(0, n + ".av", pattern_bytes(p.av, p.number), 0x1002, p.placement);
        image.add_file(0, n + ".elu", pattern_bytes(777, 100 + p.number));
        image.add_file(1, n + ".epg", make_epg({{START, 3600, p.title, std::string("About ") + p.title}}, 332));
        entries.push_back(make_entry(CATALOGUE_RECORD_LENGTH, p.number, START + 86400 * p.number,
                                     START + 86400 * p.number + 3600, p.title));
    }
    image.add_file(0, "0.av", pattern_bytes(4096, 9), 0x1006);
    image.write_record_list(entries, CATALOGUE_RECORD_LENGTH);
    image.add_file(1, "_RL_BACKUP_", image.read_file(1, RECORD_LIST_NAME), 0x1000);
    image.add_file(2, "photo.jpg", pattern_bytes(5000, 77));
}

std::map<std::string, Bytes> readable_files(const std::string &path)
{
    std::map<std::string, Bytes> out;
    DiskImage image(path);
    for (int part = 0; part < 3; ++part) {
        std::vector<FileInfo> files;
        try {
            files = image.files(part);
        } catch (const std::exception &) {
            continue;
        }
        for (const FileInfo &f : files) {
            std::string key = std::to_string(part) + ":" + f.name;
            if (out.count(key))
                continue; // the first of a doubled name is the one every command sees
            try {
                out[key] = image.read_file(part, f.name);
            } catch (const std::exception &) {
            }
        }
    }
    return out;
}

void PrintTo(const Corruption &corruption, std::ostream *out)
{
    *out << corruption.name;
}

const std::vector<Corruption> &corruption_catalogue()
{
    static const std::vector<Corruption> catalogue = make_catalogue();
    return catalogue;
}

const Corruption &corruption(const std::string &name)
{
    for (const Corruption &c : corruption_catalogue())
        if (c.name == name)
            return c;
    throw std::runtime_error("no corruption named " + name);
}

std::string corruption_expect_file(const Corruption &corruption, const std::string &run)
{
    return "check/expect/" + corruption.name + "/" + run;
}

namespace {

// What a corruption does besides its statuses and what the runs print: the files the
// damage itself changes, the host files the repair saves, whether writing commands refuse it.
struct Effects {
    std::set<std::string> damaged_files = {};
    std::vector<std::string> saved = {};
    bool blocks_writing = false;
};

Corruption with_effects(Corruption c, const Effects &effects)
{
    c.damaged_files = effects.damaged_files;
    c.saved = effects.saved;
    c.blocks_writing = effects.blocks_writing;
    return c;
}

// Found (status 4), mended (status 1), and a clean check after.
Corruption mended(std::string name, std::function<void(DiskImage &)> damage, const Effects &effects = {})
{
    Corruption c;
    c.name = std::move(name);
    c.damage = std::move(damage);
    return with_effects(c, effects);
}

// Found and left as it was by the repair (which may add a note on what helps): the same
// status every time.
Corruption left_alone(std::string name, std::function<void(DiskImage &)> damage, int status = 4,
                      const Effects &effects = {})
{
    Corruption c = mended(std::move(name), std::move(damage), effects);
    c.check_status = c.repair_status = c.after_status = status;
    return c;
}

// Some of it mended (status 5), some left (status 4 in the check after).
Corruption partly_mended(std::string name, std::function<void(DiskImage &)> damage, const Effects &effects = {})
{
    Corruption c = mended(std::move(name), std::move(damage), effects);
    c.repair_status = 5;
    c.after_status = 4;
    return c;
}

// The host files a repair saves the one-cluster chains in no file of the MPEG/JPEG
// partition to, from cluster `first` to before `end`.
std::vector<std::string> saved_chains(uint32_t first, uint32_t end, uint32_t step)
{
    std::vector<std::string> names;
    for (uint32_t c = first; c < end; c += step)
        names.push_back("orphan-MPEG-JPEG-" + std::to_string(c) + ".bin");
    return names;
}

// Gives directory slot `slot` the name `name` (as the disk stores names).
void rename_slot(DiskImage &image, int part, int slot, const std::string &name)
{
    Bytes raw = image.dir_slot(part, slot);
    Bytes field(60, 0);
    std::copy(name.begin(), name.end(), field.begin());
    field = swapped_words(field);
    std::copy(field.begin(), field.end(), raw.begin() + 64);
    image.set_dir_slot(part, slot, raw);
}

// 2.elu runs into 2.av's chain after its own cluster, its size covering both.
void share(DiskImage &image)
{
    FileInfo av = file(image, 0, "2.av");
    FileInfo elu = file(image, 0, "2.elu");
    image.set_fat_entry(0, elu.clusters[0], av.clusters[1]);
    set_slot(image, 0, "2.elu", SLOT_SIZE_LOW, 3 * 4096 - 100);
    set_slot(image, 0, "2.elu", SLOT_ALLOCATED, 24);
    set_slot(image, 0, "2.elu", SLOT_LAST, file(image, 0, "2.av").last_sector);
}

// A second entry, extra.bin, that is a copy of 4.av's.
void same_start(DiskImage &image)
{
    int slot = free_slot(image, 0);
    image.set_dir_slot(0, slot, image.dir_slot(0, file(image, 0, "4.av").slot));
    rename_slot(image, 0, slot, "extra.bin");
}

// Exchanges two directory slots, so that a file comes earlier in the directory.
void swap_slots(DiskImage &image, int part, int a, int b)
{
    Bytes first = image.dir_slot(part, a);
    image.set_dir_slot(part, a, image.dir_slot(part, b));
    image.set_dir_slot(part, b, first);
}

// Moves the AV partition behind the other two (its partition-table entry and the
// sectors its descriptor and directory name), then cuts the image after the first sector of its
// directory: the recordings partition last, the image ending inside its directory.
void cut_in_last_directory(DiskImage &image)
{
    constexpr unsigned D_UTAB_SECTOR = 244, D_FAT_SECTOR = 260, D_DATA_SECTOR = 268;
    PartitionGeometry av = image.geometry(0), last = image.geometry(2);
    uint32_t start = last.start_sector + last.sector_count;
    uint32_t delta = start - av.start_sector;
    image.write_bytes(uint64_t{start} * 512, image.read_sectors(av.start_sector, av.sector_count));
    Bytes entry = image.read_sectors(0, 1);
    entry[456] = uint8_t(start >> 16);
    entry[457] = uint8_t(start >> 24);
    entry[462] = uint8_t(start);
    entry[463] = uint8_t(start >> 8);
    image.write_bytes(0, entry);
    for (unsigned offset : {D_UTAB_SECTOR, D_DIR_SECTOR, D_FAT_SECTOR, D_DATA_SECTOR})
        image.set_descriptor_u32(0, offset, get_le32(image.read_sectors(start, 1), offset) + delta);
    // Directory entries name absolute sectors too.
    for (const FileInfo &f : image.files(0)) {
        Bytes slot = image.dir_slot(0, f.slot);
        put_le32(slot, SLOT_FIRST, f.first_sector + delta);
        put_le32(slot, SLOT_LAST, f.last_sector + delta);
        image.set_dir_slot(0, f.slot, slot);
    }
    if (truncate(image.path().c_str(), static_cast<off_t>((uint64_t{image.dir_sector(0)} + 1) * 512)) != 0)
        throw std::runtime_error("catalogue: truncate");
}

std::vector<Corruption> make_catalogue()
{
    std::vector<Corruption> list;
    auto add = [&](Corruption c) { list.push_back(std::move(c)); };

    // ---- chains ----
    add(mended("chain-ends-free", [](DiskImage &image) {
             FileInfo av = file(image, 0, "3.av");
             image.set_fat_entry(0, av.clusters.back(), FAT_FREE);
             image.set_fat_word0(0, image.fat_word0(0) + 1);
         }, {.blocks_writing = true}));
    add(mended("chain-ends-invalid", [](DiskImage &image) {
             FileInfo av = file(image, 0, "3.av");
             image.set_fat_entry(0, av.clusters.back(), 0x00ABCDEF);
         }));
    add(mended("chain-loops", [](DiskImage &image) {
             FileInfo av = file(image, 0, "3.av");
             image.set_fat_entry(0, av.clusters.back(), av.clusters[1]);
         }));
    // The smallest loop: an entry that names its own cluster.
    add(mended("chain-loops-to-itself", [](DiskImage &image) {
             FileInfo av = file(image, 0, "3.av");
             image.set_fat_entry(0, av.clusters.back(), av.clusters.back());
         }));
    add(mended("chain-short", [](DiskImage &image) { set_slot(image, 0, "4.elu", SLOT_SIZE_LOW, 9000); },
           {.damaged_files = {"0:4.elu"}}));
    add(mended("chain-long", [](DiskImage &image) {
             FileInfo av = file(image, 0, "2.av");
             uint32_t extra = spare_cluster(image, 0);
             image.set_fat_entry(0, av.clusters.back(), extra);
             image.set_fat_entry(0, extra, FAT_END);
             image.set_fat_word0(0, image.fat_word0(0) - 1);
         }, {.saved = {"orphan-AV-255.ts"}}));
    add(mended("allocated-wrong", [](DiskImage &image) { set_slot(image, 0, "3.av", SLOT_ALLOCATED, 8); }));
    add(mended("last-sector-wrong", [](DiskImage &image) {
             set_slot(image, 0, "3.av", SLOT_LAST, file(image, 0, "3.av").first_sector);
         }));
    add(mended("first-unaligned", [](DiskImage &image) {
             set_slot(image, 0, "4.av", SLOT_FIRST, file(image, 0, "4.av").first_sector + 3);
         }));
    // A damaged first sector: its chain is found again by the entry's size and last sector.
    add(mended("first-outside", [](DiskImage &image) { set_slot(image, 0, "4.elu", SLOT_FIRST, 5); }));
    // The same with the cluster gone: nothing to find, and a recording's file is not removed.
    add(left_alone("first-outside-lost", [](DiskImage &image) {
             FileInfo elu = file(image, 0, "4.elu");
             image.set_fat_entry(0, elu.clusters[0], FAT_FREE);
             image.set_fat_word0(0, image.fat_word0(0) + 1);
             set_slot(image, 0, "4.elu", SLOT_FIRST, 5);
         }, 4, {.damaged_files = {"0:4.elu"}}));
    // A first sector with one bit flipped, into a free cluster (item of a failing drive).
    add(mended("first-sector", [](DiskImage &image) {
             set_slot(image, 0, "3.av", SLOT_FIRST, file(image, 0, "3.av").first_sector ^ 0x200);
         }, {.blocks_writing = true}));
    // A size field that lost bits: the entry's allocated and last sectors still count the
    // whole chain, which ends properly.
    add(mended("size-too-small", [](DiskImage &image) { set_slot(image, 0, "3.av", SLOT_SIZE_LOW, 5000); },
           {.damaged_files = {"0:3.av"}}));
    // What a cut write can leave: the last cluster without its end marker, word 0 as it was.
    add(mended("end-marker", [](DiskImage &image) {
             image.set_fat_entry(0, file(image, 0, "4.av").clusters.back(), FAT_FREE);
         }, {.blocks_writing = true}));
    // Entries no recording owns, with nothing on the disk: removed, not left with advice
    // for recordings.
    add(mended("garbage-slot", [](DiskImage &image) {
             int slot = free_slot(image, 2);
             Bytes raw(128, 0);
             put_le32(raw, SLOT_FIRST, 7);
             put_le32(raw, SLOT_SIZE_LOW, 0x5A5A);
             image.set_dir_slot(2, slot, raw);
             rename_slot(image, 2, slot, std::string("\xC3\x01junk\x1B[2J"));
         }));

    // ---- clusters in two files, names twice ----
    add(mended("shared-clusters", share, {.damaged_files = {"0:2.elu"}, .blocks_writing = true}));
    // Both files belong to a listed recording and there is no room for a copy: neither is
    // cut; the sharing is left with what helps.
    add(left_alone("shared-clusters-no-room", [](DiskImage &image) {
             share(image);
             fill_partition(image, 0);
         }, 4, {.damaged_files = {"0:2.elu"}, .blocks_writing = true}));
    add(mended("same-start", same_start, {.blocks_writing = true}));
    add(mended("same-start-no-room", [](DiskImage &image) {
             same_start(image);
             fill_partition(image, 0, 1);
         }, {.blocks_writing = true}));
    // The time-shift buffer, earlier in the directory, runs past its size into the middle
    // of a recording on a full disk: the buffer gives way, the recording keeps every
    // cluster.
    add(mended("full-disk", [](DiskImage &image) {
             FileInfo av = file(image, 0, "3.av");
             FileInfo buffer = file(image, 0, "0.av");
             swap_slots(image, 0, av.slot, buffer.slot);
             image.set_fat_entry(0, buffer.clusters.back(), av.clusters[2]);
             fill_partition(image, 0);
         }, {.damaged_files = {"0:0.av"}, .blocks_writing = true}));
    // A junk entry earlier in the directory that starts at a recording's first cluster and
    // claims its size: with room for no copy it is emptied, the recording keeps its chain.
    add(mended("junk-before-recording", [](DiskImage &image) {
             FileInfo av = file(image, 0, "4.av");
             image.set_dir_slot(0, free_slot(image, 0), image.dir_slot(0, av.slot));
             rename_slot(image, 0, av.slot, "junk.bin");
             fill_partition(image, 0, 1);
         }, {.blocks_writing = true}));
    // Two files of one hostile name: the new name is shown as every name from the disk is.
    add(mended("name-clash-escape", [](DiskImage &image) {
             image.add_file(0, "\x1B]0;owned\x07.elu", pattern_bytes(300, 56));
             int slot = image.add_file(0, "other.elu", pattern_bytes(300, 55));
             rename_slot(image, 0, slot, "\x1B]0;owned\x07.elu");
         }, {.blocks_writing = true}));
    add(mended("duplicate-entry", [](DiskImage &image) {
             FileInfo epg = file(image, 1, "3.epg");
             image.set_dir_slot(1, free_slot(image, 1), image.dir_slot(1, epg.slot));
         }, {.blocks_writing = true}));
    add(mended("name-clash", [](DiskImage &image) {
             int slot = image.add_file(0, "other.elu", pattern_bytes(300, 55));
             rename_slot(image, 0, slot, "3.elu");
         }, {.blocks_writing = true}));

    // ---- the allocation table ----
    add(mended("orphan-chain", [](DiskImage &image) {
             // A lost directory entry: 3.elu's slot is gone, its cluster still marked used.
             image.set_dir_slot(0, file(image, 0, "3.elu").slot, Bytes(128, 0));
         }, {.damaged_files = {"0:3.elu"}, .saved = {"orphan-AV-5.ts"}}));
    add(mended("invalid-entry", [](DiskImage &image) {
             image.set_fat_entry(0, spare_cluster(image, 0, 3), 0x12345678);
             image.set_fat_word0(0, image.fat_word0(0) - 1);
         }, {.saved = {"orphan-AV-253.ts"}}));
    add(mended("invalid-entries-many", [](DiskImage &image) {
             for (uint32_t c = 1000; c < 1009; ++c)
                 image.set_fat_entry(2, c, 0x00F00000 + c);
             image.set_fat_word0(2, image.fat_word0(2) - 9);
         }, {.saved = saved_chains(1000, 1009, 1)}));
    add(mended("orphan-chains-many", [](DiskImage &image) {
             for (uint32_t c = 1000; c < 1036; c += 2)
                 image.set_fat_entry(2, c, FAT_END);
             image.set_fat_word0(2, image.fat_word0(2) - 18);
         }, {.saved = saved_chains(1000, 1036, 2)}));
    add(mended("free-count-high", [](DiskImage &image) { image.set_fat_word0(0, image.fat_word0(0) + 5); }));
    add(mended("free-count-low", [](DiskImage &image) { image.set_fat_word0(1, image.fat_word0(1) - 5); }));
    // Past 1024 chains in no file the table looks overwritten: the clusters are left, but
    // a loop in a file of the same partition is still mended.
    add(partly_mended("fat-overwritten", [](DiskImage &image) {
             image.set_fat_entry(2, file(image, 2, "photo.jpg").clusters.back(), 0);
             for (uint32_t c = 100; c < 2048; ++c)
                 image.set_fat_entry(2, c, FAT_END);
         }));
    // A ring through a whole table, under several files: every chain meets every other.
    // One repair finds each file its own clusters and saves the rest.
    add(mended("ring-through-table", [](DiskImage &image) {
             image.add_file_at(2, "a.jpg", pattern_bytes(1000, 21), {500, 501});
             image.add_file_at(2, "b.jpg", pattern_bytes(600, 22), {1500, 1501});
             for (uint32_t c = 0; c < 2048; ++c)
                 image.set_fat_entry(2, c, (c + 1) % 2048);
             image.set_fat_word0(2, 0);
         }, {.saved = {"orphan-MPEG-JPEG-10.bin", "orphan-MPEG-JPEG-1502.bin", "orphan-MPEG-JPEG-502.bin"},
            .blocks_writing = true}));
    // ---- the layout ----
    add(left_alone("descriptor-past-end", [](DiskImage &image) {
             uint64_t start = image.start_sector(2);
             if (truncate(image.path().c_str(), static_cast<off_t>(start * 512)) != 0)
                 throw std::runtime_error("catalogue: truncate");
         }));
    add(left_alone("region-outside", [](DiskImage &image) {
             testimg::PartitionGeometry g = image.geometry(2);
             image.set_descriptor_u32(2, D_DIR_SECTOR, g.start_sector + g.sector_count + 10);
         }));
    add(left_alone("table-too-large", [](DiskImage &image) {
             image.set_descriptor_u32(2, D_CLUSTER_COUNT, 0x50000000);
             image.set_descriptor_u32(2, D_FAT_SECTORS, 0x02000000);
         }));
    add(left_alone("size-mismatch", [](DiskImage &image) {
             image.set_descriptor_u32(2, D_DATA_SECTORS, image.geometry(2).data_sectors - 8);
         }));
    add(left_alone("table-clamped", [](DiskImage &image) { image.set_descriptor_u32(1, D_CLUSTER_COUNT, 100000); }));
    add(left_alone("descriptor-unusable", [](DiskImage &image) { image.set_descriptor_u32(2, D_DIR_SECTORS, 255); }));
    add(left_alone("regions-overlap", [](DiskImage &image) { image.set_descriptor_u32(2, D_FAT_SECTORS, 300); }));
    add(left_alone("truncated", [](DiskImage &image) {
             uint64_t end = uint64_t{image.geometry(2).data_sector} + image.geometry(2).data_sectors;
             if (truncate(image.path().c_str(), static_cast<off_t>((end - 100) * 512)) != 0)
                 throw std::runtime_error("catalogue: truncate");
         }));
    // The recordings partition last, the image cut inside its directory: what is past the
    // end is not missing, and no entry is to be removed for it.
    add(left_alone("truncated-in-directory", cut_in_last_directory, 4,
                   {.damaged_files = {"0:2.av", "0:2.elu", "0:3.av", "0:3.elu", "0:4.av", "0:4.elu"}}));
    add(left_alone("unknown-partition-table", [](DiskImage &image) { image.write_bytes(476, {0, 0}); }));

    // ---- the record list ----
    add(left_alone("list-size", [](DiskImage &image) {
             set_slot(image, 1, RECORD_LIST_NAME, SLOT_SIZE_LOW, 3 * 304 + 5 + 3);
         }, 4, {.damaged_files = {"1:_RECORD_LIST_"}}));
    add(left_alone("list-signature", [](DiskImage &image) {
             Bytes list = list_bytes(image);
             list[0] = 0x02;
             rewrite_file(image, 1, RECORD_LIST_NAME, list);
         }, 4, {.damaged_files = {"1:_RECORD_LIST_"}}));
    add(left_alone("list-trailer", [](DiskImage &image) {
             Bytes list = list_bytes(image);
             list.back() = 0x01;
             rewrite_file(image, 1, RECORD_LIST_NAME, list);
         }, 4, {.damaged_files = {"1:_RECORD_LIST_"}}));
    add(mended("list-missing", [](DiskImage &image) { image.remove_file(1, RECORD_LIST_NAME); },
           {.damaged_files = {"1:_RECORD_LIST_", "1:_RL_BACKUP_"}}));
    add(left_alone("backup-damaged", [](DiskImage &image) { rewrite_file(image, 1, "_RL_BACKUP_", Bytes(10, 0)); },
               4, {.damaged_files = {"1:_RL_BACKUP_"}}));
    add(left_alone("entries-hidden", [](DiskImage &image) { set_entry_number(image, 1, 3, 9); },
               4, {.damaged_files = {"1:_RECORD_LIST_"}}));
    add(left_alone("number-twice", [](DiskImage &image) { set_entry_number(image, 2, 3, 3); },
               4, {.damaged_files = {"1:_RECORD_LIST_"}}));
    add(left_alone("stream-missing", [](DiskImage &image) { image.remove_file(0, "4.av"); },
               4, {.damaged_files = {"0:4.av"}}));
    // Two directory slots wiped (a bad sector): the streams are in chains in no file, kept
    // as candidates while their recordings are listed.
    add(left_alone("lost-entry", [](DiskImage &image) {
             image.set_dir_slot(0, file(image, 0, "3.av").slot, Bytes(128, 0));
             image.set_dir_slot(0, file(image, 0, "4.av").slot, Bytes(128, 0));
         }, 4, {.damaged_files = {"0:3.av", "0:4.av"}}));
    // Only N.tmp is what an interrupted -E leaves.
    add(left_alone("other-tmp-files", [](DiskImage &image) {
             image.add_file(1, "2.epg.tmp", pattern_bytes(300, 4));
             image.add_file(1, "foo.tmp", pattern_bytes(200, 5));
         }, 0));
    // A damaged list with no backup to swap in.
    add(left_alone("list-no-backup", [](DiskImage &image) {
             Bytes list = list_bytes(image);
             list[0] = 0x02;
             rewrite_file(image, 1, RECORD_LIST_NAME, list);
             image.remove_file(1, "_RL_BACKUP_");
         }, 4, {.damaged_files = {"1:_RECORD_LIST_", "1:_RL_BACKUP_"}}));
    add(left_alone("unlisted-recording", [](DiskImage &image) {
             image.add_file(0, "7.av", pattern_bytes(5000, 7), 0x1002);
             image.add_file(0, "7.elu", pattern_bytes(100, 8));
         }, 0));
    add(mended("stray-companion", [](DiskImage &image) { image.add_file(1, "8.epg", pattern_bytes(400, 8)); },
           {.saved = {"removed-EPG-8.epg"}}));
    add(mended("leftover-tmp", [](DiskImage &image) { image.add_file(1, "3.tmp", pattern_bytes(600, 3)); },
           {.saved = {"removed-EPG-3.tmp"}}));
    add(mended("leftover-tmp-alone", [](DiskImage &image) {
             Bytes epg = image.read_file(1, "3.epg");
             image.remove_file(1, "3.epg");
             image.add_file(1, "3.tmp", epg);
         }, {.damaged_files = {"1:3.epg"}}));
    add(left_alone("unknown-format", [](DiskImage &image) { image.set_descriptor_u32(1, D_FORMAT, 0xE0000099); }));
    add(left_alone("length-undecided", [](DiskImage &image) {
             image.set_descriptor_u32(1, D_FORMAT, 0xE000000F);
             set_slot(image, 1, RECORD_LIST_NAME, SLOT_SIZE_LOW, 3 * 304 + 5 - 1);
         }, 4, {.damaged_files = {"1:_RECORD_LIST_"}}));
    return list;
}

} // namespace

} // namespace testimg
