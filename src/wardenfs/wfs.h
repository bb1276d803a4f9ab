#pragma once
// The file-system operations of wardenfs, free of FUSE so that they can be called in
// process: each returns 0 (or a count) or a negated errno as FUSE expects, and may be
// called from many threads at once. The tree never changes while mounted, so listings,
// attributes, statfs and the texts read no disk and take no lock; each open file has its
// own index of cluster runs and reads the disk with positioned reads, so a slow read stalls
// only its caller. Only a .txt whose programme information could not be read when the
// mount began is rendered again later, under `text_lock`. Nothing here ends the process:
// a failed read of the disk gives -EIO for that call (and a line in the log), and a fatal
// error met anywhere below is caught while serving (see wfs_begin_serving) and gives -EIO.
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>

#include "common/fatal.h"
#include "disk/humax_disk.h"
#include "wardenfs/mount_text.h"
#include "wardenfs/mount_tree.h"

struct Wfs {
    HumaxDisk *disk = nullptr; // opened read-only, its read errors noted
    MountTree tree;
    std::mutex text_lock; // around the rendering of a .txt after the mount began
    uid_t uid = 0;   // owner of every file
    gid_t gid = 0;
    mode_t umask = 0; // permission bits taken away (-o umask=)
    MessageSink log = nullptr; // where messages go while serving (null: standard error)
    std::vector<MountAttributes> attributes; // by recording number (0: none)
    uint64_t free_bytes = 0; // of the recordings partition, as statfs shows it
    std::atomic<unsigned long> fatal_errors{0}; // fatal errors caught while serving
    // -o zeros: unreadable sectors read as zeros (said once per area) instead of failing.
    // The areas found unreadable are remembered, so that a player reading them again gets
    // their zeros without the failing drive being asked (and retrying) again: (node, first
    // byte) -> end, at most WFS_ZEROS_REMEMBERED of them.
    bool zeros = false;
    std::mutex zeros_lock; // around zeros_known and zeros_full
    std::map<std::pair<uint32_t, uint64_t>, uint64_t> zeros_known;
    bool zeros_full = false; // no more are remembered (said once)
};

constexpr size_t WFS_ZEROS_REMEMBERED = 16384;

// Called for each name of a directory; returns false when no more fit.
using WfsFill = bool (*)(void *context, const char *name);

int wfs_getattr(Wfs *wfs, const char *path, struct stat *status);
// Lists ".", ".." and the directory's entries in order.
int wfs_readdir(Wfs *wfs, const char *path, WfsFill fill, void *context);
// Opens a file for reading: *handle identifies it until wfs_release. A stored file gets
// its index of cluster runs here. Write access (or O_TRUNC) is refused with -EROFS.
int wfs_open(Wfs *wfs, const char *path, int flags, uint64_t *handle);
// Reads up to `size` bytes at `offset` straight into `buffer`; the count, 0 at the end,
// or -EIO when the disk could not be read, whatever the system said (a backing file on a
// file system that went away must not look like a lost mount). With wfs->zeros, the
// sectors that cannot be read are read alone and give zeros instead.
int wfs_read(Wfs *wfs, uint64_t handle, char *buffer, size_t size, off_t offset);
int wfs_release(Wfs *wfs, uint64_t handle);
int wfs_opendir(Wfs *wfs, const char *path);
// Existence, and -EROFS for W_OK.
int wfs_access(Wfs *wfs, const char *path, int mask);
// The disk's size and the free space of the recordings partition (as -l shows it), in
// 512-byte fragments; f_bsize is the cluster length.
int wfs_statfs(Wfs *wfs, struct statvfs *status);
// Renders the programme information of a .txt node once (mount_create does it for each
// before serving); false (logged, not kept) when its .epg could not be read, so that the
// next access tries again. Not thread-safe: callers hold text_lock while serving.
bool wfs_render(Wfs *wfs, MountNode *node);
// The extended attributes of a listed recording's files, wherever shown (see
// mount_recording_attributes): the value of `name` (-ENODATA when it has none), or the
// names, each ending in a zero byte; the size alone when `size` is 0, -ERANGE when it is
// too small.
int wfs_getxattr(Wfs *wfs, const char *path, const char *name, char *value, size_t size);
int wfs_listxattr(Wfs *wfs, const char *path, char *list, size_t size);
// Every operation that would change anything.
inline int wfs_refuse_write() { return -EROFS; }

// Messages to wfs->log and fatal errors caught from now on (the mount is serving);
// wfs_end_serving restores standard error and ending the process.
void wfs_begin_serving(Wfs *wfs);
void wfs_end_serving();
