#include "wardenfs/wfs.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <new>
#include <unistd.h>
#include <vector>

#include "common/error.h"
#include "common/shown_text.h"
#include "disk/fat.h"
#include "disk/file_map.h"
#include "disk/file_rescue.h"
#include "wardenfs/mount_text.h"

namespace {

// What a fatal error throws while the mount is serving.
struct ServingFatal {
    int status = 1;
};

[[noreturn]] void throw_fatal(int status)
{
    throw ServingFatal{status};
}

struct OpenFile {
    uint32_t node = 0;
    FileMap map; // Stored files
};

// Runs `body`; a fatal error, exhausted memory or any other failure below it becomes an
// error of this call.
template <typename Body> int guarded(Wfs *wfs, Body body)
{
    try {
        return body();
    } catch (const ServingFatal &) {
        ++wfs->fatal_errors;
        return -EIO;
    } catch (const std::bad_alloc &) {
        warn("out of memory\n");
        return -ENOMEM;
    } catch (const std::exception &failure) {
        warn("%s\n", failure.what());
        return -EIO;
    }
}

} // namespace

bool wfs_render(Wfs *wfs, MountNode *node)
{
    if (node->rendered)
        return true;
    std::string text;
    Error error;
    bool done = node->epg_name.empty() ? mount_recording_text(wfs->disk, node->recording, &text, &error)
                                       : mount_recovery_text(wfs->disk, node->recovered, node->epg_name.c_str(), &text, &error);
    if (!done && error_is_set(error)) {
        warn("%s: %s\n", text_shown(node->path.c_str()).c_str(), strerror(error.code));
        return false;
    }
    node->bytes = std::move(text);
    node->size = node->bytes.size();
    node->rendered = true;
    return true;
}

namespace {

// A .txt left unrendered when the mount began (its .epg could not be read) is tried
// again, under the lock: another thread may be rendering it.
bool render(Wfs *wfs, MountNode *node)
{
    std::lock_guard<std::mutex> hold(wfs->text_lock);
    return wfs_render(wfs, node);
}

void fill_status(const Wfs *wfs, const MountTree &tree, const MountNode *node, struct stat *status)
{
    memset(status, 0, sizeof *status);
    status->st_ino = static_cast<ino_t>(node->inode);
    status->st_uid = wfs->uid;
    status->st_gid = wfs->gid;
    status->st_mtime = status->st_ctime = status->st_atime = static_cast<time_t>(node->mtime);
    if (node->kind == NodeKind::Directory) {
        status->st_mode = S_IFDIR | (0755 & ~wfs->umask);
        nlink_t subdirectories = 0;
        for (uint32_t child : node->children)
            subdirectories += tree.nodes[child].kind == NodeKind::Directory ? 1 : 0;
        status->st_nlink = 2 + subdirectories;
        return;
    }
    status->st_mode = S_IFREG | (0444 & ~wfs->umask);
    status->st_nlink = node->links;
    status->st_size = static_cast<off_t>(node->size);
    status->st_blocks = static_cast<blkcnt_t>((node->size + 511) / 512);
    status->st_blksize = 128 * 1024;
}

bool asks_to_write(int flags)
{
    return (flags & O_ACCMODE) != O_RDONLY || (flags & O_TRUNC) != 0;
}

} // namespace

int wfs_getattr(Wfs *wfs, const char *path, struct stat *status)
{
    return guarded(wfs, [&] {
        MountNode *node = mount_find(&wfs->tree, path);
        if (node == nullptr)
            return -ENOENT;
        if (node->kind == NodeKind::Info && !render(wfs, node))
            return -EIO;
        fill_status(wfs, wfs->tree, node, status);
        return 0;
    });
}

int wfs_readdir(Wfs *wfs, const char *path, WfsFill fill, void *context)
{
    return guarded(wfs, [&] {
        const MountNode *node = mount_find(&wfs->tree, path);
        if (node == nullptr)
            return -ENOENT;
        if (node->kind != NodeKind::Directory)
            return -ENOTDIR;
        if (!fill(context, ".") || !fill(context, ".."))
            return 0;
        for (uint32_t child : node->children) {
            if (!fill(context, mount_node_name(&wfs->tree.nodes[child]).c_str()))
                break;
        }
        return 0;
    });
}

int wfs_open(Wfs *wfs, const char *path, int flags, uint64_t *handle)
{
    return guarded(wfs, [&] {
        MountNode *node = mount_find(&wfs->tree, path);
        if (node == nullptr)
            return -ENOENT;
        if (asks_to_write(flags))
            return wfs_refuse_write();
        if (node->kind == NodeKind::Directory)
            return -EISDIR;
        if (node->kind == NodeKind::Info && !render(wfs, node))
            return -EIO;
        auto *file = new OpenFile;
        file->node = static_cast<uint32_t>(node - wfs->tree.nodes.data());
        if (node->kind == NodeKind::Stored)
            dfile_map(wfs->disk, node->partition, node->entry, FileMapOptions{}, &file->map);
        *handle = reinterpret_cast<uint64_t>(file);
        return 0;
    });
}

namespace {

struct ReadWindow {
    char *buffer;
    uint64_t at;
    size_t length;
};

bool into_window(void *context, uint64_t offset, const void *data, size_t length)
{
    auto *window = static_cast<ReadWindow *>(context);
    if (offset < window->at || offset >= window->at + window->length)
        return true;
    size_t n = static_cast<size_t>(std::min<uint64_t>(length, window->at + window->length - offset));
    memcpy(window->buffer + (offset - window->at), data, n);
    return true;
}

// The known unreadable areas of `node` that overlap [from, to), clipped to it, in order.
std::vector<ByteArea> known_holes(Wfs *wfs, uint32_t node, uint64_t from, uint64_t to)
{
    std::vector<ByteArea> found;
    std::lock_guard<std::mutex> hold(wfs->zeros_lock);
    auto &known = wfs->zeros_known;
    if (known.empty())
        return found;
    // Areas never overlap: the one before the first that begins after `from` may reach in.
    auto it = known.upper_bound({node, from});
    if (it != known.begin() && std::prev(it)->first.first == node)
        --it;
    for (; it != known.end() && it->first.first == node && it->first.second < to; ++it)
        if (it->second > from)
            found.push_back({std::max(from, it->first.second), std::min(to, it->second)});
    return found;
}

// Remembers the areas just found unreadable and says each once.
void remember_holes(Wfs *wfs, uint32_t node, const MountNode *shown, const std::vector<ByteArea> &holes)
{
    std::lock_guard<std::mutex> hold(wfs->zeros_lock);
    for (const ByteArea &hole : holes) {
        if (wfs->zeros_known.size() >= WFS_ZEROS_REMEMBERED) {
            if (!wfs->zeros_full)
                warn("More than %zu unreadable areas: the next ones are read again each time, and not named\n",
                     WFS_ZEROS_REMEMBERED);
            wfs->zeros_full = true;
            return;
        }
        if (wfs->zeros_known.emplace(std::make_pair(node, hole.begin), hole.end).second)
            warn("%s: bytes %llu to %llu cannot be read, read as zeros\n", text_shown(shown->path.c_str()).c_str(),
                 static_cast<unsigned long long>(hole.begin), static_cast<unsigned long long>(hole.end - 1));
    }
}

// -o zeros: reads [at, at + size) but for the areas known to be unreadable and, when
// `done` is below the length, those the plain read failed in after `done` bytes: the
// rest is rescued as a copy is (sector by sector after a failure), and the sectors
// that stay unreadable give zeros and are remembered.
int read_with_zeros(Wfs *wfs, OpenFile *file, const MountNode *node, uint64_t at, char *buffer, size_t size,
                    size_t done, const std::vector<ByteArea> &known)
{
    FileMap *map = &file->map;
    size_t length = static_cast<size_t>(std::min<uint64_t>(size, map->size - at));
    memset(buffer + done, 0, length - done);
    std::vector<ByteArea> areas;
    uint64_t from = at + done;
    for (const ByteArea &hole : known) {
        if (hole.begin > from)
            areas.push_back({from, hole.begin});
        from = std::max(from, hole.end);
    }
    if (from < at + length)
        areas.push_back({from, at + length});
    ReadWindow window{buffer, at, length};
    size_t capacity = (length / map->cluster_length + 1) * map->cluster_length;
    std::vector<uint8_t> scratch(capacity);
    std::vector<ByteArea> holes;
    dfile_rescue(map, areas, scratch.data(), capacity, {&window, into_window}, RescueOptions{}, &holes);
    remember_holes(wfs, file->node, node, holes);
    return static_cast<int>(length);
}

} // namespace

int wfs_read(Wfs *wfs, uint64_t handle, char *buffer, size_t size, off_t offset)
{
    return guarded(wfs, [&] {
        auto *file = reinterpret_cast<OpenFile *>(handle);
        const MountNode *node = &wfs->tree.nodes[file->node];
        if (offset < 0)
            return -EINVAL;
        auto at = static_cast<uint64_t>(offset);
        if (node->kind != NodeKind::Stored) {
            if (at >= node->bytes.size())
                return 0;
            size_t n = std::min<uint64_t>(size, node->bytes.size() - at);
            memcpy(buffer, node->bytes.data() + at, n);
            return static_cast<int>(n);
        }
        std::vector<ByteArea> known;
        if (wfs->zeros && !(known = known_holes(wfs, file->node, at, at + size)).empty())
            return read_with_zeros(wfs, file, node, at, buffer, size, 0, known);
        size_t n = 0;
        Error error;
        if (!dfile_map_read(&file->map, at, buffer, size, &n, &error)) {
            if (wfs->zeros)
                return read_with_zeros(wfs, file, node, at, buffer, size, n, {});
            warn("%s: %s at byte %llu\n", text_shown(node->path.c_str()).c_str(), strerror(error.code),
                 static_cast<unsigned long long>(at + n));
            return -EIO;
        }
        return static_cast<int>(n);
    });
}

int wfs_release(Wfs *wfs, uint64_t handle)
{
    return guarded(wfs, [&] {
        delete reinterpret_cast<OpenFile *>(handle);
        return 0;
    });
}

int wfs_opendir(Wfs *wfs, const char *path)
{
    return guarded(wfs, [&] {
        const MountNode *node = mount_find(&wfs->tree, path);
        if (node == nullptr)
            return -ENOENT;
        return node->kind == NodeKind::Directory ? 0 : -ENOTDIR;
    });
}

int wfs_access(Wfs *wfs, const char *path, int mask)
{
    return guarded(wfs, [&] {
        if (mount_find(&wfs->tree, path) == nullptr)
            return -ENOENT;
        return (mask & W_OK) != 0 ? wfs_refuse_write() : 0;
    });
}

int wfs_statfs(Wfs *wfs, struct statvfs *status)
{
    return guarded(wfs, [&] {
        memset(status, 0, sizeof *status);
        const HumaxDisk *disk = wfs->disk;
        uint64_t disk_bytes = disk->volume.disk_bytes == UINT64_MAX ? 0 : disk->volume.disk_bytes;
        uint64_t free_bytes = wfs->free_bytes;
        status->f_bsize = static_cast<unsigned long>(cluster_bytes(&disk->partitions[PARTITION_AV]));
        status->f_frsize = SECTOR_SIZE;
        status->f_blocks = disk_bytes / SECTOR_SIZE;
        status->f_bfree = status->f_bavail = free_bytes / SECTOR_SIZE;
        status->f_files = wfs->tree.nodes.size();
        status->f_namemax = 255;
        status->f_flag = ST_RDONLY;
        return 0;
    });
}

namespace {

// The attributes shown for `path`: those of the recording its file belongs to.
int attributes_of(const Wfs *wfs, const char *path, const MountAttributes **attributes)
{
    const MountNode *node = mount_find(&wfs->tree, path);
    if (node == nullptr)
        return -ENOENT;
    int number = wfs->tree.nodes[node->inode - 1].recording;
    static const MountAttributes none;
    *attributes = number > 0 && static_cast<size_t>(number) < wfs->attributes.size()
                      ? &wfs->attributes[static_cast<size_t>(number)]
                      : &none;
    return 0;
}

int give(const std::string &bytes, char *out, size_t size)
{
    if (size == 0)
        return static_cast<int>(bytes.size());
    if (size < bytes.size())
        return -ERANGE;
    memcpy(out, bytes.data(), bytes.size());
    return static_cast<int>(bytes.size());
}

} // namespace

int wfs_getxattr(Wfs *wfs, const char *path, const char *name, char *value, size_t size)
{
    return guarded(wfs, [&] {
        const MountAttributes *attributes = nullptr;
        if (int found = attributes_of(wfs, path, &attributes); found != 0)
            return found;
        for (const auto &[key, text] : *attributes) {
            if (key == name)
                return give(text, value, size);
        }
        return -ENODATA;
    });
}

int wfs_listxattr(Wfs *wfs, const char *path, char *list, size_t size)
{
    return guarded(wfs, [&] {
        const MountAttributes *attributes = nullptr;
        if (int found = attributes_of(wfs, path, &attributes); found != 0)
            return found;
        std::string names;
        for (const auto &attribute : *attributes)
            names += attribute.first + '\0';
        return give(names, list, size);
    });
}

void wfs_begin_serving(Wfs *wfs)
{
    message_set_sink(wfs->log);
    fatal_set_handler(throw_fatal);
}

void wfs_end_serving()
{
    fatal_set_handler(nullptr);
    message_set_sink(nullptr);
}
