#include "check/check_apply.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "common/fatal.h"
#include "common/names.h"
#include "disk/disk_file.h"
#include "platform/host_file.h"

namespace {

constexpr uint64_t TRANSFER_BYTES = 1u << 20;

std::string partition_tag(int index)
{
    std::string tag = partition_name(index);
    std::replace(tag.begin(), tag.end(), '/', '-');
    return tag;
}

// "orphan-AV-1234.ts" (the recordings partition holds streams), "orphan-EPG-7.bin", or
// for a removed file "removed-EPG-5.epg".
std::string base_name(const SaveJob &job)
{
    if (!job.from_file.empty()) {
        std::string name = "removed-" + partition_tag(job.partition) + "-" + job.from_file;
        std::vector<char> cleaned(name.begin(), name.end());
        cleaned.push_back('\0');
        sanitize_file_name(cleaned.data());
        return cleaned.data();
    }
    const char *extension = job.partition == PARTITION_AV ? ".ts" : ".bin";
    return "orphan-" + partition_tag(job.partition) + "-" + std::to_string(job.clusters.front()) + extension;
}

std::string numbered_variant(const std::string &name, unsigned k)
{
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return name + "." + std::to_string(k);
    return name.substr(0, dot) + "." + std::to_string(k) + name.substr(dot);
}

// Reads the job's clusters in runs of adjacent clusters, in natural byte order, handing
// each piece to `sink`; false on a read error (errno set).
template <typename Sink>
bool read_job(HumaxDisk *disk, const SaveJob &job, Sink sink)
{
    const PartitionInfo *p = &disk->partitions[job.partition];
    uint64_t length = cluster_bytes(p);
    uint64_t per_transfer = std::max<uint64_t>(1, TRANSFER_BYTES / length);
    std::vector<uint8_t> buffer(per_transfer * length);
    uint64_t left = job.bytes;
    size_t k = 0;
    while (k < job.clusters.size() && left > 0) {
        size_t run = 1;
        while (k + run < job.clusters.size() && run < per_transfer && job.clusters[k + run] == job.clusters[k] + run)
            ++run;
        uint64_t bytes = run * length;
        if (!disk_read_at(&disk->stream, check_cluster_sector(p, job.clusters[k]) * SECTOR_SIZE, buffer.data(), bytes))
            return false;
        swap_words(buffer.data(), bytes / 4);
        uint64_t take = std::min(bytes, left);
        if (!sink(buffer.data(), take))
            return false;
        left -= take;
        k += run;
    }
    return true;
}

// True when the host file `name` is a regular file holding exactly the job's contents.
bool already_saved(HumaxDisk *disk, const SaveJob &job, const std::string &name)
{
    HostStatus status;
    if (!host_status_at(HOST_CWD, name.c_str(), &status) || !status.regular || status.size != job.bytes)
        return false;
    int fd = host_open_read_at(HOST_CWD, name.c_str());
    if (fd < 0)
        return false;
    std::vector<uint8_t> theirs;
    bool same = read_job(disk, job, [&](const uint8_t *data, uint64_t length) {
        theirs.resize(length);
        size_t got = 0;
        return host_read_fully(fd, theirs.data(), length, &got) && got == length &&
               memcmp(theirs.data(), data, length) == 0;
    });
    host_close(fd);
    return same;
}

bool write_job(HumaxDisk *disk, const SaveJob &job, const std::string &name)
{
    HostOutput out;
    if (!host_output_begin(&out, name.c_str())) {
        warn_errno(name.c_str());
        return false;
    }
    bool write_failed = false;
    bool ok = read_job(disk, job, [&](const uint8_t *data, uint64_t length) {
        write_failed = !host_output_write(&out, data, length);
        return !write_failed;
    });
    if (!ok) {
        int error = errno;
        host_output_abandon(&out);
        errno = error;
        warn_errno(write_failed ? name.c_str() : "Disk");
        return false;
    }
    if (!host_output_commit(&out)) {
        warn_errno(name.c_str());
        return false;
    }
    return true;
}

} // namespace

SaveSize check_save_size(const RepairPlan &plan)
{
    SaveSize size;
    for (const SaveJob &job : plan.saves) {
        HostStatus status;
        if (host_status_at(HOST_CWD, base_name(job).c_str(), &status) && status.regular && status.size == job.bytes)
            continue;
        ++size.files;
        size.bytes += job.bytes;
    }
    return size;
}

bool check_save_contents(HumaxDisk *disk, const RepairPlan &plan, std::vector<std::string> *lines)
{
    std::set<std::string> used;
    for (const SaveJob &job : plan.saves) {
        std::string base = base_name(job), name = base;
        bool done = false;
        for (unsigned k = 1; !done; ++k) {
            if (used.insert(name).second) {
                if (!host_exists(name.c_str())) {
                    if (!write_job(disk, job, name))
                        return false;
                    done = true;
                    continue;
                }
                if (already_saved(disk, job, name)) {
                    done = true;
                    continue;
                }
            }
            name = numbered_variant(base, k);
        }
        std::string line = std::string(partition_name(job.partition)) + ": " + std::to_string(job.clusters.size()) +
                           " cluster" + (job.clusters.size() == 1 ? "" : "s") + " from cluster " +
                           std::to_string(job.clusters.front());
        if (!job.from_file.empty())
            line += " (of \"" + check_inert(job.from_file) + "\")";
        lines->push_back(line + " saved as \"" + check_inert(name) + "\"");
    }
    return true;
}

bool check_write_repairs(HumaxDisk *disk, const RepairPlan &plan, Error *error)
{
    for (const CopyJob &copy : plan.copies) {
        const PartitionInfo *p = &disk->partitions[copy.partition];
        uint64_t length = cluster_bytes(p);
        std::vector<uint8_t> cluster(length);
        for (size_t k = 0; k < copy.from.size(); ++k) {
            if (!disk_read_at(&disk->stream, check_cluster_sector(p, copy.from[k]) * SECTOR_SIZE, cluster.data(), length))
                return error_set_errno(error, ErrorKind::Read, errno, "Disk");
            if (!disk_write_at(&disk->stream, check_cluster_sector(p, copy.to[k]) * SECTOR_SIZE, cluster.data(), length))
                return error_set_errno(error, ErrorKind::Write, errno, "Disk");
        }
    }
    for (int i = 0; i < PARTITION_COUNT; ++i)
        if (plan.changed[i] && !disk_write_tables(disk, i, error))
            return false;
    return true;
}
