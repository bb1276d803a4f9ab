// The host rules that are plain functions, tested here for every host: drive numbers and
// the paths they name, a drive's size and alignment from what Windows answers about it,
// Windows error codes as C library errors, how each host splits a -p pattern, and which
// names are the temporaries of host copies.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/dir_search.h"
#include "platform/host_temporaries.h"
#include "platform/raw_drive.h"
#include "platform/win_error.h"

namespace {

TEST(RawDrive, OneDigitAndAColonNameADriveOnEitherHost)
{
    unsigned n = 99;
    EXPECT_TRUE(raw_drive_number("0:", &n));
    EXPECT_EQ(raw_drive_windows_path(n), "\\\\.\\PhysicalDrive0");
    EXPECT_TRUE(raw_drive_number("7:", &n));
    EXPECT_EQ(raw_drive_windows_path(n), "\\\\.\\PhysicalDrive7");
    EXPECT_EQ(raw_drive_linux_path(n), "/dev/sdh");
    for (const char *image : {"0", "10:", "0:x", ":", "a:", "", "0:\\"})
        EXPECT_FALSE(raw_drive_number(image, &n)) << image;
}

TEST(RawDrive, WindowsDrivePathsAreToldFromImagePaths)
{
    // Every path "N:" leads to is recognised as that drive again (the same-disk check
    // and the drive's backend depend on it).
    for (unsigned n : {0u, 1u, 9u, 10u, 999u}) {
        unsigned back = 12345;
        EXPECT_TRUE(raw_drive_windows_number(raw_drive_windows_path(n).c_str(), &back)) << n;
        EXPECT_EQ(back, n);
    }
    unsigned n = 0;
    EXPECT_TRUE(raw_drive_windows_number("\\\\.\\physicaldrive3", &n));
    EXPECT_EQ(n, 3u);
    EXPECT_TRUE(raw_drive_windows_number("//./PHYSICALDRIVE12", &n));
    EXPECT_EQ(n, 12u);
    for (const char *other : {"\\\\.\\PhysicalDrive", "\\\\.\\PhysicalDrive01", "\\\\.\\PhysicalDrive1x",
                              "\\\\.\\PhysicalDrive1000", "\\\\?\\PhysicalDrive1", "\\\\.\\C:",
                              "C:\\PhysicalDrive1", "\\\\.\\PhysicalDrive-1", "PhysicalDrive1"})
        EXPECT_FALSE(raw_drive_windows_number(other, &n)) << other;
}

TEST(RawDrive, SizeAndAlignmentFromTheSystemsAnswers)
{
    DriveReport report;
    EXPECT_EQ(raw_drive_size(report), UINT64_MAX);
    EXPECT_EQ(raw_drive_alignment(report), 512u);

    report.geometry_known = true;
    report.bytes_per_sector = 4096;
    report.geometry_size = int64_t{500107862016};
    EXPECT_EQ(raw_drive_size(report), 500107862016u) << "the geometry when the length is unknown";
    EXPECT_EQ(raw_drive_alignment(report), 4096u);
    report.length_known = true;
    report.length = int64_t{500107862016} + 4096 * 3; // the length wins: geometry rounds down
    EXPECT_EQ(raw_drive_size(report), 500107874304u);
    report.length = -1;
    EXPECT_EQ(raw_drive_size(report), 500107862016u);

    for (uint32_t odd : {0u, 256u, 520u, 3072u, 1u << 17})
        EXPECT_EQ(raw_drive_alignment({false, 0, true, odd, 0}), 512u) << odd;
    EXPECT_EQ(raw_drive_alignment({false, 0, true, 512, 0}), 512u);
    EXPECT_EQ(raw_drive_alignment({false, 0, false, 4096, 0}), 512u) << "geometry unknown";
}

TEST(WinError, CodesBecomeTheErrorsTheMessagesNeed)
{
    struct Case {
        uint32_t code;
        int error;
    } cases[] = {
        {WIN_FILE_NOT_FOUND, ENOENT},  {WIN_PATH_NOT_FOUND, ENOENT},
        {WIN_ACCESS_DENIED, EACCES},   {WIN_SHARING_VIOLATION, EBUSY}, // "another program holds it"
        {WIN_DRIVE_LOCKED, EBUSY},     {WIN_LOCK_VIOLATION, EWOULDBLOCK}, // "in use by another process"
        {WIN_INVALID_PARAMETER, EINVAL}, // a misaligned transfer to a drive
        {WIN_DISK_FULL, ENOSPC},       {WIN_HANDLE_DISK_FULL, ENOSPC},
        {WIN_FILE_TOO_LARGE, EFBIG},   {WIN_WRITE_PROTECT, EROFS},
        {WIN_ALREADY_EXISTS, EEXIST},  {WIN_CRC, EIO},
        {WIN_SECTOR_NOT_FOUND, EIO},   {999999, EIO},
    };
    for (const Case &c : cases)
        EXPECT_EQ(win_errno(c.code), c.error) << c.code << " gave " << strerror(win_errno(c.code));
}

TEST(PatternSplit, EachHostSplitsAtItsOwnSeparators)
{
    struct Case {
        PathStyle style;
        const char *pattern, *directory, *file_part;
    } cases[] = {
        {PathStyle::Windows, "C:\\rec\\*.ts", "C:\\rec", "*.ts"},
        {PathStyle::Windows, "rec/new\\a?.ts", "rec/new", "a?.ts"},
        {PathStyle::Windows, "rec\\sub/*.ts", "rec\\sub", "*.ts"},
        {PathStyle::Windows, "\\*.ts", "\\", "*.ts"},
        {PathStyle::Windows, "C:\\*.ts", "C:\\", "*.ts"},
        {PathStyle::Windows, "C:*.ts", "C:", "*.ts"},
        {PathStyle::Windows, "*.ts", ".", "*.ts"},
        {PathStyle::Windows, "rec\\", "rec", ""},
        {PathStyle::Posix, "rec\\*.ts", ".", "rec\\*.ts"},
        {PathStyle::Posix, "/srv/rec/*.ts", "/srv/rec", "*.ts"},
        {PathStyle::Posix, "/*.ts", "/", "*.ts"},
        {PathStyle::Posix, "C:*.ts", ".", "C:*.ts"},
    };
    for (const Case &c : cases) {
        std::string directory, file_part;
        dir_search_split(c.pattern, c.style, &directory, &file_part);
        EXPECT_EQ(directory, c.directory) << c.pattern;
        EXPECT_EQ(file_part, c.file_part) << c.pattern;
    }
}

TEST(HostTemporaries, OnlyTheNamesOfOurTemporariesTellAProcess)
{
    // Every name a run makes is read back as that run's.
    for (int attempt : {0, 1, 99}) {
        std::string tag = host_temporary_tag(4321, attempt);
        EXPECT_EQ(host_temporary_owner(("20130526 2100 News.ts" + tag).c_str()), 4321) << tag;
        EXPECT_EQ(host_temporary_owner(tag.c_str()), 4321) << tag;
    }
    EXPECT_EQ(host_temporary_owner("a.diskwarden-1.part.diskwarden-77.part"), 77);
    // Nothing else is, however close: these may be a person's files.
    for (const char *name : {"News.ts", "News.part", "News.diskwarden-.part", "News.diskwarden-0.part",
                             "News.diskwarden-012.part", "News.diskwarden-12-.part",
                             "News.diskwarden-12-0.part", "News.diskwarden-12-x.part",
                             "News.diskwarden-12.part~", "News.diskwarden-12.partial",
                             "News.diskwarden-1x2.part", "News.Diskwarden-12.part", ".part",
                             "News.diskwarden-99999999999999999999.part"})
        EXPECT_EQ(host_temporary_owner(name), 0) << name;
}

} // namespace
