#include "records/header_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/error.h"
#include "common/fatal.h"
#include "platform/host_file.h"

bool hre_write(const RecordList *list, const RecordEntry *entry, const char *path, Error *error)
{
    HostOutput out;
    if (!host_output_begin(&out, path))
        return error_set_errno(error, ErrorKind::Write, errno, path);
    warn("Copying hre file...\n");
    if (!host_output_write(&out, entry->bytes, list->record_length)) {
        int code = errno;
        host_output_abandon(&out);
        return error_set_errno(error, ErrorKind::Write, code, path);
    }
    if (!host_output_commit(&out))
        return error_set_errno(error, ErrorKind::Write, errno, path);
    return true;
}

RecordEntry *hre_read_entry(RecordList *list, const char *path, Error *error)
{
    int fd = host_open_read_at(HOST_CWD, path);
    if (fd < 0) {
        error_set_errno(error, ErrorKind::Open, errno, path);
        return nullptr;
    }
    RecordEntry read;
    size_t got = 0;
    bool ok = host_read_fully(fd, read.bytes, list->record_length, &got);
    int code = ok ? EIO : errno;
    host_close(fd);
    if (!ok || got != list->record_length) {
        error_set_errno(error, ErrorKind::Read, code, path);
        return nullptr;
    }
    RecordEntry *entry = reclist_append(list);
    memcpy(entry->bytes, read.bytes, sizeof read.bytes);
    entry->state = 0;
    return entry;
}
