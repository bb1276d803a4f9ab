#include "platform/host_temporaries.h"

#include <atomic>
#include <cstring>

namespace {

constexpr char TAG_HEAD[] = ".diskwarden-";
constexpr char TAG_TAIL[] = ".part";

// Fixed storage, never freed, so that a signal handler (POSIX) or the console handler's
// thread (Windows) reads only memory that stays valid. A slot's flag is taken with an
// atomic exchange: whoever gets 1 back owns the path.
char temporary_path[HOST_TEMPORARY_SLOTS][HOST_TEMPORARY_PATH_MAX];
std::atomic<int> temporary_used[HOST_TEMPORARY_SLOTS];

static_assert(std::atomic<int>::is_always_lock_free, "a handler may touch the flags");

// Reads a decimal number without a leading zero from `text` up to `end`; 0 when there is
// none or it is too large.
int64_t plain_number(const char *text, const char *end)
{
    if (text == end || *text == '0' || end - text > 18)
        return 0;
    int64_t value = 0;
    for (const char *p = text; p < end; ++p) {
        if (*p < '0' || *p > '9')
            return 0;
        value = value * 10 + (*p - '0');
    }
    return value;
}

} // namespace

std::string host_temporary_tag(int64_t pid, int attempt)
{
    return TAG_HEAD + std::to_string(pid) + (attempt > 0 ? "-" + std::to_string(attempt) : "") +
           TAG_TAIL;
}

int64_t host_temporary_owner(const char *name)
{
    size_t length = strlen(name);
    size_t tail = sizeof TAG_TAIL - 1;
    if (length <= tail || strcmp(name + length - tail, TAG_TAIL) != 0)
        return 0;
    const char *end = name + length - tail;
    // The last TAG_HEAD before the tail: a final name may hold the text itself.
    const char *head = nullptr;
    for (const char *p = strstr(name, TAG_HEAD); p != nullptr && p < end; p = strstr(p + 1, TAG_HEAD))
        head = p;
    if (head == nullptr)
        return 0;
    const char *digits = head + sizeof TAG_HEAD - 1;
    const char *dash = static_cast<const char *>(memchr(digits, '-', static_cast<size_t>(end - digits)));
    if (dash != nullptr && plain_number(dash + 1, end) == 0)
        return 0;
    return plain_number(digits, dash != nullptr ? dash : end);
}

int host_temporary_claim(const std::string &path)
{
    if (path.size() >= HOST_TEMPORARY_PATH_MAX)
        return -1;
    for (int i = 0; i < HOST_TEMPORARY_SLOTS; ++i) {
        if (temporary_used[i].load() != 0)
            continue;
        memcpy(temporary_path[i], path.c_str(), path.size() + 1);
        temporary_used[i].store(1);
        return i;
    }
    return -1;
}

void host_temporary_release(int slot)
{
    if (slot >= 0 && slot < HOST_TEMPORARY_SLOTS)
        temporary_used[slot].store(0);
}

void host_temporaries_remove(void (*remove)(const char *path))
{
    for (int i = 0; i < HOST_TEMPORARY_SLOTS; ++i) {
        if (temporary_used[i].exchange(0) != 0)
            remove(temporary_path[i]);
    }
}
