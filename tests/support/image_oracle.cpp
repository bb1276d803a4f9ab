// The consistency check: reads the image through the tests' own layout code, never
// through the code under test.
#include "support/image_oracle.h"

#include <algorithm>
#include <stdexcept>

#include <fcntl.h>

#include "support/image_layout.h"

namespace testimg {

using namespace layout;

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

} // namespace testimg
