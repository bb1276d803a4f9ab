#include "disk/test_hooks.h"

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// "S[:K],S[:K],...": sectors that fail every read, or their first K.
std::vector<FaultSector> parse_unreadable(const char *text)
{
    std::vector<FaultSector> sectors;
    while (*text != '\0') {
        char *end = nullptr;
        FaultSector sector;
        sector.sector = strtoull(text, &end, 10);
        if (end == text)
            break;
        if (*end == ':')
            sector.failures = static_cast<unsigned>(strtoul(end + 1, &end, 10));
        sectors.push_back(sector);
        text = *end == ',' ? end + 1 : end;
    }
    std::sort(sectors.begin(), sectors.end(),
              [](const FaultSector &a, const FaultSector &b) { return a.sector < b.sector; });
    return sectors;
}

} // namespace

DiskTestHooks disk_test_hooks_from_environment()
{
    DiskTestHooks hooks;
    const char *direct = getenv("DISKWARDEN_DIRECT");
    hooks.direct = direct != nullptr && strcmp(direct, "1") == 0;
    const char *image = getenv("DW_FAULT_IMAGE");
    if (image == nullptr)
        return hooks;
    hooks.fault_image = image;
    const char *at = getenv("DW_FAULT_AT");
    const char *kind = getenv("DW_FAULT_KIND");
    const char *action = getenv("DW_FAULT_ACTION");
    const char *torn = getenv("DW_FAULT_TORN");
    FaultPlan &plan = hooks.fault;
    plan.at = at != nullptr ? strtoul(at, nullptr, 10) : 0;
    plan.kind = kind != nullptr && strcmp(kind, "read") == 0 ? FaultKind::Read : FaultKind::Write;
    plan.action = action != nullptr && strcmp(action, "fail") == 0 ? FaultAction::Fail
                                                                     : FaultAction::Crash;
    plan.torn_sectors = torn != nullptr ? static_cast<unsigned>(strtoul(torn, nullptr, 10)) : 0;
    plan.count_path = getenv("DW_FAULT_COUNT");
    if (const char *slow = getenv("DW_FAULT_SLOW")) {
        unsigned long long from = 0, to = 0;
        unsigned ms = 0;
        if (sscanf(slow, "%llu,%llu,%u", &from, &to, &ms) == 3) {
            plan.slow_from = from;
            plan.slow_to = to;
            plan.slow_ms = ms;
        }
    }
    if (const char *size = getenv("DW_FAULT_SECTOR"))
        plan.sector_size = static_cast<uint32_t>(strtoul(size, nullptr, 10));
    if (const char *list = getenv("DW_FAULT_UNREADABLE"))
        plan.unreadable = parse_unreadable(list);
    return hooks;
}

void disk_test_hooks_apply(const DiskTestHooks &hooks, DiskStream *stream)
{
    DiskIdentity wanted, opened;
    if (hooks.fault_image.empty() || !platform_path_identity(hooks.fault_image.c_str(), &wanted) ||
        stream->ops->identity == nullptr || !stream->ops->identity(stream, &opened) ||
        wanted.device != opened.device || wanted.inode != opened.inode)
        return;
    disk_stream_fault(stream, hooks.fault);
}
