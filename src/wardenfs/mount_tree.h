#pragma once
// The tree the mount shows, built once from an opened disk:
//   /NAME.ts .elu .epg .hre .txt       each recording of the list, as -g, -H and -i give it
//   /recovery/recover_NNNN.ts .elu .epg .txt  the recordings recovery mode finds, as -r -g
//                                        (and .txt: their programme information)
//   /partitions/AV|EPG|MPEG_JPEG/...   every file of each partition
// Nothing in it changes while mounted, except that a recording's .txt is rendered when
// first needed.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "disk/humax_disk.h"

enum class NodeKind {
    Directory,
    Stored,  // a file of a partition, read from the disk (byte order undone)
    Memory,  // bytes held in the node (a recording's header)
    Info,    // a recording's programme information, rendered when first needed
};

struct MountNode {
    std::string path; // "/" for the root, else "/a/b"
    NodeKind kind = NodeKind::Directory;
    int64_t mtime = 0;
    uint64_t size = 0;              // Stored and Memory; Info once rendered
    std::vector<uint32_t> children; // Directory: in the order shown
    int partition = 0;              // Stored: the file's partition and entry
    const DirEntry *entry = nullptr;
    int recording = 0;              // a listed recording's files: its number
    std::string epg_name;           // Info in recovery/: the .epg it shows
    int recovered = 0;              //   and the recording's number there
    std::string bytes;              // Memory, and Info once rendered
    bool rendered = false;
    // Every node showing one stored file (a recording at the top, in recovery/ and in
    // partitions/AV) is the same file: one inode number, and as many links, so that du,
    // cp -a, rsync -H and tar count and copy it once.
    uint64_t inode = 0;
    uint32_t links = 1;
};

struct MountTree {
    std::vector<MountNode> nodes; // node 0 is the root
    std::unordered_map<std::string, uint32_t> by_path;
};

constexpr uint32_t MOUNT_ROOT = 0;

// Builds the tree of `disk` (its record list loaded, or empty when it could not be used).
// Nodes that show the same stored file share its inode number (see MountNode::inode).
// Directories, recovery and partition files get `disk_time` as their modification time,
// a recording's files its start time. Names that a host file system cannot hold (empty,
// ".", "..", containing '/') and second entries of a name in one partition are left out,
// with a warning (names shown inert). Stored sizes are what reading the file gives (shortened to its chain,
// with diskwarden's warning). Never ends the process.
void mount_build_tree(HumaxDisk *disk, int64_t disk_time, MountTree *tree);

// The node of `path`, or null.
const MountNode *mount_find(const MountTree *tree, const char *path);
MountNode *mount_find(MountTree *tree, const char *path);

// The last component of a node's path ("" for the root).
std::string mount_node_name(const MountNode *node);
