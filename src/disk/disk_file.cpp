#include "disk/disk_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/error.h"
#include "common/fatal.h"
#include "common/shown_text.h"
#include "disk/fat.h"
#include "disk/file_map.h"

namespace {

DiskFile *new_handle(HumaxDisk *disk, int index, DirEntry *entry, Swap swap)
{
    DiskFile *file = new (std::nothrow) DiskFile{};
    if (file == nullptr)
        fatal_errno("malloc");
    file->stream = &disk->stream;
    file->partition = &disk->partitions[index];
    file->entry = entry;
    file->swap = swap == Swap::Yes;
    file->length = static_cast<uint32_t>(cluster_bytes(file->partition));
    // One cluster, and room for the rest of a last 4-byte group past it.
    file->buffer = static_cast<uint8_t *>(calloc(uint64_t{file->length} + 4, 1));
    if (file->buffer == nullptr)
        fatal_errno("malloc");
    dirent_copy_name(entry, file->name);
    return file;
}

// Moves to the cluster after the current one; sets at_end when none follows.
void follow_chain(DiskFile *file)
{
    uint32_t next;
    if (file->steps_left == 0 || !fat_next(file->partition, file->cluster, &next)) {
        file->at_end = true;
        return;
    }
    file->cluster = next;
    --file->steps_left;
    file->at_end = false;
}

// Takes the current cluster and as many contiguous successors as `wanted` allows.
// Returns the first cluster of the run and stores its length in *count.
uint32_t take_run(DiskFile *file, uint64_t wanted, uint64_t *count)
{
    uint32_t first = file->cluster;
    *count = 1;
    follow_chain(file);
    while (*count < wanted && !file->at_end && file->cluster == first + *count) {
        ++*count;
        follow_chain(file);
    }
    return first;
}

// Writes `count` whole clusters of already-ordered data, in runs of contiguous clusters.
bool write_clusters(DiskFile *file, const uint8_t *data, uint64_t count, Error *error)
{
    while (count > 0) {
        uint64_t run;
        uint32_t first = take_run(file, count, &run);
        if (!disk_write_at(file->stream, fat_cluster_position(file->partition, first), data,
                           run * file->length))
            return error_set_errno(error, ErrorKind::Write, errno, text_shown(file->name).c_str());
        data += run * file->length;
        count -= run;
    }
    return true;
}

bool flush_buffer_cluster(DiskFile *file, Error *error)
{
    if (file->swap)
        swap_words(file->buffer, file->length / 4);
    file->buffered = 0;
    return write_clusters(file, file->buffer, 1, error);
}

// Copies bytes into the buffer, writing it out each time it holds a whole cluster.
bool write_buffered(DiskFile *file, const uint8_t *data, uint64_t length, Error *error)
{
    while (length > 0) {
        uint64_t take = file->length - file->buffered;
        if (take > length)
            take = length;
        memcpy(file->buffer + file->buffered, data, take);
        file->buffered += static_cast<uint32_t>(take);
        data += take;
        length -= take;
        if (file->buffered == file->length && !flush_buffer_cluster(file, error))
            return false;
    }
    return true;
}

bool write_impl(DiskFile *file, uint8_t *data, size_t length, bool may_change_data, Error *error)
{
    if (length == 0 || file->remaining == 0)
        return true;
    uint64_t n = length < file->remaining ? length : file->remaining;
    bool completes = n == file->remaining;
    const uint8_t *p = data;
    uint64_t left = n;
    if (file->buffered > 0) {
        uint64_t take = file->length - file->buffered;
        take = take < left ? take : left;
        if (!write_buffered(file, p, take, error))
            return false;
        p += take;
        left -= take;
    }
    uint64_t whole = left / file->length;
    if (whole > 0 && (may_change_data || !file->swap)) {
        uint64_t bytes = whole * file->length;
        uint8_t *direct = data + (p - data);
        if (file->swap)
            swap_words(direct, bytes / 4);
        if (!write_clusters(file, direct, whole, error))
            return false;
        p += bytes;
        left -= bytes;
    }
    if (!write_buffered(file, p, left, error))
        return false;
    if (completes && file->buffered > 0) {
        // The bytes past the size in the last 4-byte group belong to the stored word:
        // keep them when the caller supplied them.
        uint64_t pad = (4 - file->buffered % 4) % 4;
        uint64_t extra = length - n < pad ? length - n : pad;
        memcpy(file->buffer + file->buffered, data + n, extra);
        memset(file->buffer + file->buffered + extra, 0, file->length - file->buffered - extra);
        if (!flush_buffer_cluster(file, error))
            return false;
    }
    file->remaining -= n;
    return true;
}

} // namespace

DiskFile *dfile_create(HumaxDisk *disk, int index, const char *name, uint64_t size,
                       uint32_t attributes, Swap swap, Error *error)
{
    PartitionInfo *p = &disk->partitions[index];
    // A second entry of the same name would hide one of the two files.
    if (dir_find(p, name) != nullptr) {
        error_set(error, ErrorKind::Exists, "create: %s already exists\n", text_shown(name).c_str());
        return nullptr;
    }
    ClusterChain chain;
    if (!fat_allocate(p, size, &chain, error))
        return nullptr;
    DirEntry *entry = dir_new_entry(p);
    dirent_set(entry, DIRENT_FIRST_SECTOR, chain.first * p->cluster_sectors + p->data_sector);
    dirent_set(entry, DIRENT_LAST_SECTOR, chain.last * p->cluster_sectors + p->data_sector);
    dirent_set(entry, DIRENT_ALLOCATED_SECTORS, chain.count * p->cluster_sectors);
    dirent_set_size(entry, size);
    dirent_set(entry, DIRENT_ATTRIBUTES, attributes);
    dirent_set_name(entry, name);
    DiskFile *file = new_handle(disk, index, entry, swap);
    file->cluster = chain.first;
    file->remaining = size;
    file->steps_left = chain.count;
    return file;
}

bool dfile_write(const uint8_t *data, size_t length, DiskFile *file, Error *error)
{
    // The data is changed in place only when swapping whole clusters, which this
    // variant never does.
    return write_impl(file, const_cast<uint8_t *>(data), length, false, error);
}

bool dfile_write_mutable(uint8_t *data, size_t length, DiskFile *file, Error *error)
{
    return write_impl(file, data, length, true, error);
}

void dfile_close(DiskFile *file)
{
    if (file == nullptr)
        return;
    free(file->buffer);
    delete file;
}

void dfile_delete(HumaxDisk *disk, int index, const char *name)
{
    PartitionInfo *p = &disk->partitions[index];
    DirEntry *entry = dir_find(p, name);
    if (entry == nullptr)
        return;
    dfile_report_size(p, entry);
    uint32_t cluster;
    if (fat_cluster_of_sector(p, dirent_get(entry, DIRENT_FIRST_SECTOR), &cluster)) {
        // Free no more than the entry claims (as far as its chain goes): a chain crossing
        // into another file's clusters must not take them with it.
        uint64_t chain = fat_chain_sectors_from(p, dirent_get(entry, DIRENT_FIRST_SECTOR));
        uint32_t budget = static_cast<uint32_t>(
            std::min<uint64_t>(dirent_get(entry, DIRENT_ALLOCATED_SECTORS), chain));
        for (uint32_t steps = 0; steps < p->cluster_count; ++steps) {
            if (fat_get(p, cluster) == FAT_FREE)
                break;
            uint32_t next;
            bool more = fat_next(p, cluster, &next);
            fat_set(p, cluster, FAT_FREE);
            fat_set_word0(p, fat_word0(p) + 1);
            if (!more || budget <= p->cluster_sectors)
                break;
            budget -= p->cluster_sectors;
            cluster = next;
        }
    }
    dir_remove_entry(p, entry);
}

int dfile_rename(HumaxDisk *disk, int index, const char *old_name, const char *new_name)
{
    PartitionInfo *p = &disk->partitions[index];
    if (dir_find(p, new_name) != nullptr) {
        warn("Newname %s already exists\n", text_shown(new_name).c_str());
        return 1;
    }
    DirEntry *entry = dir_find(p, old_name);
    if (entry == nullptr) {
        warn("Oldname %s does not exist\n", text_shown(old_name).c_str());
        return 1;
    }
    dirent_set_name(entry, new_name);
    return 0;
}

bool dfile_exists(HumaxDisk *disk, int index, const char *name)
{
    return dir_find(&disk->partitions[index], name) != nullptr;
}
