#include "wardenfs/mount_tree.h"

#include <cstring>

#include "common/fatal.h"
#include "common/names.h"
#include "common/shown_text.h"
#include "disk/file_map.h"
#include "wardenfs/mount_text.h"
#include "records/recovery_names.h"

namespace {

const char *const PARTITION_DIRECTORIES[PARTITION_COUNT] = {"AV", "EPG", "MPEG_JPEG"};

// Adds a child to directory `parent`; false (nothing added) when the name is taken.
bool add_node(MountTree *tree, uint32_t parent, const std::string &name, MountNode node)
{
    const std::string &base = tree->nodes[parent].path;
    node.path = (base == "/" ? "" : base) + "/" + name;
    if (tree->by_path.count(node.path) != 0)
        return false;
    auto index = static_cast<uint32_t>(tree->nodes.size());
    tree->by_path.emplace(node.path, index);
    tree->nodes.push_back(std::move(node));
    tree->nodes[parent].children.push_back(index);
    return true;
}

uint32_t add_directory(MountTree *tree, uint32_t parent, const std::string &name, int64_t time)
{
    MountNode node;
    node.mtime = time;
    add_node(tree, parent, name, std::move(node));
    return static_cast<uint32_t>(tree->nodes.size() - 1);
}

// A file of partition i named `disk_name` as reading it by name finds it (the first
// entry of that name); false when there is none.
bool add_stored(HumaxDisk *disk, MountTree *tree, uint32_t parent, const std::string &name,
                int index, const char *disk_name, int64_t time)
{
    PartitionInfo *p = &disk->partitions[index];
    const DirEntry *entry = dir_find(p, disk_name);
    if (entry == nullptr)
        return false;
    MountNode node;
    node.kind = NodeKind::Stored;
    node.mtime = time;
    node.partition = index;
    node.entry = entry;
    node.size = dfile_readable_size(p, entry);
    if (node.size < dirent_size(entry))
        warn("%s: Warning file allocation error - truncating to %llu bytes\n",
             text_shown(disk_name).c_str(), static_cast<unsigned long long>(node.size));
    add_node(tree, parent, name, std::move(node));
    return true;
}

void add_recording(HumaxDisk *disk, MountTree *tree, int number, const std::string &stem)
{
    size_t first_node = tree->nodes.size();
    const RecordEntry *entry = reclist_find(&disk->records, number, 0);
    int64_t start = entry_be32(entry, ENTRY_START_TIME);
    unsigned file_number = entry_be16(entry, ENTRY_FILE_NUMBER);
    char disk_name[DISK_NAME_SIZE];
    format_bounded(disk_name, sizeof disk_name, "%d.av", file_number);
    add_stored(disk, tree, MOUNT_ROOT, stem + ".ts", PARTITION_AV, disk_name, start);
    format_bounded(disk_name, sizeof disk_name, "%d.elu", file_number);
    add_stored(disk, tree, MOUNT_ROOT, stem + ".elu", PARTITION_AV, disk_name, start);
    format_bounded(disk_name, sizeof disk_name, "%d.epg", file_number);
    add_stored(disk, tree, MOUNT_ROOT, stem + ".epg", PARTITION_EPG, disk_name, start);
    MountNode header;
    header.kind = NodeKind::Memory;
    header.mtime = start;
    header.bytes.assign(reinterpret_cast<const char *>(entry->bytes), disk->records.record_length);
    header.size = header.bytes.size();
    add_node(tree, MOUNT_ROOT, stem + ".hre", std::move(header));
    MountNode info;
    info.kind = NodeKind::Info;
    info.mtime = start;
    add_node(tree, MOUNT_ROOT, stem + ".txt", std::move(info));
    for (size_t i = first_node; i < tree->nodes.size(); ++i)
        tree->nodes[i].recording = number;
}

// The stems are unique over the list, and end in no extension of these.
void add_recordings(HumaxDisk *disk, MountTree *tree)
{
    std::vector<std::string> stems = mount_recording_stems(disk);
    for (size_t i = 0; i < stems.size(); ++i)
        add_recording(disk, tree, static_cast<int>(i + 1), stems[i]);
}

// recover_NNNN.ts, .elu and .epg, as -r -g copies them, and the .txt of one with a .epg.
void add_recovery(HumaxDisk *disk, MountTree *tree, int64_t time)
{
    uint32_t directory = add_directory(tree, MOUNT_ROOT, "recovery", time);
    int count = 0;
    char name[RECOVERY_NAME_SIZE];
    for (const DirEntry *e = disk->partitions[PARTITION_AV].dir_head; e != nullptr; e = e->next) {
        if (!recovery_recording_name(e, name))
            continue;
        char host[RECOVERY_NAME_SIZE];
        format_bounded(host, sizeof host, RECOVERY_HOST_PATTERN, ++count);
        std::string stem(host, strlen(host) - strlen(".ts"));
        add_stored(disk, tree, directory, host, PARTITION_AV, name, time);
        // The only dot of a recovery name starts its extension.
        std::string base(name, strchr(name, '.'));
        add_stored(disk, tree, directory, stem + ".elu", PARTITION_AV, (base + ".elu").c_str(), time);
        if (!add_stored(disk, tree, directory, stem + ".epg", PARTITION_EPG, (base + ".epg").c_str(), time))
            continue;
        // Its programme information beside it, as for a listed recording.
        MountNode info;
        info.kind = NodeKind::Info;
        info.mtime = time;
        info.epg_name = base + ".epg";
        info.recovered = count;
        add_node(tree, directory, stem + ".txt", std::move(info));
    }
}

// A name no directory can hold, whatever is done to its bytes.
bool nameless(const char *name)
{
    return name[0] == '\0' || strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// A disk name as the mount shows it: cleaned as the recordings' names are (bytes a
// terminal would act on, bytes from 0x80 up and the characters host file systems refuse
// become '_'), so that listing a directory never sends a disk's bytes to a terminal.
std::string cleaned(const char *name)
{
    std::string shown(name);
    sanitize_file_name(shown.data());
    for (char &c : shown) {
        if (c == '\x7F')
            c = '_';
    }
    return shown;
}

// The files of a partition are added in two passes: those whose names are clean first,
// so that a cleaned name never hides a real one.
enum class NamePass { Clean, Cleaned };

void add_partition_files(HumaxDisk *disk, MountTree *tree, int i, uint32_t directory,
                         int64_t time, NamePass pass)
{
    const bool clean = pass == NamePass::Clean;
    PartitionInfo *p = &disk->partitions[i];
    for (const DirEntry *e = p->dir_head; e != nullptr; e = e->next) {
        char name[DIR_NAME_LENGTH + 1];
        dirent_copy_name(e, name);
        std::string shown = cleaned(name);
        if (nameless(name)) {
            if (clean)
                warn("%s partition: a file named \"%s\" cannot be shown\n", partition_name(i),
                     text_shown(name).c_str());
            continue;
        }
        if ((shown == name) != clean)
            continue;
        // Reading by name finds the first entry of a name: the others are not shown.
        if (dir_find(p, name) != e) {
            warn("%s partition: a second file named \"%s\" is not shown\n", partition_name(i),
                 text_shown(name).c_str());
            continue;
        }
        if (!clean && mount_find(tree, (tree->nodes[directory].path + "/" + shown).c_str()) != nullptr) {
            warn("%s partition: a file named \"%s\" is not shown: \"%s\", as it would be shown, is "
                 "another's name\n",
                 partition_name(i), text_shown(name).c_str(), shown.c_str());
            continue;
        }
        if (!clean)
            warn("%s partition: the file named \"%s\" is shown as \"%s\"\n", partition_name(i),
                 text_shown(name).c_str(), shown.c_str());
        add_stored(disk, tree, directory, shown, i, name, time);
    }
}

void add_partitions(HumaxDisk *disk, MountTree *tree, int64_t time)
{
    uint32_t top = add_directory(tree, MOUNT_ROOT, "partitions", time);
    for (int i = 0; i < disk->partition_count; ++i) {
        uint32_t directory = add_directory(tree, top, PARTITION_DIRECTORIES[i], time);
        add_partition_files(disk, tree, i, directory, time, NamePass::Clean);
        add_partition_files(disk, tree, i, directory, time, NamePass::Cleaned);
    }
}

// The nodes of one stored file become its links: the inode number and the time of the
// first (a recording's start time when the list shows it).
void link_copies(MountTree *tree)
{
    std::unordered_map<const DirEntry *, uint32_t> first;
    for (uint32_t i = 0; i < tree->nodes.size(); ++i) {
        MountNode &node = tree->nodes[i];
        node.inode = i + 1;
        if (node.kind != NodeKind::Stored)
            continue;
        auto [found, added] = first.emplace(node.entry, i);
        node.inode = found->second + 1;
        if (!added)
            ++tree->nodes[found->second].links;
    }
    for (MountNode &node : tree->nodes) {
        if (node.kind != NodeKind::Stored)
            continue;
        node.links = tree->nodes[node.inode - 1].links;
        node.mtime = tree->nodes[node.inode - 1].mtime;
    }
}

} // namespace

void mount_build_tree(HumaxDisk *disk, int64_t disk_time, MountTree *tree)
{
    *tree = MountTree{};
    MountNode root;
    root.path = "/";
    root.mtime = disk_time;
    tree->nodes.push_back(std::move(root));
    tree->by_path.emplace("/", MOUNT_ROOT);
    add_recordings(disk, tree);
    add_recovery(disk, tree, disk_time);
    add_partitions(disk, tree, disk_time);
    link_copies(tree);
}

const MountNode *mount_find(const MountTree *tree, const char *path)
{
    auto found = tree->by_path.find(path);
    return found == tree->by_path.end() ? nullptr : &tree->nodes[found->second];
}

MountNode *mount_find(MountTree *tree, const char *path)
{
    auto found = tree->by_path.find(path);
    return found == tree->by_path.end() ? nullptr : &tree->nodes[found->second];
}

std::string mount_node_name(const MountNode *node)
{
    if (node->path == "/")
        return "";
    return node->path.substr(node->path.rfind('/') + 1);
}
