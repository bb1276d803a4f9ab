// The host rules that are plain functions, tested here for every host: drive numbers and
// the paths they name, a drive's size and alignment from what Windows answers about it,
// reads that come back short, drives that hold volumes, the wording of failures to open
// and lock, Windows error codes as C library errors, how each host splits a -p pattern,
// the conversions between UTF-8 and Windows' UTF-16 and its long path form, and which
// names are the temporaries of host copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dir_search.h"
#include "platform/disk_failure.h"
#include "platform/host_temporaries.h"
#include "platform/raw_drive.h"
#include "platform/unicode.h"
#include "platform/win_error.h"
#include "platform/win_path.h"

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
    EXPECT_TRUE(raw_drive_windows_number("\\\\?\\PhysicalDrive4", &n)) << "the other spelling Windows takes";
    EXPECT_EQ(n, 4u);
    for (const char *other : {"\\\\.\\PhysicalDrive", "\\\\.\\PhysicalDrive01", "\\\\.\\PhysicalDrive1x",
                              "\\\\.\\PhysicalDrive1000", "\\\\?\\C:\\PhysicalDrive1", "\\\\.\\C:",
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

// A disk as the system's transfers see it: `bytes` of data, and a transfer at `short_at`
// that delivers only half of what it is asked (a failing sector).
struct FakeDevice {
    std::vector<uint8_t> bytes;
    uint64_t short_at = UINT64_MAX;
    int transfers = 0;
};

bool fake_transfer(void *context, uint64_t position, uint8_t *data, uint32_t length, uint32_t *got)
{
    auto *device = static_cast<FakeDevice *>(context);
    ++device->transfers;
    uint64_t available = position >= device->bytes.size() ? 0 : device->bytes.size() - position;
    *got = static_cast<uint32_t>(std::min<uint64_t>(length, available));
    if (position == device->short_at)
        *got /= 2;
    std::copy_n(device->bytes.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(position, device->bytes.size())),
                *got, data);
    return true;
}

TEST(RawRead, OnlyAnImageMayEndEarlyAShortReadFromADriveFails)
{
    FakeDevice device{std::vector<uint8_t>(4096, 0xAB)};
    std::vector<uint8_t> buffer(8192, 0x55);
    RawReadTarget image{false, UINT64_MAX, 1024};
    ASSERT_TRUE(raw_read(image, fake_transfer, &device, 2048, buffer.data(), buffer.size()));
    EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + 2048, 0xAB), 2048) << "the image's data";
    EXPECT_EQ(std::count(buffer.begin() + 2048, buffer.end(), 0), 6144) << "past its end: zeros";

    // A drive of 4096 bytes: a read across its end asks only for what lies before it.
    RawReadTarget drive{true, 4096, 1024};
    device.transfers = 0;
    std::fill(buffer.begin(), buffer.end(), 0x55);
    ASSERT_TRUE(raw_read(drive, fake_transfer, &device, 2048, buffer.data(), buffer.size()));
    EXPECT_EQ(device.transfers, 2);
    EXPECT_EQ(std::count(buffer.begin() + 2048, buffer.end(), 0), 6144);
    device.transfers = 0;
    ASSERT_TRUE(raw_read(drive, fake_transfer, &device, 4096, buffer.data(), 512));
    EXPECT_EQ(device.transfers, 0) << "nothing to ask past the end";

    // The same short transfer inside the disk: the end of an image, an error of a drive.
    device.short_at = 1024;
    EXPECT_TRUE(raw_read(image, fake_transfer, &device, 0, buffer.data(), 4096));
    errno = 0;
    EXPECT_FALSE(raw_read(drive, fake_transfer, &device, 0, buffer.data(), 4096));
    EXPECT_EQ(errno, EIO);
    // A drive of unknown length, or one shorter than the system said, is no different.
    device.short_at = UINT64_MAX;
    errno = 0;
    EXPECT_FALSE(raw_read({true, UINT64_MAX, 1024}, fake_transfer, &device, 3072, buffer.data(), 2048));
    EXPECT_EQ(errno, EIO);
    EXPECT_FALSE(raw_read({true, 8192, 1024}, fake_transfer, &device, 4096, buffer.data(), 1024));
}

TEST(RawDrive, ADriveHoldingVolumesIsRefusedNamingThem)
{
    const std::vector<HostVolume> volumes = {
        {"\\\\?\\Volume{a}\\", {0}, {"C:\\"}, "System"},
        {"\\\\?\\Volume{b}\\", {1}, {"E:\\", "C:\\Backup\\"}, "Backup"},
        {"\\\\?\\Volume{c}\\", {2, 1}, {}, ""}, // spans drives 2 and 1, mounted nowhere
        {"\\\\?\\Volume{d}\\", {}, {"F:\\"}, ""}, // not a disk's (a card reader without a card)
    };
    const std::vector<HostVolume> on_one = raw_drive_volumes_on(1, volumes);
    ASSERT_EQ(on_one.size(), 2u);
    EXPECT_EQ(raw_drive_volume_refusal("\\\\.\\PhysicalDrive1", on_one),
              "\\\\.\\PhysicalDrive1 holds volumes that Windows uses (E: and C:\\Backup \"Backup\", "
              "\\\\?\\Volume{c}\\): a recorder's disk holds none, so this is another disk (is the drive "
              "number right?); refusing to use it\n");
    EXPECT_EQ(raw_drive_volume_refusal("0:", raw_drive_volumes_on(0, volumes)),
              "0: holds a volume that Windows uses (C: \"System\"): a recorder's disk holds none, so this "
              "is another disk (is the drive number right?); refusing to use it\n");
    EXPECT_EQ(raw_drive_volume_refusal("3:", raw_drive_volumes_on(3, volumes)), "");
}

TEST(DiskFailure, EachCauseHasItsOwnWords)
{
    EXPECT_EQ(platform_lock_failure("disk.img", EWOULDBLOCK), "disk.img is in use by another process\n");
    EXPECT_EQ(platform_lock_failure("nfs.img", ENOLCK),
              "nfs.img: the disk cannot be locked against other runs: " + std::string(strerror(ENOLCK)) + "\n");
    platform_note_lock_file("C:\\ProgramData\\diskwarden\\PhysicalDrive1.lock");
    const std::string drive = "\\\\.\\PhysicalDrive1";
    EXPECT_EQ(platform_lock_failure(drive.c_str(), EACCES),
              drive + ": the disk cannot be locked against other runs (lock file "
              "C:\\ProgramData\\diskwarden\\PhysicalDrive1.lock): " + std::string(strerror(EACCES)) + "\n");

    platform_note_refusal("");
    EXPECT_EQ(platform_open_failure("x.img", ENOENT), "x.img: " + std::string(strerror(ENOENT)) + "\n");
    EXPECT_EQ(platform_open_failure("/dev/sdb", EBUSY),
              "/dev/sdb: the drive is mounted, or another program holds it: refusing to use it\n");
    platform_note_refusal(drive + " holds a volume that Windows uses (E:): ...\n");
    EXPECT_EQ(platform_open_failure(drive.c_str(), EBUSY), drive + " holds a volume that Windows uses (E:): ...\n");
    platform_note_refusal("");
    EXPECT_EQ(platform_lock_failure(drive.c_str(), EACCES),
              drive + ": the disk cannot be locked against other runs: " + std::string(strerror(EACCES)) + "\n")
        << "an open forgets the last lock file";
}

TEST(Unicode, WindowsNamesSurviveTheWayToUtf8AndBack)
{
    const std::u16string names[] = {
        u"20240101 2000 Фильм.ts", u"映画 第1話.ts", u"Ｆｉｌｍ ＊∕.ts", u"\U0001F3AC clip.ts",
        std::u16string(u"lone \xD800 high"), std::u16string(u"lone \xDC00 low"), std::u16string(u"\xDC00\xD800"),
    };
    for (const std::u16string &name : names)
        EXPECT_EQ(unicode_utf16(unicode_utf8(name)), name);
    EXPECT_EQ(unicode_utf8(u"Фи"), "\xD0\xA4\xD0\xB8");
    EXPECT_EQ(unicode_utf8(u"\U0001F3AC"), "\xF0\x9F\x8E\xAC");
    EXPECT_EQ(unicode_utf8(std::u16string(u"\xD800")), "\xED\xA0\x80");
}

TEST(Unicode, BytesThatAreNoUtf8ReadAsLatin1)
{
    EXPECT_EQ(unicode_utf16("Caf\xE9 \xA3" "5"), u"Café £5");
    EXPECT_EQ(unicode_utf16("\xC0\xAF"), u"\u00C0\u00AF") << "an overlong '/' is no '/'";
    EXPECT_EQ(unicode_utf16("\xF4\x90\x80\x80"), u"\u00F4\u0090\u0080\u0080") << "past U+10FFFF";
    EXPECT_EQ(unicode_utf16("a\xE6\x98"), u"a\u00E6\u0098") << "cut off at the end";
    size_t length = 0;
    EXPECT_EQ(unicode_first("\xE6\x98\xA0x", &length), U'映');
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(unicode_first("\xE6x", &length), U'\u00E6');
    EXPECT_EQ(length, 1u);
}

TEST(Unicode, ASequenceSplitBetweenPiecesIsDecodedWhole)
{
    const std::string text = "Фильм 映画 \U0001F3AC Caf\xE9";
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        UnicodeDecoder decoder;
        std::u16string out;
        unicode_decode_piece(&decoder, std::string_view(text).substr(0, cut), &out);
        unicode_decode_piece(&decoder, std::string_view(text).substr(cut), &out);
        unicode_decode_end(&decoder, &out);
        EXPECT_EQ(out, u"Фильм 映画 \U0001F3AC Café") << "cut at " << cut;
    }
    UnicodeDecoder decoder;
    std::u16string out;
    unicode_decode_piece(&decoder, "ok \xE6\x98", &out);
    EXPECT_EQ(out, u"ok ");
    unicode_decode_end(&decoder, &out);
    EXPECT_EQ(out, u"ok \u00E6\u0098") << "a sequence the stream never finished";
}

TEST(WinPath, LongPathsTakeTheExtendedForm)
{
    const std::u16string folder = u"\\" + std::u16string(60, u'd');
    std::u16string long_path = u"C:";
    for (int i = 0; i < 5; ++i)
        long_path += folder;
    long_path += u"\\Фильм.ts";
    EXPECT_EQ(win_path_extended(long_path), u"\\\\?\\" + long_path);
    EXPECT_EQ(win_path_extended(u"\\\\nas\\share" + long_path.substr(2)),
              u"\\\\?\\UNC\\nas\\share" + long_path.substr(2));
    EXPECT_EQ(win_path_extended(u"\\\\?\\" + long_path), u"\\\\?\\" + long_path) << "extended already";

    const std::u16string below = u"C:\\" + std::u16string(WIN_PATH_LONG - 4, u'x');
    EXPECT_EQ(win_path_extended(below), below);
    EXPECT_EQ(win_path_extended(below + u"y"), u"\\\\?\\" + below + u"y");
    EXPECT_EQ(win_path_extended(u"\\\\.\\PhysicalDrive1"), u"\\\\.\\PhysicalDrive1");
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
