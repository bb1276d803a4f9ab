#include "diskwarden/recset.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "common/fatal.h"

namespace {

// Recording numbers are small; a range reaching beyond this is a typing error, and
// expanding it would exhaust memory.
constexpr int64_t RANGE_LIMIT = 65535;

const char *skip_blanks(const char *p)
{
    while (*p == ' ')
        ++p;
    return p;
}

// Reads an optional sign and digits; where no digit follows, the number is 0 and nothing
// is consumed. Out-of-range values saturate.
const char *read_number(const char *p, int64_t *number)
{
    char *end = nullptr;
    errno = 0;
    long long value = strtoll(p, &end, 10);
    if (end == p) {
        *number = 0;
        return p;
    }
    if (value > INT32_MAX)
        value = INT32_MAX;
    if (value < INT32_MIN)
        value = INT32_MIN;
    *number = value;
    return end;
}

[[noreturn]] void invalid_range()
{
    fatal("Invalid range\n");
}

void add_item(RecordingSet *set, int64_t start, int64_t end)
{
    if (start == end) {
        recset_add(set, static_cast<int32_t>(start));
        return;
    }
    if (start < 1 || end < 1 || start > RANGE_LIMIT || end > RANGE_LIMIT)
        invalid_range();
    int64_t step = end >= start ? 1 : -1;
    for (int64_t n = start;; n += step) {
        recset_add(set, static_cast<int32_t>(n));
        if (n == end)
            break;
    }
}

} // namespace

void recset_add(RecordingSet *set, int32_t number)
{
    if (set->present.insert(number).second)
        set->values.push_back(number);
}

void recset_free(RecordingSet *set)
{
    set->values.clear();
    set->present.clear();
}

void recset_parse(const char *text, RecordingSet *set)
{
    const char *p = skip_blanks(text);
    if (*p < '1' || *p > '9')
        invalid_range();
    // Check the whole list before adding anything to the caller's set.
    RecordingSet parsed;
    bool pending = false;
    int64_t start = 0;
    for (;;) {
        int64_t number;
        p = skip_blanks(read_number(skip_blanks(p), &number));
        char separator = *p;
        if (separator == '-') {
            pending = true;
            start = number;
        } else if (separator == ',' || separator == '\0') {
            add_item(&parsed, pending ? start : number, number);
            pending = false;
        }
        if (separator == '\0' || *++p == '\0')
            break;
    }
    for (int32_t n : parsed.values)
        recset_add(set, n);
}

int recset_for_each(const std::string &list, HumaxDisk *disk, RecordingAction action)
{
    RecordingSet set;
    recset_parse(list.c_str(), &set);
    for (int32_t n : set.values)
        action(disk, n);
    recset_free(&set);
    return 0;
}

int recset_for_each(const std::string &list, HumaxDisk *source, HumaxDisk *destination,
                    CopyAction action)
{
    RecordingSet set;
    recset_parse(list.c_str(), &set);
    for (int32_t n : set.values)
        action(source, destination, n);
    recset_free(&set);
    return 0;
}
