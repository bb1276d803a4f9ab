// The layout of the disk and of each partition: the partition table, every descriptor
// against its partition and the disk's size, the regions of each partition apart and
// inside it; then the walk of each partition that could be loaded (check_partition.cpp).
#include <cstring>

#include "check/check_scan.h"

namespace {

Finding finding(Problem problem, int scope)
{
    Finding f;
    f.problem = problem;
    f.scope = scope;
    return f;
}

// A region of sectors [first, first + count).
struct Region {
    const char *name;
    uint64_t first;
    uint64_t count;
    uint64_t end() const { return first + count; }
};

std::string region_text(const Region &r)
{
    return std::string(r.name) + " (sectors " + std::to_string(r.first) + " to " +
           std::to_string(r.end() - 1) + ")";
}

// The regions of a partition must lie inside it and apart from each other.
void check_regions(const PartitionInfo *p, int i, std::vector<Finding> *out)
{
    const Region partition = {"partition", p->start_sector, p->sector_count};
    const Region regions[] = {
        {"descriptor", p->start_sector, 1},
        {"allocation table", p->fat_sector, p->fat_sectors},
        {"directory", p->dir_sector, p->dir_sectors},
        {"data area", p->data_sector, p->data_sectors},
    };
    // The data area's end is the size check's business.
    for (const Region &r : regions) {
        bool data = strcmp(r.name, "data area") == 0;
        bool outside = r.first < partition.first || (!data && r.end() > partition.end());
        if (r.count == 0 || !outside)
            continue;
        Finding f = finding(Problem::RegionOutside, i);
        f.text = r.name;
        f.n[0] = r.first;
        f.n[1] = r.end() - 1;
        f.n[2] = partition.first;
        f.n[3] = partition.end() - 1;
        out->push_back(f);
    }
    for (size_t a = 0; a < 4; ++a) {
        for (size_t b = a + 1; b < 4; ++b) {
            const Region &x = regions[a], &y = regions[b];
            if (x.count == 0 || y.count == 0 || x.end() <= y.first || y.end() <= x.first)
                continue;
            Finding f = finding(Problem::RegionsOverlap, i);
            f.text = region_text(x) + " and " + region_text(y);
            out->push_back(f);
        }
    }
}

// Partitions must not share sectors.
void check_partitions_apart(const HumaxDisk *disk, std::vector<Finding> *out)
{
    for (int a = 0; a < disk->partition_count; ++a) {
        for (int b = a + 1; b < disk->partition_count; ++b) {
            const PartitionInfo &x = disk->partitions[a], &y = disk->partitions[b];
            uint64_t x_end = uint64_t{x.start_sector} + x.sector_count;
            uint64_t y_end = uint64_t{y.start_sector} + y.sector_count;
            if (x.sector_count == 0 || y.sector_count == 0 || x_end <= y.start_sector ||
                y_end <= x.start_sector)
                continue;
            Finding f = finding(Problem::RegionsOverlap, a);
            f.text = region_text({"sectors", x.start_sector, x.sector_count}) + " and the " +
                     partition_name(b) + " partition's " +
                     region_text({"sectors", y.start_sector, y.sector_count});
            out->push_back(f);
        }
    }
}

// The layout problems of partition i. Returns false when its tables cannot be walked.
bool check_layout(const HumaxDisk *disk, int i, std::vector<Finding> *out)
{
    const PartitionInfo *p = &disk->partitions[i];
    const PartitionRead &found = disk->volume.partitions[i];
    if (found.descriptor_errno != 0) {
        Finding f = finding(Problem::DescriptorUnreadable, i);
        f.n[0] = p->start_sector;
        f.text = strerror(found.descriptor_errno);
        out->push_back(f);
        return false;
    }
    if (found.descriptor_past_end) {
        Finding f = finding(Problem::DescriptorPastEnd, i);
        f.n[0] = p->start_sector;
        out->push_back(f);
        return false;
    }
    if (found.unsupported) {
        Finding f = finding(Problem::DescriptorUnusable, i);
        f.n[0] = p->dir_sectors;
        f.n[1] = p->cluster_sectors;
        out->push_back(f);
        return false;
    }
    if (found.size_mismatch) {
        Finding f = finding(Problem::SizeMismatch, i);
        f.n[0] = uint64_t{p->data_sector} + p->data_sectors;
        f.n[1] = uint64_t{p->start_sector} + p->sector_count;
        out->push_back(f);
    }
    check_regions(p, i, out);
    if (uint64_t{found.declared_clusters} * p->cluster_sectors > p->data_sectors) {
        Finding f = finding(Problem::ClustersPastData, i);
        f.n[0] = found.declared_clusters;
        f.n[1] = p->cluster_sectors;
        f.n[2] = p->data_sectors;
        out->push_back(f);
    }
    if (found.table_too_large) {
        Finding f = finding(Problem::FatTooLarge, i);
        f.n[0] = p->fat_sectors;
        out->push_back(f);
    } else if (found.fat_errno != 0) {
        Finding f = finding(Problem::FatUnreadable, i);
        f.text = strerror(found.fat_errno);
        out->push_back(f);
    } else if (found.table_clamped) {
        Finding f = finding(Problem::FatClamped, i);
        f.n[0] = p->cluster_count;
        f.n[1] = found.declared_clusters;
        out->push_back(f);
    }
    if (found.dir_errno != 0) {
        Finding f = finding(Problem::DirectoryUnreadable, i);
        f.text = strerror(found.dir_errno);
        out->push_back(f);
    }
    return found.loaded;
}

} // namespace

void check_volume(HumaxDisk *disk, CheckResult *result)
{
    std::vector<Finding> &out = result->findings;
    const VolumeRead &volume = disk->volume;
    if (volume.table_errno != 0) {
        Finding f = finding(Problem::TableUnreadable, SCOPE_DISK);
        f.text = strerror(volume.table_errno);
        out.push_back(f);
        result->disk_in_doubt = true;
        result->read_errors = true;
        return;
    }
    if (volume.table_unknown) {
        out.push_back(finding(Problem::TableUnknown, SCOPE_DISK));
        result->disk_in_doubt = true;
        return;
    }
    if (volume.missing_sectors > 0) {
        Finding f = finding(Problem::DiskTruncated, SCOPE_DISK);
        f.n[0] = volume.missing_sectors;
        out.push_back(f);
        result->disk_in_doubt = true;
    }
    check_partitions_apart(disk, &out);
    for (int i = 0; i < disk->partition_count; ++i) {
        PartitionScan *scan = &result->partitions[i];
        scan->index = i;
        size_t before = out.size();
        bool loaded = check_layout(disk, i, &out);
        for (size_t k = before; k < out.size(); ++k) {
            const ProblemInfo &info = check_problem_info(out[k].problem);
            scan->layout_in_doubt |= info.blocks_repair;
            result->read_errors |= info.operational;
        }
        if (!loaded)
            continue;
        check_scan_partition(disk, i, scan, &out);
    }
    // Partitions that overlap each other were reported with the first of the two.
    for (const Finding &f : out)
        if (f.problem == Problem::RegionsOverlap && f.scope >= 0 && f.scope < PARTITION_COUNT)
            result->partitions[f.scope].layout_in_doubt = true;
}
