#include "platform/raw_drive.h"

#include <cctype>
#include <cstring>

namespace {

constexpr uint32_t SMALLEST_SECTOR = 512;
constexpr uint32_t LARGEST_SECTOR = 65536;
constexpr unsigned DRIVE_LIMIT = 1000;

bool is_separator(char c)
{
    return c == '\\' || c == '/';
}

} // namespace

bool raw_drive_number(const char *argument, unsigned *number)
{
    if (argument[0] < '0' || argument[0] > '9' || argument[1] != ':' || argument[2] != '\0')
        return false;
    *number = static_cast<unsigned>(argument[0] - '0');
    return true;
}

std::string raw_drive_linux_path(unsigned number)
{
    return std::string("/dev/sd") + static_cast<char>('a' + number % 26);
}

std::string raw_drive_windows_path(unsigned number)
{
    return "\\\\.\\PhysicalDrive" + std::to_string(number);
}

bool raw_drive_windows_number(const char *path, unsigned *number)
{
    static const char WORD[] = "PhysicalDrive";
    if (!is_separator(path[0]) || !is_separator(path[1]) || path[2] != '.' ||
        !is_separator(path[3]))
        return false;
    const char *rest = path + 4;
    for (size_t i = 0; i + 1 < sizeof WORD; ++i, ++rest) {
        if (tolower(static_cast<unsigned char>(*rest)) !=
            tolower(static_cast<unsigned char>(WORD[i])))
            return false;
    }
    if (!isdigit(static_cast<unsigned char>(rest[0])) || (rest[0] == '0' && rest[1] != '\0'))
        return false;
    unsigned value = 0;
    for (; *rest != '\0'; ++rest) {
        if (!isdigit(static_cast<unsigned char>(*rest)))
            return false;
        value = value * 10 + static_cast<unsigned>(*rest - '0');
        if (value >= DRIVE_LIMIT)
            return false;
    }
    *number = value;
    return true;
}

uint64_t raw_drive_size(const DriveReport &report)
{
    if (report.length_known && report.length >= 0)
        return static_cast<uint64_t>(report.length);
    if (report.geometry_known && report.geometry_size >= 0)
        return static_cast<uint64_t>(report.geometry_size);
    return UINT64_MAX;
}

uint32_t raw_drive_alignment(const DriveReport &report)
{
    uint32_t sector = report.geometry_known ? report.bytes_per_sector : 0;
    bool power_of_two = sector != 0 && (sector & (sector - 1)) == 0;
    if (!power_of_two || sector < SMALLEST_SECTOR || sector > LARGEST_SECTOR)
        return SMALLEST_SECTOR;
    return sector;
}
