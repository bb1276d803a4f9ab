#include "records/header_file.h"

#include <cerrno>
#include <cstdio>

#include "common/fatal.h"
#include "platform/host_file.h"

void hre_write(const RecordList *list, const RecordEntry *entry, const char *path)
{
    HostOutput out;
    if (!host_output_begin(&out, path))
        fatal_errno(path);
    warn("Copying hre file...\n");
    if (!host_output_write(&out, entry->bytes, list->record_length)) {
        host_output_abandon(&out);
        fatal_errno(path);
    }
    if (!host_output_commit(&out))
        fatal_errno(path);
}

RecordEntry *hre_read_entry(RecordList *list, const char *path)
{
    int fd = host_open_read_at(HOST_CWD, path);
    if (fd < 0)
        fatal_errno(path);
    RecordEntry *entry = reclist_append(list);
    size_t got = 0;
    bool ok = host_read_fully(fd, entry->bytes, list->record_length, &got);
    host_close(fd);
    if (!ok || got != list->record_length) {
        if (ok)
            errno = EIO;
        fatal_errno(path);
    }
    entry->state = 0;
    return entry;
}
