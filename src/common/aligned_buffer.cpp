#include "common/aligned_buffer.h"

#include <cerrno>
#include <new>

#include "common/fatal.h"

void aligned_buffer_make(AlignedBuffer *buffer, size_t size, size_t alignment)
{
    size_t rounded = (size + alignment - 1) / alignment * alignment;
    void *memory = ::operator new[](rounded > 0 ? rounded : alignment, std::align_val_t{alignment},
                                    std::nothrow);
    if (memory == nullptr) {
        errno = ENOMEM;
        fatal_errno("malloc");
    }
    buffer->data = static_cast<uint8_t *>(memory);
    buffer->size = rounded;
    buffer->alignment = alignment;
}

void aligned_buffer_free(AlignedBuffer *buffer)
{
    if (buffer->data != nullptr)
        ::operator delete[](buffer->data, std::align_val_t{buffer->alignment});
    *buffer = AlignedBuffer{};
}
