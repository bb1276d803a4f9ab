#include "diskwarden/backup.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/host_file.h"
#include "records/listing.h"

namespace {

// The header file at `path` when it is a regular file of exactly `record_length` bytes;
// false for anything else (absent, a link to something else, another size).
bool read_header(const std::string &path, unsigned record_length, std::vector<uint8_t> *bytes)
{
    HostStatus status;
    if (!host_status_at(HOST_CWD, path.c_str(), &status) || !status.regular ||
        status.size != record_length)
        return false;
    int fd = host_open_read_at(HOST_CWD, path.c_str());
    if (fd < 0)
        return false;
    bytes->assign(record_length, 0);
    size_t got = 0;
    bool ok = host_is_regular(fd) && host_read_fully(fd, bytes->data(), record_length, &got) &&
              got == record_length;
    host_close(fd);
    return ok;
}

enum class Holder { Nobody, This, Another };

// Whose header STEM.hre is.
Holder header_holder(const std::string &stem, const RecordEntry *entry, unsigned record_length)
{
    std::string path = stem + ".hre";
    if (!host_exists(path.c_str()))
        return Holder::Nobody;
    std::vector<uint8_t> bytes;
    if (read_header(path, record_length, &bytes) && backup_same_recording(bytes.data(), entry->bytes))
        return Holder::This;
    return Holder::Another;
}

bool stem_free(const std::string &stem)
{
    for (const char *extension : {".ts", ".elu", ".epg", ".hre"}) {
        if (host_exists((stem + extension).c_str()))
            return false;
    }
    return true;
}

void say_skipping(const char *host_path)
{
    fprintf(stderr, "Skipping file \"%s\", it already exists\n", host_path);
}

} // namespace

bool backup_same_recording(const uint8_t *a, const uint8_t *b)
{
    auto same = [&](unsigned offset, unsigned length) { return memcmp(a + offset, b + offset, length) == 0; };
    return same(ENTRY_FILE_NUMBER, 2) && same(ENTRY_START_TIME, 4) && same(ENTRY_CHANNEL, ENTRY_CHANNEL_LENGTH);
}

BackupPiece backup_decide_file(const char *host_path, uint64_t size)
{
    if (!host_exists(host_path))
        return BackupPiece::Copy;
    // A link is judged by what it leads to: skipping writes nothing through it, and a
    // dangling one is no copy.
    HostStatus status;
    bool found = host_status_at(HOST_CWD, host_path, &status);
    if (found && status.regular && status.size == size) {
        say_skipping(host_path);
        return BackupPiece::Skip;
    }
    if (found && status.regular)
        fprintf(stderr, "Keeping file \"%s\", it already exists with %llu bytes, not the %llu "
                        "of the recording: move it away and run -b again\n",
                host_path, static_cast<unsigned long long>(status.size),
                static_cast<unsigned long long>(size));
    else
        fprintf(stderr, "Keeping \"%s\", it already exists and is not a regular file: move it "
                        "away and run -b again\n",
                host_path);
    return BackupPiece::Keep;
}

BackupPiece backup_decide_header(const char *host_path, const RecordEntry *entry,
                                 unsigned record_length, bool stream_copied)
{
    if (!host_exists(host_path))
        return BackupPiece::Copy;
    std::vector<uint8_t> bytes;
    bool readable = read_header(host_path, record_length, &bytes);
    // The lead bytes carry the list's signature in whichever entry is first: they say
    // where the entry stood, not what the recording is.
    if (readable && memcmp(bytes.data() + ENTRY_LEAD_LENGTH, entry->bytes + ENTRY_LEAD_LENGTH,
                           record_length - ENTRY_LEAD_LENGTH) == 0) {
        say_skipping(host_path);
        return BackupPiece::Skip;
    }
    if (readable && stream_copied && backup_same_recording(bytes.data(), entry->bytes))
        return BackupPiece::Copy;
    fprintf(stderr, "Keeping file \"%s\", it is not the header of this recording as the disk "
                    "has it: move it away and run -b again\n",
            host_path);
    return BackupPiece::Keep;
}

std::string backup_choose_stem(const std::string &listed, const RecordEntry *entry,
                               unsigned record_length)
{
    std::string plain = reclist_plain_stem(entry);
    std::string numbered = reclist_numbered_stem(entry);
    if (listed != plain && listed != numbered)
        return listed; // a rare counted suffix: no other form to look for
    const std::string &other = listed == plain ? numbered : plain;
    Holder holder = header_holder(listed, entry, record_length);
    if (holder == Holder::This)
        return listed;
    if (header_holder(other, entry, record_length) == Holder::This)
        return other;
    if (holder == Holder::Another && stem_free(other))
        return other;
    return listed;
}
