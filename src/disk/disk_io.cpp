#include "disk/disk_io.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

// A plain load/byte-swap/store loop, which the compiler turns into byte shuffles of
// whole vectors when the processor has them (SSSE3, AVX2); the right copy is chosen
// at load time where the toolchain can (ELF targets). Recordings pass through here byte
// for byte, so this must run at memory speed.
#if defined(__x86_64__) && !defined(__clang__) && defined(__ELF__)
__attribute__((target_clones("avx2", "ssse3", "default"), optimize("O3")))
#elif defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("O3")))
#endif
void swap_words(void *words, size_t count)
{
    auto *bytes = static_cast<unsigned char *>(words);
    for (size_t i = 0; i < count; ++i) {
        uint32_t word;
        memcpy(&word, bytes + 4 * i, 4);
        word = __builtin_bswap32(word);
        memcpy(bytes + 4 * i, &word, 4);
    }
}

namespace {

bool environment_says_direct()
{
    const char *value = getenv("DISKWARDEN_DIRECT");
    return value != nullptr && strcmp(value, "1") == 0;
}

// The fault plan of the robustness tests, when the environment names this disk:
//   DW_FAULT_IMAGE  the image whose transfers are counted (others pass untouched)
//   DW_FAULT_AT     k: the k-th transfer of the kind faults (0 or unset: never)
//   DW_FAULT_KIND   "write" (default) or "read"
//   DW_FAULT_ACTION "crash" (default: the process ends with status 99) or "fail" (EIO)
//   DW_FAULT_TORN   n > 0: a crashing write stores its first n sectors first
//   DW_FAULT_COUNT  a file that receives the number of transfers counted at close, or the
//                   position and length of the one that crashed
bool fault_plan_for(const DiskStream *stream, FaultPlan *plan)
{
    const char *image = getenv("DW_FAULT_IMAGE");
    DiskIdentity wanted, opened;
    if (image == nullptr || !platform_path_identity(image, &wanted) ||
        stream->ops->identity == nullptr || !stream->ops->identity(stream, &opened) ||
        wanted.device != opened.device || wanted.inode != opened.inode)
        return false;
    const char *at = getenv("DW_FAULT_AT");
    const char *kind = getenv("DW_FAULT_KIND");
    const char *action = getenv("DW_FAULT_ACTION");
    const char *torn = getenv("DW_FAULT_TORN");
    plan->at = at != nullptr ? strtoul(at, nullptr, 10) : 0;
    plan->kind = kind != nullptr && strcmp(kind, "read") == 0 ? FaultKind::Read : FaultKind::Write;
    plan->action = action != nullptr && strcmp(action, "fail") == 0 ? FaultAction::Fail
                                                                     : FaultAction::Crash;
    plan->torn_sectors = torn != nullptr ? static_cast<unsigned>(strtoul(torn, nullptr, 10)) : 0;
    plan->count_path = getenv("DW_FAULT_COUNT");
    return true;
}

} // namespace

bool disk_stream_open(DiskStream *stream, const char *path, bool writable)
{
    DiskOpenFlags flags;
    flags.writable = writable;
    flags.direct = environment_says_direct();
    if (!platform_disk_open(stream, path, flags))
        return false;
    disk_stream_align(stream);
    FaultPlan plan;
    if (fault_plan_for(stream, &plan))
        disk_stream_fault(stream, plan);
    return true;
}

bool disk_read_at(DiskStream *stream, uint64_t position, void *data, size_t length)
{
    return stream->ops->read_at(stream, position, data, length);
}

bool disk_write_at(DiskStream *stream, uint64_t position, const void *data, size_t length)
{
    return stream->ops->write_at(stream, position, data, length);
}

uint64_t disk_stream_size(const DiskStream *stream)
{
    return stream->ops->size(stream);
}

bool disk_sync(DiskStream *stream)
{
    return stream->ops->sync(stream);
}

void disk_stream_close(DiskStream *stream)
{
    if (stream->ops != nullptr)
        stream->ops->close(stream);
    *stream = DiskStream{};
}

bool disk_stream_lock(DiskStream *stream, DiskLock mode)
{
    return stream->ops->lock == nullptr || stream->ops->lock(stream, mode);
}

bool disk_stream_same(const DiskStream *a, const DiskStream *b)
{
    DiskIdentity first, second;
    if (a->ops->identity == nullptr || b->ops->identity == nullptr)
        return a->state == b->state;
    if (!a->ops->identity(a, &first) || !b->ops->identity(b, &second))
        return false;
    return first.block_device == second.block_device && first.device == second.device &&
           first.inode == second.inode;
}
