#include <gtest/gtest.h>

#include "common/run_options.h"
#include "disk/directory.h"
#include "disk/disk_file.h"
#include "disk_image.h"
#include "disk_opening.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;

class Directory : public ::testing::Test {
  protected:
    testimg::TempDir dir;
    std::string path = dir.file("disk.img");
    void SetUp() override { run_options = RunOptions{}; }
};

TEST_F(Directory, FreeSlotsDisappearAndWritingCompacts)
{
    DiskImage image(path, testimg::default_spec());
    image.add_file(0, "a.av", Bytes(10, 1));
    image.add_file(0, "b.av", Bytes(10, 2));
    image.add_file(0, "c.av", Bytes(10, 3));
    // Move them to slots 3, 10 and 700, and leave a named slot with first sector 0.
    Bytes a = image.dir_slot(0, 0), b = image.dir_slot(0, 1), c = image.dir_slot(0, 2);
    Bytes zero(128, 0);
    for (int slot : {0, 1, 2})
        image.set_dir_slot(0, slot, zero);
    image.set_dir_slot(0, 3, a);
    image.set_dir_slot(0, 10, b);
    image.set_dir_slot(0, 700, c);
    Bytes ghost = a;
    std::fill(ghost.begin() + 12, ghost.begin() + 16, 0);
    image.set_dir_slot(0, 5, ghost);

    HumaxDisk *disk = testimg::open_volume(path, true);
    PartitionInfo *p = &disk->partitions[0];
    int count = 0;
    for (DirEntry *e = p->dir_head; e != nullptr; e = e->next)
        ++count;
    EXPECT_EQ(count, 3);
    EXPECT_STREQ(dirent_name(p->dir_head), "a.av");
    Error error;
    EXPECT_TRUE(disk_write_tables(disk, 0, &error));
    disk_close(disk);

    DiskImage after(path);
    EXPECT_EQ(after.dir_slot(0, 0), a);
    EXPECT_EQ(after.dir_slot(0, 1), b);
    EXPECT_EQ(after.dir_slot(0, 2), c);
    for (int slot = 3; slot < 1024; ++slot)
        ASSERT_EQ(after.dir_slot(0, slot), zero) << slot;
    EXPECT_TRUE(testimg::check_image(path).empty());
}

TEST_F(Directory, FindIsExactOverSixtyBytes)
{
    DiskImage image(path, testimg::default_spec());
    std::string sixty(60, 'n');
    image.add_file(0, "1.av", Bytes(4, 1));
    image.add_file(0, sixty, Bytes(4, 2));
    HumaxDisk *disk = testimg::open_volume(path);
    PartitionInfo *p = &disk->partitions[0];
    EXPECT_NE(dir_find(p, "1.av"), nullptr);
    EXPECT_EQ(dir_find(p, "1.AV"), nullptr);
    EXPECT_EQ(dir_find(p, nullptr), nullptr);
    // A name of 60 characters has no terminator: only 60 bytes take part.
    EXPECT_NE(dir_find(p, (sixty + "more").c_str()), nullptr);
    char copy[61];
    dirent_copy_name(dir_find(p, sixty.c_str()), copy);
    EXPECT_EQ(std::string(copy), sixty);
    disk_close(disk);
}

TEST_F(Directory, UnusedNumbers)
{
    DiskImage image(path, testimg::default_spec());
    for (const char *name : {"2.av", "3.av", "4.av", "5.av", "6.elu"})
        image.add_file(0, name, Bytes(4, 1));
    HumaxDisk *disk = testimg::open_volume(path);
    PartitionInfo *p = &disk->partitions[0];
    EXPECT_EQ(dir_unused_number(p, ".av"), 6u);
    EXPECT_EQ(dir_unused_number(p, ".elu"), 2u);
    EXPECT_EQ(dir_unused_number(p, nullptr), 0u);
    dir_remove_entry(p, dir_find(p, "2.av"));
    EXPECT_EQ(dir_unused_number(p, ".av"), 2u);
    for (unsigned n = 2; n <= 2047; ++n)
        dirent_set_name(dir_new_entry(p), (std::to_string(n) + ".av").c_str());
    EXPECT_EQ(dir_unused_number(p, ".av"), 0u);
    disk_close(disk);
}

TEST_F(Directory, AFullDirectoryIsRefusedBeforeAnythingIsWritten)
{
    DiskImage image(path, testimg::default_spec());
    image.add_file(0, "keep.av", Bytes(4, 1));
    Bytes before = image.read_sectors(image.dir_sector(0), 256);
    HumaxDisk *disk = testimg::open_volume(path, true);
    PartitionInfo *p = &disk->partitions[0];
    for (int i = 0; i < 1024; ++i) {
        DirEntry *e = dir_new_entry(p);
        dirent_set(e, DIRENT_FIRST_SECTOR, p->data_sector);
        dirent_set_name(e, ("x" + std::to_string(i)).c_str());
    }
    Error error;
    EXPECT_FALSE(dir_write(disk, p, &error));
    EXPECT_EQ(error.kind, ErrorKind::Space);
    EXPECT_EQ(error.text, "No free directory entries available, aborting...\n");
    disk_close(disk);
    EXPECT_EQ(DiskImage(path).read_sectors(image.dir_sector(0), 256), before);
}

TEST_F(Directory, RemovingUnknownEntriesIsHarmless)
{
    DiskImage image(path, testimg::default_spec());
    HumaxDisk *disk = testimg::open_volume(path);
    PartitionInfo *p = &disk->partitions[0];
    DirEntry stranger;
    dir_remove_entry(p, &stranger);
    dir_remove_entry(p, nullptr);
    DirEntry *only = dir_new_entry(p);
    dir_remove_entry(p, &stranger);
    EXPECT_EQ(p->dir_head, only);
    dir_remove_entry(p, only);
    EXPECT_EQ(p->dir_head, nullptr);
    EXPECT_EQ(p->dir_tail, nullptr);
    disk_close(disk);
}

} // namespace
