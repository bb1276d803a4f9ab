#include "disk/disk_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/fatal.h"
#include "common/shown_text.h"
#include "disk/fat.h"

namespace {

uint64_t cluster_position(const DiskFile *file, uint32_t cluster)
{
    const PartitionInfo *p = file->partition;
    return (uint64_t{p->data_sector} + uint64_t{cluster} * p->cluster_sectors) * SECTOR_SIZE;
}

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
    // Two clusters, and room for the rest of a last 4-byte group past them.
    file->buffer = static_cast<uint8_t *>(calloc(uint64_t{file->length} * 2 + 4, 1));
    if (file->buffer == nullptr)
        fatal_errno("malloc");
    file->cursor = file->buffer;
    dirent_copy_name(entry, file->name);
    if (disk->read_errors == ReadErrors::Note)
        file->read_error = &disk->read_errno;
    return file;
}

// Moves to the cluster after the current one; sets at_end when none follows.
void follow_chain(DiskFile *file, bool reading)
{
    const PartitionInfo *p = file->partition;
    uint32_t next = fat_get(p, file->cluster);
    if (next == FAT_END) {
        file->at_end = true;
    } else if (next >= p->cluster_count || file->steps_left == 0) {
        if (reading)
            warn("Missing end of file marker\n");
        file->at_end = true;
    } else {
        file->cluster = next;
        --file->steps_left;
        file->at_end = false;
    }
}

// Takes the current cluster and as many contiguous successors as `wanted` allows.
// Returns the first cluster of the run and stores its length in *count.
uint32_t take_run(DiskFile *file, uint64_t wanted, uint64_t *count, bool reading)
{
    uint32_t first = file->cluster;
    *count = 1;
    follow_chain(file, reading);
    while (*count < wanted && !file->at_end && file->cluster == first + *count) {
        ++*count;
        follow_chain(file, reading);
    }
    return first;
}

void read_run(DiskFile *file, uint32_t first, uint64_t count, uint8_t *destination)
{
    uint64_t bytes = count * file->length;
    if (!disk_read_at(file->stream, cluster_position(file, first), destination, bytes)) {
        if (file->read_error == nullptr)
            fatal_errno(text_shown(file->name).c_str());
        // Noted for the caller; nothing further is read from this file.
        if (*file->read_error == 0)
            *file->read_error = errno;
        memset(destination, 0, bytes);
        file->at_end = true;
        return;
    }
    if (file->swap)
        swap_words(destination, bytes / 4);
}

// Writes `count` whole clusters of already-ordered data, in runs of contiguous clusters.
void write_clusters(DiskFile *file, const uint8_t *data, uint64_t count)
{
    while (count > 0) {
        uint64_t run;
        uint32_t first = take_run(file, count, &run, false);
        if (!disk_write_at(file->stream, cluster_position(file, first), data, run * file->length))
            fatal_errno(text_shown(file->name).c_str());
        data += run * file->length;
        count -= run;
    }
}

void flush_buffer_cluster(DiskFile *file)
{
    if (file->swap)
        swap_words(file->buffer, file->length / 4);
    write_clusters(file, file->buffer, 1);
    file->buffered = 0;
    file->cursor = file->buffer;
}

// Copies bytes into the buffer, writing it out each time it holds a whole cluster.
void write_buffered(DiskFile *file, const uint8_t *data, uint64_t length)
{
    while (length > 0) {
        uint64_t take = file->length - file->buffered;
        if (take > length)
            take = length;
        memcpy(file->buffer + file->buffered, data, take);
        file->buffered += static_cast<uint32_t>(take);
        data += take;
        length -= take;
        if (file->buffered == file->length)
            flush_buffer_cluster(file);
    }
    file->cursor = file->buffer + file->buffered;
}

size_t write_impl(DiskFile *file, uint8_t *data, size_t length, bool may_change_data)
{
    if (length == 0 || file->remaining == 0)
        return 0;
    uint64_t n = length < file->remaining ? length : file->remaining;
    bool completes = n == file->remaining;
    const uint8_t *p = data;
    uint64_t left = n;
    if (file->buffered > 0) {
        uint64_t take = file->length - file->buffered;
        take = take < left ? take : left;
        write_buffered(file, p, take);
        p += take;
        left -= take;
    }
    uint64_t whole = left / file->length;
    if (whole > 0 && (may_change_data || !file->swap)) {
        uint64_t bytes = whole * file->length;
        uint8_t *direct = data + (p - data);
        if (file->swap)
            swap_words(direct, bytes / 4);
        write_clusters(file, direct, whole);
        p += bytes;
        left -= bytes;
    }
    write_buffered(file, p, left);
    if (completes && file->buffered > 0) {
        // The bytes past the size in the last 4-byte group belong to the stored word:
        // keep them when the caller supplied them.
        uint64_t pad = (4 - file->buffered % 4) % 4;
        uint64_t extra = length - n < pad ? length - n : pad;
        memcpy(file->buffer + file->buffered, data + n, extra);
        memset(file->buffer + file->buffered + extra, 0, file->length - file->buffered - extra);
        flush_buffer_cluster(file);
    }
    bool fits = file->remaining >= length;
    file->remaining -= n;
    return fits ? length : 0;
}

} // namespace

DiskFile *dfile_open(HumaxDisk *disk, int index, const char *name, Swap swap)
{
    DirEntry *entry = dir_find(&disk->partitions[index], name);
    if (entry == nullptr)
        return nullptr;
    DiskFile *file = new_handle(disk, index, entry, swap);
    uint64_t chain = fat_chain_sectors(file);
    if (dirent_get(entry, DIRENT_ALLOCATED_SECTORS) > chain)
        dirent_set(entry, DIRENT_ALLOCATED_SECTORS, static_cast<uint32_t>(chain));
    uint64_t allocated = uint64_t{dirent_get(entry, DIRENT_ALLOCATED_SECTORS)} * SECTOR_SIZE;
    if (dirent_size(entry) > allocated) {
        warn("Warning file allocation error - truncating to %llu bytes\n",
             static_cast<unsigned long long>(allocated));
        dirent_set_size(entry, allocated);
    }
    dfile_rewind(file);
    return file;
}

void dfile_rewind(DiskFile *file)
{
    const PartitionInfo *p = file->partition;
    file->remaining = dirent_size(file->entry);
    file->buffered = 0;
    file->cursor = file->buffer;
    file->steps_left = p->cluster_count;
    uint32_t first;
    bool has_clusters = fat_cluster_of_sector(p, dirent_get(file->entry, DIRENT_FIRST_SECTOR), &first);
    file->cluster = has_clusters ? first : 0;
    if (!has_clusters)
        file->remaining = 0;
    file->at_end = file->remaining == 0;
}

uint32_t dfile_read(const uint8_t **data, uint32_t length, DiskFile *file)
{
    if (length > file->length)
        length = file->length;
    if (file->remaining == 0) {
        file->at_end = true;
        file->buffered = 0;
        return 0;
    }
    uint32_t deliver;
    if (file->buffered >= length) {
        *data = file->cursor;
        deliver = length;
        file->buffered -= length;
        file->cursor += length;
    } else {
        memmove(file->buffer, file->cursor, file->buffered);
        uint32_t available = file->buffered;
        if (!file->at_end) {
            uint64_t count;
            uint32_t first = take_run(file, 1, &count, true);
            read_run(file, first, 1, file->buffer + available);
            available += file->length;
        }
        *data = file->buffer;
        deliver = available < length ? available : length;
        file->buffered = available - deliver;
        file->cursor = file->buffer + deliver;
    }
    uint64_t n = deliver < file->remaining ? deliver : file->remaining;
    file->remaining -= n;
    if (file->remaining == 0 || n == 0) {
        file->remaining = 0;
        file->at_end = true;
        file->buffered = 0;
    }
    return static_cast<uint32_t>(n);
}

size_t dfile_read_into(DiskFile *file, uint8_t *destination, size_t capacity)
{
    if (file->remaining == 0 || capacity == 0)
        return 0;
    if (file->buffered > 0 || capacity < file->length) {
        const uint8_t *data;
        uint32_t want = capacity < file->length ? static_cast<uint32_t>(capacity) : file->length;
        uint32_t n = dfile_read(&data, want, file);
        size_t stored = (n + 3u) & ~size_t{3};
        memcpy(destination, data, stored < capacity ? stored : capacity);
        return n;
    }
    if (file->at_end) {
        file->remaining = 0;
        return 0;
    }
    uint64_t needed = (file->remaining + file->length - 1) / file->length;
    uint64_t fit = capacity / file->length;
    uint64_t count;
    uint32_t first = take_run(file, needed < fit ? needed : fit, &count, true);
    read_run(file, first, count, destination);
    uint64_t bytes = count * file->length;
    uint64_t n = bytes < file->remaining ? bytes : file->remaining;
    file->remaining -= n;
    if (file->remaining == 0)
        file->at_end = true;
    return n;
}

DiskFile *dfile_create(HumaxDisk *disk, int index, const char *name, uint64_t size,
                       uint32_t attributes, Swap swap)
{
    PartitionInfo *p = &disk->partitions[index];
    // A second entry of the same name would hide one of the two files.
    if (dir_find(p, name) != nullptr)
        fatal("create: %s already exists\n", text_shown(name).c_str());
    ClusterChain chain = fat_allocate(p, size);
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

size_t dfile_write(const uint8_t *data, size_t length, DiskFile *file)
{
    // The data is changed in place only when swapping whole clusters, which this
    // variant never does.
    return write_impl(file, const_cast<uint8_t *>(data), length, false);
}

size_t dfile_write_mutable(uint8_t *data, size_t length, DiskFile *file)
{
    return write_impl(file, data, length, true);
}

void dfile_close(DiskFile *file)
{
    if (file == nullptr)
        return;
    free(file->buffer);
    delete file;
}

bool dfile_eof(const DiskFile *file)
{
    return file->remaining == 0 || (file->at_end && file->buffered == 0);
}

int dfile_size(const DiskFile *file, uint64_t *size)
{
    if (file == nullptr) {
        fprintf(stderr, "Error - file not opened\n");
        return 1;
    }
    *size = dirent_size(file->entry);
    return 0;
}

void dfile_delete(HumaxDisk *disk, int index, const char *name)
{
    DiskFile *file = dfile_open(disk, index, name, Swap::Yes);
    if (file == nullptr)
        return;
    PartitionInfo *p = file->partition;
    uint32_t cluster;
    if (fat_cluster_of_sector(p, dirent_get(file->entry, DIRENT_FIRST_SECTOR), &cluster)) {
        // Free no more than the entry claims: a chain crossing into another file's
        // clusters must not take them with it.
        uint32_t budget = dirent_get(file->entry, DIRENT_ALLOCATED_SECTORS);
        for (uint32_t steps = 0; steps < p->cluster_count; ++steps) {
            uint32_t next = fat_get(p, cluster);
            if (next == FAT_FREE)
                break;
            fat_set(p, cluster, FAT_FREE);
            fat_set_word0(p, fat_word0(p) + 1);
            if (next == FAT_END || next >= p->cluster_count || budget <= p->cluster_sectors)
                break;
            budget -= p->cluster_sectors;
            cluster = next;
        }
    }
    dir_remove_entry(p, file->entry);
    dfile_close(file);
}

int dfile_rename(HumaxDisk *disk, int index, const char *old_name, const char *new_name)
{
    PartitionInfo *p = &disk->partitions[index];
    if (dir_find(p, new_name) != nullptr) {
        fprintf(stderr, "Newname %s already exists\n", text_shown(new_name).c_str());
        return 1;
    }
    DirEntry *entry = dir_find(p, old_name);
    if (entry == nullptr) {
        fprintf(stderr, "Oldname %s does not exist\n", text_shown(old_name).c_str());
        return 1;
    }
    dirent_set_name(entry, new_name);
    return 0;
}

bool dfile_exists(HumaxDisk *disk, int index, const char *name)
{
    return dir_find(&disk->partitions[index], name) != nullptr;
}

namespace {

void sync_or_die(HumaxDisk *disk)
{
    if (!disk_sync(&disk->stream))
        fatal_errno("Disk");
}

} // namespace

void disk_write_tables(HumaxDisk *disk, int index)
{
    // Each step reaches the disk before the next begins: the contents before the table
    // entries that claim them, those before the directory that names them, and the
    // directory before the freeing of the clusters it no longer names.
    PartitionInfo *p = &disk->partitions[index];
    // A directory that cannot be written is refused before the allocations reach the
    // disk: a refused commit leaves every table as it was.
    dir_require_room(p);
    sync_or_die(disk);
    if (fat_write_allocations(disk, p))
        sync_or_die(disk);
    dir_write(disk, p);
    sync_or_die(disk);
    if (fat_write(disk, p))
        sync_or_die(disk);
}
