// Fault injection for the robustness tests: counts the transfers of one kind and makes
// the chosen one fail, or end the process as a crash would (optionally after part of a
// write reached the disk: a torn write). A written-in-order crash model: whatever was
// written before the fault stays written.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/fatal.h"
#include "disk/disk_io.h"

namespace {

constexpr int CRASH_STATUS = 99;

struct FaultDisk {
    DiskStream inner;
    FaultPlan plan;
    std::string count_path;
    std::atomic<unsigned long> counted{0}; // a mounted disk is read by many threads
    std::atomic<unsigned long> read_transfers{0};
    std::vector<unsigned long> sector_reads; // per entry of plan.unreadable
};

// The one injector whose count is reported when the process ends normally (the tests
// fault one image at a time).
FaultDisk *reported = nullptr;

FaultDisk *state_of(const DiskStream *stream)
{
    return static_cast<FaultDisk *>(stream->state);
}

void report(const FaultDisk *disk, const char *text)
{
    if (disk->count_path.empty())
        return;
    if (FILE *out = fopen(disk->count_path.c_str(), "w")) {
        fputs(text, out);
        fclose(out);
    }
}

void report_count()
{
    if (reported == nullptr)
        return;
    std::string text = std::to_string(reported->counted.load()) + "\n";
    if (!reported->plan.unreadable.empty()) {
        // A failing drive's run: its read transfers, and the most reads one sector had.
        unsigned long most = 0;
        for (unsigned long n : reported->sector_reads)
            most = std::max(most, n);
        text = std::to_string(reported->read_transfers.load()) + " " + std::to_string(most) + "\n";
    }
    report(reported, text.c_str());
}

// True when this transfer is the one that faults (after a crash action, never returns).
bool faults(FaultDisk *disk, FaultKind kind, uint64_t position, size_t length)
{
    if (disk->plan.kind != kind)
        return false;
    unsigned long counted = ++disk->counted;
    if (counted != disk->plan.at)
        return false;
    std::string text = std::to_string(counted) + " " + std::to_string(position) + " " +
                       std::to_string(length) + "\n";
    report(disk, text.c_str());
    return true;
}

[[noreturn]] void crash()
{
    _exit(CRASH_STATUS);
}

// A read of [position, position + length) as a failing drive does it: it counts for each
// unreadable sector it reaches and stops, failing, at the first that still fails.
bool reaches_unreadable(FaultDisk *disk, uint64_t position, size_t length)
{
    const std::vector<FaultSector> &bad = disk->plan.unreadable;
    if (bad.empty() || length == 0)
        return false;
    uint64_t unit = disk->plan.sector_size;
    uint64_t first = position / unit, last = (position + length - 1) / unit;
    auto it = std::lower_bound(bad.begin(), bad.end(), first,
                               [](const FaultSector &s, uint64_t at) { return s.sector < at; });
    for (; it != bad.end() && it->sector <= last; ++it) {
        unsigned long &reads = disk->sector_reads[static_cast<size_t>(it - bad.begin())];
        ++reads;
        if (it->failures == 0 || reads <= it->failures)
            return true;
    }
    return false;
}

bool fault_read_at(DiskStream *stream, uint64_t position, void *data, size_t length)
{
    FaultDisk *disk = state_of(stream);
    const FaultPlan &plan = disk->plan;
    if (plan.slow_ms > 0 && position < plan.slow_to && position + length > plan.slow_from)
        usleep(plan.slow_ms * 1000);
    ++disk->read_transfers;
    if (reaches_unreadable(disk, position, length)) {
        errno = EIO;
        return false;
    }
    if (faults(disk, FaultKind::Read, position, length)) {
        if (disk->plan.action == FaultAction::Crash)
            crash();
        errno = EIO;
        return false;
    }
    return disk_read_at(&disk->inner, position, data, length);
}

bool fault_write_at(DiskStream *stream, uint64_t position, const void *data, size_t length)
{
    FaultDisk *disk = state_of(stream);
    if (!faults(disk, FaultKind::Write, position, length))
        return disk_write_at(&disk->inner, position, data, length);
    size_t torn = size_t{disk->plan.torn_sectors} * SECTOR_SIZE;
    if (torn > 0)
        disk_write_at(&disk->inner, position, data, torn < length ? torn : length);
    if (disk->plan.action == FaultAction::Crash)
        crash();
    errno = EIO;
    return false;
}

uint64_t fault_size(const DiskStream *stream)
{
    return disk_stream_size(&state_of(stream)->inner);
}

bool fault_sync(DiskStream *stream)
{
    return disk_sync(&state_of(stream)->inner);
}

void fault_close(DiskStream *stream)
{
    FaultDisk *disk = state_of(stream);
    if (reported == disk) {
        report_count();
        reported = nullptr;
    }
    disk_stream_close(&disk->inner);
    delete disk;
    stream->state = nullptr;
}

bool fault_lock(DiskStream *stream, DiskLock mode)
{
    return disk_stream_lock(&state_of(stream)->inner, mode);
}

bool fault_identity(const DiskStream *stream, DiskIdentity *identity)
{
    const DiskStream *inner = &state_of(stream)->inner;
    return inner->ops->identity != nullptr && inner->ops->identity(inner, identity);
}

const DiskStreamOps FAULT_OPS = {fault_read_at, fault_write_at, fault_size,    fault_sync,
                                 fault_close,   fault_lock,     fault_identity};

} // namespace

void disk_stream_fault(DiskStream *stream, const FaultPlan &plan)
{
    auto *disk = new (std::nothrow) FaultDisk;
    if (disk == nullptr)
        fatal_errno("malloc");
    disk->inner = *stream;
    disk->plan = plan;
    disk->sector_reads.assign(plan.unreadable.size(), 0);
    if (!plan.unreadable.empty())
        stream->sector = std::max(stream->sector, plan.sector_size);
    if (plan.count_path != nullptr)
        disk->count_path = plan.count_path;
    stream->ops = &FAULT_OPS;
    stream->state = disk;
    // Most runs end without closing their disks (an error exit, or the end of the run):
    // the count must still be reported then.
    static bool registered = false;
    if (!registered) {
        registered = true;
        atexit(report_count);
    }
    reported = disk;
}

FaultReads disk_stream_fault_reads(const DiskStream *stream)
{
    FaultReads reads;
    if (stream->ops != &FAULT_OPS)
        return reads;
    const FaultDisk *disk = state_of(stream);
    reads.transfers = disk->read_transfers;
    for (unsigned long n : disk->sector_reads)
        reads.most_of_one_sector = std::max(reads.most_of_one_sector, n);
    return reads;
}

unsigned long disk_stream_fault_sector_reads(const DiskStream *stream, uint64_t sector)
{
    if (stream->ops != &FAULT_OPS)
        return 0;
    const FaultDisk *disk = state_of(stream);
    const std::vector<FaultSector> &bad = disk->plan.unreadable;
    for (size_t i = 0; i < bad.size(); ++i)
        if (bad[i].sector == sector)
            return disk->sector_reads[i];
    return 0;
}
