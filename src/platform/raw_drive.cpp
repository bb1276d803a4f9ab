#include "platform/raw_drive.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
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
    if (!is_separator(path[0]) || !is_separator(path[1]) || (path[2] != '.' && path[2] != '?') ||
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

bool raw_read(const RawReadTarget &target, RawTransfer transfer, void *context, uint64_t position,
              void *data, size_t length)
{
    auto *bytes = static_cast<uint8_t *>(data);
    size_t wanted = length;
    if (target.drive && target.size != UINT64_MAX)
        wanted = position >= target.size
                     ? 0
                     : static_cast<size_t>(std::min<uint64_t>(length, target.size - position));
    size_t done = 0;
    while (done < wanted) {
        const auto piece = static_cast<uint32_t>(std::min<size_t>(wanted - done, target.piece));
        uint32_t got = 0;
        if (!transfer(context, position + done, bytes + done, piece, &got))
            return false;
        done += got;
        if (got < piece) {
            if (target.drive) {
                errno = EIO;
                return false;
            }
            break; // the end of the image
        }
    }
    memset(bytes + done, 0, length - done);
    return true;
}

std::vector<HostVolume> raw_drive_volumes_on(unsigned number, const std::vector<HostVolume> &volumes)
{
    std::vector<HostVolume> on_drive;
    for (const HostVolume &volume : volumes) {
        if (std::find(volume.drives.begin(), volume.drives.end(), number) != volume.drives.end())
            on_drive.push_back(volume);
    }
    return on_drive;
}

namespace {

// "E:" for the root of drive E, any other place as it is, without its final '\'.
std::string shown_place(std::string path)
{
    if (path.size() > 1 && path.back() == '\\')
        path.pop_back();
    return path;
}

std::string shown_volume(const HostVolume &volume)
{
    std::string text;
    for (const std::string &path : volume.paths)
        text += (text.empty() ? "" : " and ") + shown_place(path);
    if (text.empty())
        text = volume.name;
    if (!volume.label.empty())
        text += " \"" + volume.label + "\"";
    return text;
}

} // namespace

std::string raw_drive_volume_refusal(const char *path, const std::vector<HostVolume> &volumes)
{
    if (volumes.empty())
        return "";
    std::string names;
    for (const HostVolume &volume : volumes)
        names += (names.empty() ? "" : ", ") + shown_volume(volume);
    const char *what =
        volumes.size() == 1 ? " holds a volume that Windows uses (" : " holds volumes that Windows uses (";
    return std::string(path) + what + names +
           "): a recorder's disk holds none, so this is another disk (is the drive number right?); "
           "refusing to use it\n";
}
