#include "wardenfs/wfs_fuse.h"

#include <fuse.h>

#include "wardenfs/wfs.h"

namespace {

Wfs *serving = nullptr;
void (*on_mounted)() = nullptr;

int op_getattr(const char *path, struct stat *status, fuse_file_info *)
{
    return wfs_getattr(serving, path, status);
}

struct DirFill {
    void *buffer;
    fuse_fill_dir_t filler;
};

bool fill_name(void *context, const char *name)
{
    auto *fill = static_cast<DirFill *>(context);
    return fill->filler(fill->buffer, name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0)) == 0;
}

int op_readdir(const char *path, void *buffer, fuse_fill_dir_t filler, off_t, fuse_file_info *,
               fuse_readdir_flags)
{
    DirFill fill{buffer, filler};
    return wfs_readdir(serving, path, fill_name, &fill);
}

int op_open(const char *path, fuse_file_info *info)
{
    uint64_t handle = 0;
    int result = wfs_open(serving, path, info->flags, &handle);
    if (result == 0) {
        info->fh = handle;
        info->keep_cache = 1; // the contents never change
    }
    return result;
}

int op_read(const char *, char *buffer, size_t size, off_t offset, fuse_file_info *info)
{
    return wfs_read(serving, info->fh, buffer, size, offset);
}

int op_release(const char *, fuse_file_info *info)
{
    return wfs_release(serving, info->fh);
}

int op_opendir(const char *path, fuse_file_info *)
{
    return wfs_opendir(serving, path);
}

int op_access(const char *path, int mask)
{
    return wfs_access(serving, path, mask);
}

int op_statfs(const char *, struct statvfs *status)
{
    return wfs_statfs(serving, status);
}

int op_getxattr(const char *path, const char *name, char *value, size_t size)
{
    return wfs_getxattr(serving, path, name, value, size);
}

int op_listxattr(const char *path, char *list, size_t size)
{
    return wfs_listxattr(serving, path, list, size);
}

void *op_init(fuse_conn_info *, fuse_config *config)
{
    config->kernel_cache = 1;
    config->use_ino = 1;
    config->entry_timeout = WFS_CACHE_SECONDS;
    config->attr_timeout = WFS_CACHE_SECONDS;
    config->negative_timeout = WFS_CACHE_SECONDS;
    wfs_begin_serving(serving);
    if (on_mounted != nullptr)
        on_mounted();
    return serving;
}

// Every operation that would change anything, in each signature the table has.
int refuse_path(const char *) { return wfs_refuse_write(); }
int refuse_mode(const char *, mode_t) { return wfs_refuse_write(); }
int refuse_mknod(const char *, mode_t, dev_t) { return wfs_refuse_write(); }
int refuse_link(const char *, const char *) { return wfs_refuse_write(); }
int refuse_rename(const char *, const char *, unsigned int) { return wfs_refuse_write(); }
int refuse_chmod(const char *, mode_t, fuse_file_info *) { return wfs_refuse_write(); }
int refuse_chown(const char *, uid_t, gid_t, fuse_file_info *) { return wfs_refuse_write(); }
int refuse_truncate(const char *, off_t, fuse_file_info *) { return wfs_refuse_write(); }
int refuse_write(const char *, const char *, size_t, off_t, fuse_file_info *)
{
    return wfs_refuse_write();
}
int refuse_write_buf(const char *, fuse_bufvec *, off_t, fuse_file_info *)
{
    return wfs_refuse_write();
}
int refuse_setxattr(const char *, const char *, const char *, size_t, int)
{
    return wfs_refuse_write();
}
int refuse_removexattr(const char *, const char *) { return wfs_refuse_write(); }
int refuse_create(const char *, mode_t, fuse_file_info *) { return wfs_refuse_write(); }
int refuse_utimens(const char *, const timespec[2], fuse_file_info *) { return wfs_refuse_write(); }
int refuse_fallocate(const char *, int, off_t, off_t, fuse_file_info *)
{
    return wfs_refuse_write();
}
ssize_t refuse_copy_file_range(const char *, fuse_file_info *, off_t, const char *,
                               fuse_file_info *, off_t, size_t, int)
{
    return wfs_refuse_write();
}

fuse_operations make_operations()
{
    fuse_operations ops{};
    ops.getattr = op_getattr;
    ops.readdir = op_readdir;
    ops.open = op_open;
    ops.read = op_read;
    ops.release = op_release;
    ops.opendir = op_opendir;
    ops.access = op_access;
    ops.statfs = op_statfs;
    ops.init = op_init;
    ops.getxattr = op_getxattr;
    ops.listxattr = op_listxattr;
    ops.mknod = refuse_mknod;
    ops.mkdir = refuse_mode;
    ops.unlink = refuse_path;
    ops.rmdir = refuse_path;
    ops.symlink = refuse_link;
    ops.rename = refuse_rename;
    ops.link = refuse_link;
    ops.chmod = refuse_chmod;
    ops.chown = refuse_chown;
    ops.truncate = refuse_truncate;
    ops.write = refuse_write;
    ops.write_buf = refuse_write_buf;
    ops.setxattr = refuse_setxattr;
    ops.removexattr = refuse_removexattr;
    ops.create = refuse_create;
    ops.utimens = refuse_utimens;
    ops.fallocate = refuse_fallocate;
    ops.copy_file_range = refuse_copy_file_range;
    return ops;
}

} // namespace

const fuse_operations *wfs_fuse_operations(Wfs *wfs, void (*mounted)())
{
    serving = wfs;
    on_mounted = mounted;
    static const fuse_operations operations = make_operations();
    return &operations;
}
