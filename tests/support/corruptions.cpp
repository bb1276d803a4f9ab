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

namespace {

// What a corruption does to the disk besides the output: the files the damage itself
// changes, the host files the repair saves, whether writing commands refuse it.
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

// Found (status 4), mended (status 1: the check's lines, then `repaired`), and a clean
// check after.
Corruption mended(std::string name, std::function<void(DiskImage &)> damage, std::string check,
                  const std::string &repaired, const Effects &effects = {})
{
    Corruption c;
    c.name = std::move(name);
    c.damage = std::move(damage);
    c.check_output = check;
    c.repair_output = check + repaired;
    c.after_output = "disk.img: no problems, 0 bytes leaked\n";
    return with_effects(c, effects);
}

// Found and left exactly as it was by the repair: the same lines every time.
Corruption left_alone(std::string name, std::function<void(DiskImage &)> damage, const std::string &output,
                      int status = 4, const Effects &effects = {})
{
    Corruption c;
    c.name = std::move(name);
    c.damage = std::move(damage);
    c.check_output = c.repair_output = c.after_output = output;
    c.check_status = c.repair_status = c.after_status = status;
    return with_effects(c, effects);
}

// Found, and left by the repair with a note on what helps; the disk is left as it was.
Corruption left_with_note(std::string name, std::function<void(DiskImage &)> damage, const std::string &output,
                          const std::string &note, const Effects &effects = {})
{
    Corruption c = left_alone(std::move(name), std::move(damage), output, 4, effects);
    c.repair_output = output + note;
    return c;
}

// Some of it mended (status 5), some left (the check after shows `after`, status 4).
Corruption partly_mended(std::string name, std::function<void(DiskImage &)> damage, std::string check,
                         const std::string &repaired, std::string after, const Effects &effects = {})
{
    Corruption c = mended(std::move(name), std::move(damage), std::move(check), repaired, effects);
    c.repair_status = 5;
    c.after_output = std::move(after);
    c.after_status = 4;
    return c;
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
         },
           R"~(AV: "3.av" (recording 2, "Three"): its chain ends in cluster 10, which is marked free
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(AV: "3.av" (recording 2, "Three"): end marker set in cluster 10
AV: word 0 set to 243 free clusters
disk.img: 1 problem repaired, 0 left
)~",
           {.blocks_writing = true}));
    add(mended("chain-ends-invalid", [](DiskImage &image) {
             FileInfo av = file(image, 0, "3.av");
             image.set_fat_entry(0, av.clusters.back(), 0x00ABCDEF);
         },
           R"~(AV: "3.av" (recording 2, "Three"): its chain ends in cluster 10, whose entry 0x00ABCDEF names no cluster
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(AV: "3.av" (recording 2, "Three"): end marker set in cluster 10
disk.img: 1 problem repaired, 0 left
)~"));
    add(mended("chain-loops", [](DiskImage &image) {
             FileInfo av = file(image, 0, "3.av");
             image.set_fat_entry(0, av.clusters.back(), av.clusters[1]);
         },
           R"~(AV: "3.av" (recording 2, "Three"): its chain loops back from cluster 10 to cluster 6
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(AV: "3.av" (recording 2, "Three"): end marker set in cluster 10
disk.img: 1 problem repaired, 0 left
)~"));
    // The smallest loop: an entry that names its own cluster.
    add(mended("chain-loops-to-itself", [](DiskImage &image) {
             FileInfo av = file(image, 0, "3.av");
             image.set_fat_entry(0, av.clusters.back(), av.clusters.back());
         },
           R"~(AV: "3.av" (recording 2, "Three"): its chain loops back from cluster 10 to cluster 10
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(AV: "3.av" (recording 2, "Three"): end marker set in cluster 10
disk.img: 1 problem repaired, 0 left
)~"));
    add(mended("chain-short", [](DiskImage &image) { set_slot(image, 0, "4.elu", SLOT_SIZE_LOW, 9000); },
           R"~(AV: "4.elu" (recording 3, "Four"): 4904 bytes missing: its size is 9000 bytes, its chain holds 4096
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(AV: "4.elu" (recording 3, "Four"): size lowered to the 4096 bytes its chain holds
disk.img: 1 problem repaired, 0 left
)~",
           {.damaged_files = {"0:4.elu"}}));
    add(mended("chain-long", [](DiskImage &image) {
             FileInfo av = file(image, 0, "2.av");
             uint32_t extra = spare_cluster(image, 0);
             image.set_fat_entry(0, av.clusters.back(), extra);
             image.set_fat_entry(0, extra, FAT_END);
             image.set_fat_word0(0, image.fat_word0(0) - 1);
         },
           R"~(AV: "2.av" (recording 1, "Two"): 1 cluster past its size of 10000 bytes: cluster 255
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(AV: "2.av" (recording 1, "Two"): chain cut after the 3 clusters its size needs
AV: word 0 set to 243 free clusters
AV: 1 cluster from cluster 255 saved as "orphan-AV-255.ts" and freed
disk.img: 1 problem repaired, 0 left
)~",
           {.saved = {"orphan-AV-255.ts"}}));
    add(mended("allocated-wrong", [](DiskImage &image) { set_slot(image, 0, "3.av", SLOT_ALLOCATED, 8); },
           R"~(AV: "3.av" (recording 2, "Three"): its entry says 8 sectors allocated, its clusters hold 32
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(AV: "3.av" (recording 2, "Three"): allocated sectors set to 32, last sector to 405
disk.img: 1 problem repaired, 0 left
)~"));
    add(mended("last-sector-wrong", [](DiskImage &image) {
             set_slot(image, 0, "3.av", SLOT_LAST, file(image, 0, "3.av").first_sector);
         },
           R"~(AV: "3.av" (recording 2, "Three"): its entry puts its last cluster at sector 357, its chain at sector 405
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(AV: "3.av" (recording 2, "Three"): allocated sectors set to 32, last sector to 405
disk.img: 1 problem repaired, 0 left
)~"));
    add(mended("first-unaligned", [](DiskImage &image) {
             set_slot(image, 0, "4.av", SLOT_FIRST, file(image, 0, "4.av").first_sector + 3);
         },
           R"~(AV: "4.av" (recording 3, "Four") starts at sector 416, inside cluster 11 but not at its start
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(AV: "4.av" (recording 3, "Four"): first sector set to 413
disk.img: 1 problem repaired, 0 left
)~"));
    // A damaged first sector: its chain is found again by the entry's size and last sector.
    add(mended("first-outside", [](DiskImage &image) { set_slot(image, 0, "4.elu", SLOT_FIRST, 5); },
           R"~(AV: "4.elu" (recording 3, "Four") starts at sector 5, outside the data area: it has no clusters
AV: 1 cluster (4096 bytes) from cluster 7 marked used but in no file: the chain of "4.elu" (recording 3, "Four"), by its size and its entry's last sector
disk.img: 2 problems (2 repairable), 4096 bytes leaked in 1 cluster
)~",
           R"~(AV: "4.elu" (recording 3, "Four"): first sector set to 381, where its chain starts
disk.img: 2 problems repaired, 0 left
)~"));
    // The same with the cluster gone: nothing to find, and a recording's file is not removed.
    add(left_alone("first-outside-lost", [](DiskImage &image) {
             FileInfo elu = file(image, 0, "4.elu");
             image.set_fat_entry(0, elu.clusters[0], FAT_FREE);
             image.set_fat_word0(0, image.fat_word0(0) + 1);
             set_slot(image, 0, "4.elu", SLOT_FIRST, 5);
         },
               R"~(AV: "4.elu" (recording 3, "Four") starts at sector 5, outside the data area: it has no clusters; its contents cannot be found: remove a recording's entry with -d
disk.img: 1 problem (0 repairable), 0 bytes leaked
)~", 4, {.damaged_files = {"0:4.elu"}}));
    // A first sector with one bit flipped, into a free cluster (item of a failing drive).
    add(mended("first-sector", [](DiskImage &image) {
             set_slot(image, 0, "3.av", SLOT_FIRST, file(image, 0, "3.av").first_sector ^ 0x200);
         },
           R"~(AV: "3.av" (recording 2, "Three"): its chain ends in cluster 68, which is marked free
AV: "3.av" (recording 2, "Three"): 9904 bytes missing: its size is 14000 bytes, its chain holds 4096
AV: "3.av" (recording 2, "Three"): its entry says 32 sectors allocated, its clusters hold 8
AV: "3.av" (recording 2, "Three"): its entry puts its last cluster at sector 405, its chain at sector 869
AV: 4 clusters (16384 bytes) from cluster 4 marked used but in no file: the chain of "3.av" (recording 2, "Three"), by its size and its entry's last sector
disk.img: 5 problems (5 repairable), 16384 bytes leaked in 4 clusters
)~",
           R"~(AV: "3.av" (recording 2, "Three"): first sector set to 357, where its chain starts
disk.img: 5 problems repaired, 0 left
)~",
           {.blocks_writing = true}));
    // A size field that lost bits: the entry's allocated and last sectors still count the
    // whole chain, which ends properly.
    add(mended("size-too-small", [](DiskImage &image) { set_slot(image, 0, "3.av", SLOT_SIZE_LOW, 5000); },
           R"~(AV: "3.av" (recording 2, "Three"): its size of 5000 bytes is short of its chain: its entry's allocated and last sectors count all 4 clusters
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(AV: "3.av" (recording 2, "Three"): size raised to the 16384 bytes its chain holds
disk.img: 1 problem repaired, 0 left
)~",
           {.damaged_files = {"0:3.av"}}));
    // What a cut write can leave: the last cluster without its end marker, word 0 as it was.
    add(mended("end-marker", [](DiskImage &image) {
             image.set_fat_entry(0, file(image, 0, "4.av").clusters.back(), FAT_FREE);
         },
           R"~(AV: "4.av" (recording 3, "Four"): its chain ends in cluster 12, which is marked free
AV: word 0 says 243 free clusters, the table has 244
disk.img: 2 problems (2 repairable), 0 bytes leaked
)~",
           R"~(AV: "4.av" (recording 3, "Four"): end marker set in cluster 12
disk.img: 2 problems repaired, 0 left
)~",
           {.blocks_writing = true}));
    // Entries no recording owns, with nothing on the disk: removed, not left with advice
    // for recordings.
    add(mended("garbage-slot", [](DiskImage &image) {
             int slot = free_slot(image, 2);
             Bytes raw(128, 0);
             put_le32(raw, SLOT_FIRST, 7);
             put_le32(raw, SLOT_SIZE_LOW, 0x5A5A);
             image.set_dir_slot(2, slot, raw);
             rename_slot(image, 2, slot, std::string("\xC3\x01junk\x1B[2J"));
         },
           "MPEG/JPEG: \"\xC3.junk.[2J\" starts at sector 7, outside the data area: it has no clusters and belongs to "
           "no recording\n"
           "disk.img: 1 problem (1 repairable), 0 bytes leaked\n",
           "MPEG/JPEG: \"\xC3.junk.[2J\": removed from the directory (it has no clusters)\n"
           "disk.img: 1 problem repaired, 0 left\n"));

    // ---- clusters in two files, names twice ----
    add(mended("shared-clusters", share,
           R"~(AV: "2.elu" (recording 1, "Two"): 2 clusters shared with "2.av" (recording 1, "Two"): clusters 1-2
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(AV: "2.elu" (recording 1, "Two"): its 2 clusters shared with "2.av" (recording 1, "Two") copied to clusters 13-14
AV: "2.elu" (recording 1, "Two"): allocated sectors set to 24, last sector to 437
AV: word 0 set to 241 free clusters
disk.img: 1 problem repaired, 0 left
)~",
           {.damaged_files = {"0:2.elu"}, .blocks_writing = true}));
    // Both files belong to a listed recording and there is no room for a copy: neither is
    // cut; the sharing is left with what helps.
    add(left_with_note("shared-clusters-no-room", [](DiskImage &image) {
             share(image);
             fill_partition(image, 0);
         },
               R"~(AV: "2.elu" (recording 1, "Two"): 2 clusters shared with "2.av" (recording 1, "Two"): clusters 1-2
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
               R"~(AV: "2.elu" (recording 1, "Two"): left sharing the clusters from 1 on with "2.av" (recording 1, "Two"): no room for a copy, and neither may give way; copy the recordings off first (-g)
)~",
               {.damaged_files = {"0:2.elu"}, .blocks_writing = true}));
    add(mended("same-start", same_start,
           R"~(AV: "extra.bin" and "4.av" (recording 3, "Four") both start at cluster 11
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(AV: "extra.bin": its 2 clusters shared with "4.av" (recording 3, "Four") copied to clusters 13-14
AV: "extra.bin": allocated sectors set to 16, last sector to 437
AV: word 0 set to 241 free clusters
disk.img: 1 problem repaired, 0 left
)~",
           {.blocks_writing = true}));
    add(mended("same-start-no-room", [](DiskImage &image) {
             same_start(image);
             fill_partition(image, 0, 1);
         },
           R"~(AV: "extra.bin" and "4.av" (recording 3, "Four") both start at cluster 11
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(AV: "extra.bin": no room for a copy: emptied, its contents stay with "4.av" (recording 3, "Four")
AV: "extra.bin": allocated sectors set to 8, last sector to 2365
AV: word 0 set to 0 free clusters
disk.img: 1 problem repaired, 0 left
)~",
           {.blocks_writing = true}));
    // The time-shift buffer, earlier in the directory, runs past its size into the middle
    // of a recording on a full disk: the buffer gives way, the recording keeps every
    // cluster.
    add(mended("full-disk", [](DiskImage &image) {
             FileInfo av = file(image, 0, "3.av");
             FileInfo buffer = file(image, 0, "0.av");
             swap_slots(image, 0, av.slot, buffer.slot);
             image.set_fat_entry(0, buffer.clusters.back(), av.clusters[2]);
             fill_partition(image, 0);
         },
           R"~(AV: "0.av": 2 clusters past its size of 4096 bytes: clusters 8, 10
AV: "3.av" (recording 2, "Three"): 2 clusters shared with "0.av": clusters 8, 10
disk.img: 2 problems (2 repairable), 0 bytes leaked
)~", R"~(AV: "0.av": chain cut after the 1 cluster its size needs
disk.img: 2 problems repaired, 0 left
)~", {.damaged_files = {"0:0.av"}, .blocks_writing = true}));
    // A junk entry earlier in the directory that starts at a recording's first cluster and
    // claims its size: with room for no copy it is emptied, the recording keeps its chain.
    add(mended("junk-before-recording", [](DiskImage &image) {
             FileInfo av = file(image, 0, "4.av");
             image.set_dir_slot(0, free_slot(image, 0), image.dir_slot(0, av.slot));
             rename_slot(image, 0, av.slot, "junk.bin");
             fill_partition(image, 0, 1);
         },
           R"~(AV: "4.av" (recording 3, "Four") and "junk.bin" both start at cluster 11
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~", R"~(AV: "junk.bin": no room for a copy: emptied, its contents stay with "4.av" (recording 3, "Four")
AV: "junk.bin": allocated sectors set to 8, last sector to 2365
AV: word 0 set to 0 free clusters
disk.img: 1 problem repaired, 0 left
)~", {.blocks_writing = true}));
    // Two files of one hostile name: the new name is shown as every name from the disk is.
    add(mended("name-clash-escape", [](DiskImage &image) {
             image.add_file(0, "\x1B]0;owned\x07.elu", pattern_bytes(300, 56));
             int slot = image.add_file(0, "other.elu", pattern_bytes(300, 55));
             rename_slot(image, 0, slot, "\x1B]0;owned\x07.elu");
         },
           R"~(AV: the name ".]0;owned..elu" is in slots 7 and 8, for different clusters
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~", R"~(AV: ".]0;owned..elu" in slot 8: renamed to ".]0;owned._1.elu"
disk.img: 1 problem repaired, 0 left
)~", {.blocks_writing = true}));
    add(mended("duplicate-entry", [](DiskImage &image) {
             FileInfo epg = file(image, 1, "3.epg");
             image.set_dir_slot(1, free_slot(image, 1), image.dir_slot(1, epg.slot));
         },
           R"~(EPG: "3.epg" (recording 2, "Three") is in the directory twice (slots 1 and 5, the same file)
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(EPG: "3.epg" (recording 2, "Three"): its second entry (slot 5) removed
disk.img: 1 problem repaired, 0 left
)~",
           {.blocks_writing = true}));
    add(mended("name-clash", [](DiskImage &image) {
             int slot = image.add_file(0, "other.elu", pattern_bytes(300, 55));
             rename_slot(image, 0, slot, "3.elu");
         },
           R"~(AV: the name "3.elu" (recording 2, "Three") is in slots 3 and 7, for different clusters
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(AV: "3.elu" (recording 2, "Three") in slot 7: renamed to "3_1.elu"
disk.img: 1 problem repaired, 0 left
)~",
           {.blocks_writing = true}));

    // ---- the allocation table ----
    add(mended("orphan-chain", [](DiskImage &image) {
             // A lost directory entry: 3.elu's slot is gone, its cluster still marked used.
             image.set_dir_slot(0, file(image, 0, "3.elu").slot, Bytes(128, 0));
         },
           R"~(AV: 1 cluster (4096 bytes) from cluster 5 marked used but in no file
disk.img: 1 problem (1 repairable), 4096 bytes leaked in 1 cluster
)~",
           R"~(AV: word 0 set to 244 free clusters
AV: 1 cluster from cluster 5 saved as "orphan-AV-5.ts" and freed
disk.img: 1 problem repaired, 0 left
)~",
           {.damaged_files = {"0:3.elu"}, .saved = {"orphan-AV-5.ts"}}));
    add(mended("invalid-entry", [](DiskImage &image) {
             image.set_fat_entry(0, spare_cluster(image, 0, 3), 0x12345678);
             image.set_fat_word0(0, image.fat_word0(0) - 1);
         },
           R"~(AV: cluster 253 has the entry 0x12345678, which names no cluster
AV: 1 cluster (4096 bytes) from cluster 253 marked used but in no file
disk.img: 2 problems (2 repairable), 4096 bytes leaked in 1 cluster
)~",
           R"~(AV: word 0 set to 243 free clusters
AV: 1 cluster from cluster 253 saved as "orphan-AV-253.ts" and freed
disk.img: 2 problems repaired, 0 left
)~",
           {.saved = {"orphan-AV-253.ts"}}));
    add(mended("invalid-entries-many", [](DiskImage &image) {
             for (uint32_t c = 1000; c < 1009; ++c)
                 image.set_fat_entry(2, c, 0x00F00000 + c);
             image.set_fat_word0(2, image.fat_word0(2) - 9);
         },
           R"~(MPEG/JPEG: cluster 1000 has the entry 0x00F003E8, which names no cluster
MPEG/JPEG: cluster 1001 has the entry 0x00F003E9, which names no cluster
MPEG/JPEG: cluster 1002 has the entry 0x00F003EA, which names no cluster
MPEG/JPEG: cluster 1003 has the entry 0x00F003EB, which names no cluster
MPEG/JPEG: cluster 1004 has the entry 0x00F003EC, which names no cluster
MPEG/JPEG: cluster 1005 has the entry 0x00F003ED, which names no cluster
MPEG/JPEG: cluster 1006 has the entry 0x00F003EE, which names no cluster
MPEG/JPEG: cluster 1007 has the entry 0x00F003EF, which names no cluster
MPEG/JPEG: 1 more cluster with entries that name no cluster
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1000 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1001 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1002 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1003 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1004 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1005 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1006 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1007 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1008 marked used but in no file
disk.img: 18 problems (18 repairable), 4608 bytes leaked in 9 clusters
)~",
           R"~(MPEG/JPEG: word 0 set to 2038 free clusters
MPEG/JPEG: 1 cluster from cluster 1000 saved as "orphan-MPEG-JPEG-1000.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1001 saved as "orphan-MPEG-JPEG-1001.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1002 saved as "orphan-MPEG-JPEG-1002.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1003 saved as "orphan-MPEG-JPEG-1003.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1004 saved as "orphan-MPEG-JPEG-1004.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1005 saved as "orphan-MPEG-JPEG-1005.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1006 saved as "orphan-MPEG-JPEG-1006.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1007 saved as "orphan-MPEG-JPEG-1007.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1008 saved as "orphan-MPEG-JPEG-1008.bin" and freed
disk.img: 18 problems repaired, 0 left
)~",
           {.saved = {"orphan-MPEG-JPEG-1000.bin", "orphan-MPEG-JPEG-1001.bin", "orphan-MPEG-JPEG-1002.bin", "orphan-MPEG-JPEG-1003.bin", "orphan-MPEG-JPEG-1004.bin", "orphan-MPEG-JPEG-1005.bin", "orphan-MPEG-JPEG-1006.bin", "orphan-MPEG-JPEG-1007.bin", "orphan-MPEG-JPEG-1008.bin"}}));
    add(mended("orphan-chains-many", [](DiskImage &image) {
             for (uint32_t c = 1000; c < 1036; c += 2)
                 image.set_fat_entry(2, c, FAT_END);
             image.set_fat_word0(2, image.fat_word0(2) - 18);
         },
           R"~(MPEG/JPEG: 1 cluster (512 bytes) from cluster 1000 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1002 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1004 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1006 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1008 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1010 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1012 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1014 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1016 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1018 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1020 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1022 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1024 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1026 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1028 marked used but in no file
MPEG/JPEG: 1 cluster (512 bytes) from cluster 1030 marked used but in no file
MPEG/JPEG: 2 more chains of 2 clusters (1024 bytes) marked used but in no file
disk.img: 17 problems (17 repairable), 9216 bytes leaked in 18 clusters
)~",
           R"~(MPEG/JPEG: word 0 set to 2038 free clusters
MPEG/JPEG: 1 cluster from cluster 1000 saved as "orphan-MPEG-JPEG-1000.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1002 saved as "orphan-MPEG-JPEG-1002.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1004 saved as "orphan-MPEG-JPEG-1004.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1006 saved as "orphan-MPEG-JPEG-1006.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1008 saved as "orphan-MPEG-JPEG-1008.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1010 saved as "orphan-MPEG-JPEG-1010.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1012 saved as "orphan-MPEG-JPEG-1012.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1014 saved as "orphan-MPEG-JPEG-1014.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1016 saved as "orphan-MPEG-JPEG-1016.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1018 saved as "orphan-MPEG-JPEG-1018.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1020 saved as "orphan-MPEG-JPEG-1020.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1022 saved as "orphan-MPEG-JPEG-1022.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1024 saved as "orphan-MPEG-JPEG-1024.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1026 saved as "orphan-MPEG-JPEG-1026.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1028 saved as "orphan-MPEG-JPEG-1028.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1030 saved as "orphan-MPEG-JPEG-1030.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1032 saved as "orphan-MPEG-JPEG-1032.bin" and freed
MPEG/JPEG: 1 cluster from cluster 1034 saved as "orphan-MPEG-JPEG-1034.bin" and freed
disk.img: 17 problems repaired, 0 left
)~",
           {.saved = {"orphan-MPEG-JPEG-1000.bin", "orphan-MPEG-JPEG-1002.bin", "orphan-MPEG-JPEG-1004.bin", "orphan-MPEG-JPEG-1006.bin", "orphan-MPEG-JPEG-1008.bin", "orphan-MPEG-JPEG-1010.bin", "orphan-MPEG-JPEG-1012.bin", "orphan-MPEG-JPEG-1014.bin", "orphan-MPEG-JPEG-1016.bin", "orphan-MPEG-JPEG-1018.bin", "orphan-MPEG-JPEG-1020.bin", "orphan-MPEG-JPEG-1022.bin", "orphan-MPEG-JPEG-1024.bin", "orphan-MPEG-JPEG-1026.bin", "orphan-MPEG-JPEG-1028.bin", "orphan-MPEG-JPEG-1030.bin", "orphan-MPEG-JPEG-1032.bin", "orphan-MPEG-JPEG-1034.bin"}}));
    add(mended("free-count-high", [](DiskImage &image) { image.set_fat_word0(0, image.fat_word0(0) + 5); },
           R"~(AV: word 0 says 248 free clusters, the table has 243
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(AV: word 0 set to 243 free clusters
disk.img: 1 problem repaired, 0 left
)~"));
    add(mended("free-count-low", [](DiskImage &image) { image.set_fat_word0(1, image.fat_word0(1) - 5); },
           R"~(EPG: word 0 says 246 free clusters, the table has 251
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(EPG: word 0 set to 251 free clusters
disk.img: 1 problem repaired, 0 left
)~"));
    // Past 1024 chains in no file the table looks overwritten: the clusters are left, but
    // a loop in a file of the same partition is still mended.
    add(partly_mended("fat-overwritten", [](DiskImage &image) {
             image.set_fat_entry(2, file(image, 2, "photo.jpg").clusters.back(), 0);
             for (uint32_t c = 100; c < 2048; ++c)
                 image.set_fat_entry(2, c, FAT_END);
         },
               R"~(MPEG/JPEG: "photo.jpg": its chain loops back from cluster 9 to cluster 0
MPEG/JPEG: 1948 clusters in 1948 chains marked used but in no file: the allocation table looks overwritten; image the drive; recovery mode (-r) still finds the recordings whose chains are whole
MPEG/JPEG: word 0 says 2038 free clusters, the table has 90
disk.img: 3 problems (2 repairable), 997376 bytes leaked in 1948 clusters
)~", R"~(MPEG/JPEG: "photo.jpg": end marker set in cluster 9
MPEG/JPEG: word 0 set to 90 free clusters
disk.img: 2 problems repaired, 1 left
)~", R"~(MPEG/JPEG: 1948 clusters in 1948 chains marked used but in no file: the allocation table looks overwritten; image the drive; recovery mode (-r) still finds the recordings whose chains are whole
disk.img: 1 problem (0 repairable), 997376 bytes leaked in 1948 clusters
)~", {}));
    // A ring through a whole table, under several files: every chain meets every other.
    // One repair finds each file its own clusters and saves the rest.
    add(mended("ring-through-table", [](DiskImage &image) {
             image.add_file_at(2, "a.jpg", pattern_bytes(1000, 21), {500, 501});
             image.add_file_at(2, "b.jpg", pattern_bytes(600, 22), {1500, 1501});
             for (uint32_t c = 0; c < 2048; ++c)
                 image.set_fat_entry(2, c, (c + 1) % 2048);
             image.set_fat_word0(2, 0);
         },
           R"~(MPEG/JPEG: "photo.jpg": its chain loops back from cluster 2047 to cluster 0
MPEG/JPEG: "photo.jpg": 2038 clusters past its size of 5000 bytes: clusters 10-2047
MPEG/JPEG: "a.jpg": 2048 clusters shared with "photo.jpg": clusters 500-2047, 0-499
MPEG/JPEG: "a.jpg": 2046 clusters past its size of 1000 bytes: clusters 502-2047, 0-499
MPEG/JPEG: "b.jpg": 2048 clusters shared with "photo.jpg": clusters 1500-2047, 0-1499
MPEG/JPEG: "b.jpg": 2046 clusters past its size of 600 bytes: clusters 1502-2047, 0-1499
disk.img: 6 problems (6 repairable), 0 bytes leaked
)~", R"~(MPEG/JPEG: "photo.jpg": end marker set in cluster 2047
MPEG/JPEG: "photo.jpg": chain cut after the 10 clusters its size needs
MPEG/JPEG: "a.jpg": chain cut after the 2 clusters its size needs
MPEG/JPEG: "b.jpg": chain cut after the 2 clusters its size needs
MPEG/JPEG: word 0 set to 2034 free clusters
MPEG/JPEG: 490 clusters from cluster 10 saved as "orphan-MPEG-JPEG-10.bin" and freed
MPEG/JPEG: 998 clusters from cluster 502 saved as "orphan-MPEG-JPEG-502.bin" and freed
MPEG/JPEG: 546 clusters from cluster 1502 saved as "orphan-MPEG-JPEG-1502.bin" and freed
disk.img: 6 problems repaired, 0 left
)~",
           {.saved = {"orphan-MPEG-JPEG-10.bin", "orphan-MPEG-JPEG-1502.bin", "orphan-MPEG-JPEG-502.bin"},
            .blocks_writing = true}));
    // ---- the layout ----
    add(left_alone("descriptor-past-end", [](DiskImage &image) {
             uint64_t start = image.start_sector(2);
             if (truncate(image.path().c_str(), static_cast<off_t>(start * 512)) != 0)
                 throw std::runtime_error("catalogue: truncate");
         },
         R"~(MPEG/JPEG: its descriptor (sector 4682) lies beyond the end of the disk; image the drive again; recovery mode without information (-r -n) reads the first partition
disk.img: 1 problem (0 repairable), 0 bytes leaked
)~"));
    add(left_alone("region-outside", [](DiskImage &image) {
             testimg::PartitionGeometry g = image.geometry(2);
             image.set_descriptor_u32(2, D_DIR_SECTOR, g.start_sector + g.sector_count + 10);
         },
         R"~(MPEG/JPEG: its directory (sectors 7015 to 7270) lies outside the partition (sectors 4682 to 7004); nothing in this partition is repaired: copy the recordings off first (-g, or recovery mode -r)
MPEG/JPEG: 10 clusters (5120 bytes) from cluster 0 marked used but in no file
disk.img: 2 problems (0 repairable), 5120 bytes leaked in 10 clusters
)~"));
    add(left_alone("table-too-large", [](DiskImage &image) {
             image.set_descriptor_u32(2, D_CLUSTER_COUNT, 0x50000000);
             image.set_descriptor_u32(2, D_FAT_SECTORS, 0x02000000);
         },
         R"~(MPEG/JPEG: its allocation table (sectors 4684 to 33559115) lies outside the partition (sectors 4682 to 7004); nothing in this partition is repaired: copy the recordings off first (-g, or recovery mode -r)
MPEG/JPEG: its allocation table (sectors 4684 to 33559115) and directory (sectors 4701 to 4956) overlap; nothing in this partition is repaired: copy the recordings off first (-g, or recovery mode -r)
MPEG/JPEG: its allocation table (sectors 4684 to 33559115) and data area (sectors 4957 to 7004) overlap; nothing in this partition is repaired: copy the recordings off first (-g, or recovery mode -r)
MPEG/JPEG: its 1342177280 clusters of 1 sector do not fit its data area of 2048 sectors; nothing in this partition is repaired: copy the recordings off first (-g, or recovery mode -r)
MPEG/JPEG: its allocation table of 33554432 sectors is too large for any disk: not read; nothing in this partition is repaired: copy the recordings off first (-g, or recovery mode -r)
disk.img: 5 problems (0 repairable), 0 bytes leaked
)~"));
    add(left_alone("size-mismatch", [](DiskImage &image) {
             image.set_descriptor_u32(2, D_DATA_SECTORS, image.geometry(2).data_sectors - 8);
         },
               R"~(MPEG/JPEG: its data area ends before sector 6997, the partition before sector 7005; nothing in this partition is repaired: copy the recordings off first (-g, or recovery mode -r)
MPEG/JPEG: its 2048 clusters of 1 sector do not fit its data area of 2040 sectors; nothing in this partition is repaired: copy the recordings off first (-g, or recovery mode -r)
disk.img: 2 problems (0 repairable), 0 bytes leaked
)~"));
    add(left_alone("table-clamped", [](DiskImage &image) { image.set_descriptor_u32(1, D_CLUSTER_COUNT, 100000); },
               R"~(EPG: its 100000 clusters of 8 sectors do not fit its data area of 2048 sectors; nothing in this partition is repaired: copy the recordings off first (-g, or recovery mode -r)
EPG: its allocation table holds entries for 383 of its 100000 clusters; nothing in this partition is repaired: copy the recordings off first (-g, or recovery mode -r)
EPG: word 0 says 251 free clusters, the table has 378
disk.img: 3 problems (0 repairable), 0 bytes leaked
)~"));
    add(left_alone("descriptor-unusable", [](DiskImage &image) { image.set_descriptor_u32(2, D_DIR_SECTORS, 255); },
               R"~(MPEG/JPEG: its descriptor is unusable: a directory of 255 sectors (256 expected), clusters of 1 sector; nothing in this partition is repaired: copy the recordings off first (-g, or recovery mode -r)
disk.img: 1 problem (0 repairable), 0 bytes leaked
)~"));
    add(left_alone("regions-overlap", [](DiskImage &image) { image.set_descriptor_u32(2, D_FAT_SECTORS, 300); },
               R"~(MPEG/JPEG: its allocation table (sectors 4684 to 4983) and directory (sectors 4701 to 4956) overlap; nothing in this partition is repaired: copy the recordings off first (-g, or recovery mode -r)
MPEG/JPEG: its allocation table (sectors 4684 to 4983) and data area (sectors 4957 to 7004) overlap; nothing in this partition is repaired: copy the recordings off first (-g, or recovery mode -r)
disk.img: 2 problems (0 repairable), 0 bytes leaked
)~"));
    add(left_alone("truncated", [](DiskImage &image) {
             uint64_t end = uint64_t{image.geometry(2).data_sector} + image.geometry(2).data_sectors;
             if (truncate(image.path().c_str(), static_cast<off_t>((end - 100) * 512)) != 0)
                 throw std::runtime_error("catalogue: truncate");
         },
               R"~(Disk: the disk ends 100 sectors before the end of its partitions' data areas (what is missing reads as zeros); image the drive again: nothing is repaired on a truncated disk
disk.img: 1 problem (0 repairable), 0 bytes leaked
)~"));
    // The recordings partition last, the image cut inside its directory: what is past the
    // end is not missing, and no entry is to be removed for it.
    add(left_alone("truncated-in-directory", cut_in_last_directory, R"~(Disk: the disk ends 2303 sectors before the end of its partitions' data areas (what is missing reads as zeros); image the drive again: nothing is repaired on a truncated disk
AV: "2.av" (recording 1, "Two"): past the end of the disk: 3 of its 3 clusters
AV: "2.elu" (recording 1, "Two"): past the end of the disk: 1 of its 1 cluster
AV: "3.av" (recording 2, "Three"): past the end of the disk: 4 of its 4 clusters
AV: "3.elu" (recording 2, "Three"): past the end of the disk: 1 of its 1 cluster
AV: 1 cluster (4096 bytes) from cluster 7 marked used but in no file
AV: 1 cluster (4096 bytes) from cluster 9 marked used but in no file
AV: 2 clusters (8192 bytes) from cluster 11 marked used but in no file
Record list: recording 3 ("Four"): 4.av is not in the part of the AV directory that the disk holds
disk.img: 9 problems (0 repairable), 16384 bytes leaked in 4 clusters
)~", 4,
                   {.damaged_files = {"0:2.av", "0:2.elu", "0:3.av", "0:3.elu", "0:4.av", "0:4.elu"}}));
    add(left_alone("unknown-partition-table", [](DiskImage &image) { image.write_bytes(476, {0, 0}); },
               R"~(Disk: sector 0 holds no recorder partition table: nothing else can be checked; recovery mode without information (-r -n -l, -r -n -g) reads the recordings partition from its usual place
disk.img: 1 problem (0 repairable), 0 bytes leaked
)~"));

    // ---- the record list ----
    add(left_alone("list-size", [](DiskImage &image) { set_slot(image, 1, RECORD_LIST_NAME, SLOT_SIZE_LOW, 3 * 304 + 5 + 3); },
               R"~(Record list: _RECORD_LIST_ has 920 bytes, not whole 304-byte entries and the 5-byte end; swap in the backup list with -r -s if it is sound, or read the recordings with recovery mode (-r)
disk.img: 1 problem (0 repairable), 0 bytes leaked
)~", 4,
               {.damaged_files = {"1:_RECORD_LIST_"}}));
    add(left_alone("list-signature", [](DiskImage &image) {
             Bytes list = list_bytes(image);
             list[0] = 0x02;
             rewrite_file(image, 1, RECORD_LIST_NAME, list);
         },
               R"~(Record list: _RECORD_LIST_ lacks the signature 01 00 00 01 01: normal opening refuses the disk; swap in the backup list with -r -s if it is sound, or read the recordings with recovery mode (-r)
disk.img: 1 problem (0 repairable), 0 bytes leaked
)~", 4,
               {.damaged_files = {"1:_RECORD_LIST_"}}));
    add(left_alone("list-trailer", [](DiskImage &image) {
             Bytes list = list_bytes(image);
             list.back() = 0x01;
             rewrite_file(image, 1, RECORD_LIST_NAME, list);
         },
               R"~(Record list: _RECORD_LIST_ does not end in five zero bytes; swap in the backup list with -r -s if it is sound, or read the recordings with recovery mode (-r)
disk.img: 1 problem (0 repairable), 0 bytes leaked
)~", 4,
               {.damaged_files = {"1:_RECORD_LIST_"}}));
    add(mended("list-missing", [](DiskImage &image) { image.remove_file(1, RECORD_LIST_NAME); },
           R"~(EPG: _RECORD_LIST_ is missing, but _RL_BACKUP_ (the list before its last change) holds 3 entries
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(EPG: "_RL_BACKUP_": renamed to _RECORD_LIST_
disk.img: 1 problem repaired, 0 left
)~",
           {.damaged_files = {"1:_RECORD_LIST_", "1:_RL_BACKUP_"}}));
    add(left_alone("backup-damaged", [](DiskImage &image) { rewrite_file(image, 1, "_RL_BACKUP_", Bytes(10, 0)); },
               R"~(Record list: _RL_BACKUP_ has 10 bytes, not whole 304-byte entries and the 5-byte end; do not swap it in with -r -s
disk.img: 1 problem (0 repairable), 0 bytes leaked
)~", 4,
               {.damaged_files = {"1:_RL_BACKUP_"}}));
    add(left_alone("entries-hidden", [](DiskImage &image) { set_entry_number(image, 1, 3, 9); },
               R"~(Record list: entry 2 has the file numbers 3 and 9: it and every entry after it (2 in all) are not listed; -l, -g and -d cannot reach them: recovery mode (-r) finds their streams
disk.img: 1 problem (0 repairable), 0 bytes leaked
)~", 4,
               {.damaged_files = {"1:_RECORD_LIST_"}}));
    add(left_alone("number-twice", [](DiskImage &image) { set_entry_number(image, 2, 3, 3); },
               R"~(Record list: recordings 2 and 3 both use file number 3; deleting either deletes the files of both: copy both off with -g first
Record list: 4.av, 4.elu and 4.epg belong to no entry of the record list; recovery mode gets them (-r -l, -r -g)
disk.img: 1 problem (0 repairable), 1 notice, 0 bytes leaked
)~", 4,
               {.damaged_files = {"1:_RECORD_LIST_"}}));
    add(left_alone("stream-missing", [](DiskImage &image) { image.remove_file(0, "4.av"); },
               R"~(Record list: recording 3 ("Four"): 4.av is missing; remove the entry with -d
disk.img: 1 problem (0 repairable), 0 bytes leaked
)~", 4,
               {.damaged_files = {"0:4.av"}}));
    // Two directory slots wiped (a bad sector): the streams are in chains in no file, kept
    // as candidates while their recordings are listed.
    add(left_alone("lost-entry", [](DiskImage &image) {
             image.set_dir_slot(0, file(image, 0, "3.av").slot, Bytes(128, 0));
             image.set_dir_slot(0, file(image, 0, "4.av").slot, Bytes(128, 0));
         },
               R"~(AV: 4 clusters (16384 bytes) from cluster 4 marked used but in no file, possibly 3.av of recording 2 or 4.av of recording 3; kept on the disk while a listed stream is missing
AV: 2 clusters (8192 bytes) from cluster 11 marked used but in no file, possibly 3.av of recording 2 or 4.av of recording 3; kept on the disk while a listed stream is missing
Record list: recording 2 ("Three"): 3.av is missing; the chains in no file of the AV partition may hold it: they are kept
Record list: recording 3 ("Four"): 4.av is missing; the chains in no file of the AV partition may hold it: they are kept
disk.img: 4 problems (0 repairable), 24576 bytes leaked in 6 clusters
)~", 4, {.damaged_files = {"0:3.av", "0:4.av"}}));
    // Only N.tmp is what an interrupted -E leaves.
    add(left_alone("other-tmp-files", [](DiskImage &image) {
             image.add_file(1, "2.epg.tmp", pattern_bytes(300, 4));
             image.add_file(1, "foo.tmp", pattern_bytes(200, 5));
         },
               "disk.img: no problems, 0 bytes leaked\n", 0));
    // A damaged list with no backup to swap in.
    add(left_alone("list-no-backup", [](DiskImage &image) {
             Bytes list = list_bytes(image);
             list[0] = 0x02;
             rewrite_file(image, 1, RECORD_LIST_NAME, list);
             image.remove_file(1, "_RL_BACKUP_");
         },
               R"~(Record list: _RECORD_LIST_ lacks the signature 01 00 00 01 01: normal opening refuses the disk; read the recordings with recovery mode (-r)
disk.img: 1 problem (0 repairable), 0 bytes leaked
)~", 4, {.damaged_files = {"1:_RECORD_LIST_", "1:_RL_BACKUP_"}}));
    add(left_alone("unlisted-recording", [](DiskImage &image) {
             image.add_file(0, "7.av", pattern_bytes(5000, 7), 0x1002);
             image.add_file(0, "7.elu", pattern_bytes(100, 8));
         },
               R"~(Record list: 7.av and 7.elu belong to no entry of the record list; recovery mode gets them (-r -l, -r -g)
disk.img: no problems, 1 notice, 0 bytes leaked
)~", 0));
    add(mended("stray-companion", [](DiskImage &image) { image.add_file(1, "8.epg", pattern_bytes(400, 8)); },
           R"~(EPG: "8.epg" belongs to no recording: it blocks new recordings numbered 8
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(EPG: "8.epg": removed (its contents are saved below)
EPG: word 0 set to 251 free clusters
EPG: 1 cluster from cluster 5 (of "8.epg") saved as "removed-EPG-8.epg" and freed
disk.img: 1 problem repaired, 0 left
)~",
           {.saved = {"removed-EPG-8.epg"}}));
    add(mended("leftover-tmp", [](DiskImage &image) { image.add_file(1, "3.tmp", pattern_bytes(600, 3)); },
           R"~(EPG: "3.tmp" is left over from an interrupted -E
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(EPG: "3.tmp": removed (its contents are saved below)
EPG: word 0 set to 251 free clusters
EPG: 1 cluster from cluster 5 (of "3.tmp") saved as "removed-EPG-3.tmp" and freed
disk.img: 1 problem repaired, 0 left
)~",
           {.saved = {"removed-EPG-3.tmp"}}));
    add(mended("leftover-tmp-alone", [](DiskImage &image) {
             Bytes epg = image.read_file(1, "3.epg");
             image.remove_file(1, "3.epg");
             image.add_file(1, "3.tmp", epg);
         },
           R"~(EPG: "3.tmp" is left over from an interrupted -E
disk.img: 1 problem (1 repairable), 0 bytes leaked
)~",
           R"~(EPG: "3.tmp": renamed to "3.epg", the converted copy that was to replace it
disk.img: 1 problem repaired, 0 left
)~",
           {.damaged_files = {"1:3.epg"}}));
    add(left_alone("unknown-format", [](DiskImage &image) { image.set_descriptor_u32(1, D_FORMAT, 0xE0000099); },
               R"~(Record list: the disk format 0xE0000099 of the EPG partition is unknown: the record list is not checked; recovery mode (-r) reads the recordings without the record list
disk.img: 1 problem (0 repairable), 0 bytes leaked
)~"));
    add(left_alone("length-undecided", [](DiskImage &image) {
             image.set_descriptor_u32(1, D_FORMAT, 0xE000000F);
             set_slot(image, 1, RECORD_LIST_NAME, SLOT_SIZE_LOW, 3 * 304 + 5 - 1);
         },
               R"~(Record list: the record length cannot be decided from _RECORD_LIST_ (916 bytes); normal opening refuses the disk: recovery mode (-r) reads the recordings without the list
disk.img: 1 problem (0 repairable), 0 bytes leaked
)~", 4,
               {.damaged_files = {"1:_RECORD_LIST_"}}));
    return list;
}

} // namespace

} // namespace testimg
