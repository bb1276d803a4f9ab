#include "disk/disk_io.h"

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

bool disk_stream_open(DiskStream *stream, const char *path, bool writable, bool direct)
{
    DiskOpenFlags flags;
    flags.writable = writable;
    flags.direct = direct;
    if (!platform_disk_open(stream, path, flags))
        return false;
    disk_stream_align(stream);
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

namespace {

bool same_identity(const DiskIdentity &a, const DiskIdentity &b)
{
    return a.block_device == b.block_device && a.device == b.device && a.inode == b.inode;
}

} // namespace

bool disk_stream_same(const DiskStream *a, const DiskStream *b)
{
    DiskIdentity first, second;
    if (a->ops->identity == nullptr || b->ops->identity == nullptr)
        return a->state == b->state;
    if (!a->ops->identity(a, &first) || !b->ops->identity(b, &second))
        return false;
    return same_identity(first, second);
}

bool disk_stream_reaches(const DiskStream *stream, const char *path)
{
    DiskIdentity opened, named;
    return stream->ops->identity != nullptr && stream->ops->identity(stream, &opened) &&
           platform_path_identity(path, &named) && same_identity(opened, named);
}
