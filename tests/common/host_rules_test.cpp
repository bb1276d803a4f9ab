// The host rules that are plain functions, tested here for every host: drive numbers and
// the paths they name, a drive's size and alignment from what Windows answers about it,
// Windows error codes as C library errors, how each host splits a -p pattern,
// and the conversions between UTF-8 and Windows' UTF-16 and its long path form.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dir_search.h"
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

} // namespace
