#include "platform/win_path.h"

namespace {

bool starts_with(std::u16string_view text, std::u16string_view start)
{
    return text.substr(0, start.size()) == start;
}

} // namespace

std::u16string win_path_extended(std::u16string_view full)
{
    if (full.size() < WIN_PATH_LONG || starts_with(full, u"\\\\?\\") || starts_with(full, u"\\\\.\\"))
        return std::u16string(full);
    if (starts_with(full, u"\\\\"))
        return u"\\\\?\\UNC\\" + std::u16string(full.substr(2)); // \\server\share\...
    const bool drive = full.size() >= 3 && full[1] == u':' && full[2] == u'\\' &&
                       ((full[0] >= u'A' && full[0] <= u'Z') || (full[0] >= u'a' && full[0] <= u'z'));
    if (drive)
        return u"\\\\?\\" + std::u16string(full);
    return std::u16string(full);
}
