#pragma once
// The FUSE high-level operations table of wardenfs: each entry calls the operation of
// wfs.h for the one mounted file system, and every entry that would change anything
// answers -EROFS itself, whatever the mount options say.
struct fuse_operations;
struct Wfs;

// The table, serving `wfs` (one file system per process). Its init() applies the
// configuration below, starts serving (wfs_begin_serving), then calls `mounted` (when
// not null): the kernel has asked for the mount's first answer.
const fuse_operations *wfs_fuse_operations(Wfs *wfs, void (*mounted)() = nullptr);

// The timeouts (seconds) the kernel may keep names and attributes: nothing on a
// read-only mount changes.
constexpr double WFS_CACHE_SECONDS = 60.0;
