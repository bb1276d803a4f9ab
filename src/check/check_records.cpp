// The record list and the recording files: the list's form, its entries against the
// files of partitions 0 and 1, recordings no entry names, and what an interrupted
// command left. Files are read through their chains as stored (FileExtent::Stored), not
// bounded by the sectors their entries say they hold.
#include <algorithm>
#include <cstring>
#include <set>

#include "check/check_scan.h"
#include "common/error.h"
#include "common/record_entry.h"
#include "disk/file_map.h"
#include "records/record_list.h"
#include "records/text.h"

namespace {

constexpr uint32_t FORMAT_DETECT = 0xE000000F;
constexpr uint32_t FORMAT_304_A = 0xE000000D;
constexpr uint32_t FORMAT_304_B = 0xE0000030;
constexpr unsigned TRAILER = 5;
// No list has more entries than file numbers (65535 of 316 bytes).
constexpr uint64_t LIST_LIMIT = 65536ull * RECORD_LENGTH_LONG + TRAILER;
constexpr unsigned FIRST_RECORDING_NUMBER = 2; // 0 and 1 are the time-shift buffers

Finding finding(Problem problem, int scope)
{
    Finding f;
    f.problem = problem;
    f.scope = scope;
    return f;
}

unsigned be16(const uint8_t *p) { return unsigned{p[0]} << 8 | p[1]; }

// The disk ends inside the partition's directory (a truncated image): the entries past
// the end were never read.
bool directory_cut(const HumaxDisk *disk, int index)
{
    const PartitionInfo *p = &disk->partitions[index];
    uint64_t disk_bytes = disk->volume.disk_bytes;
    return disk_bytes != UINT64_MAX && (uint64_t{p->dir_sector} + p->dir_sectors) * SECTOR_SIZE > disk_bytes;
}

// Entries whose byte 11 is 1, in chunks of `chunk` bytes after the first five bytes.
unsigned marked_chunks(const std::vector<uint8_t> &list, unsigned chunk)
{
    unsigned count = 0;
    for (uint64_t at = TRAILER; at + chunk <= list.size(); at += chunk)
        count += list[at + 6] == 1 ? 1 : 0;
    return count;
}

// The record length as opening decides it, without asking anything: 0 when undecidable.
unsigned detect_length(uint64_t size, const std::vector<uint8_t> &list)
{
    uint64_t data = size - TRAILER;
    bool fits_short = data % RECORD_LENGTH_SHORT == 0;
    bool fits_long = data % RECORD_LENGTH_LONG == 0;
    if (fits_short != fits_long)
        return fits_short ? RECORD_LENGTH_SHORT : RECORD_LENGTH_LONG;
    if (!fits_short || list.size() < TRAILER)
        return 0;
    unsigned long_count = marked_chunks(list, RECORD_LENGTH_LONG);
    unsigned short_count = marked_chunks(list, RECORD_LENGTH_SHORT);
    if (long_count == short_count)
        return 0;
    return long_count > short_count ? RECORD_LENGTH_LONG : RECORD_LENGTH_SHORT;
}

// What is wrong with the form of a list file's contents, or an empty text.
Problem list_form(uint64_t size, const std::vector<uint8_t> &list, unsigned length)
{
    if (size < length + TRAILER || (size - TRAILER) % length != 0 || list.size() != size)
        return Problem::ListSize;
    if (memcmp(list.data(), LIST_SIGNATURE, ENTRY_LEAD_LENGTH) != 0)
        return Problem::ListSignature;
    if (std::any_of(list.end() - TRAILER, list.end(), [](uint8_t b) { return b != 0; }))
        return Problem::ListTrailer;
    return Problem::Count;
}

std::string shown_title(const uint8_t *entry)
{
    char title[ENTRY_TITLE_LENGTH + 1] = {};
    memcpy(title, entry + ENTRY_TITLE, ENTRY_TITLE_LENGTH);
    return check_inert(text_skip_charset(title));
}

bool read_list_file(HumaxDisk *disk, const FileState &file, std::vector<uint8_t> *list, CheckResult *result)
{
    if (!check_read_file(disk, PARTITION_EPG, file, LIST_LIMIT, list)) {
        result->read_errors = true;
        return false;
    }
    return true;
}

// What is wrong with the form of the backup list: Problem::Count when it is sound,
// Problem::ListMissing when there is none (or no record length to judge it by).
Problem backup_form(HumaxDisk *disk, const PartitionScan &epg, CheckResult *result, uint64_t *size)
{
    const FileState *backup = check_find_file(epg, RECORD_BACKUP_NAME);
    unsigned length = result->records.record_length;
    if (backup == nullptr || length == 0)
        return Problem::ListMissing;
    std::vector<uint8_t> list;
    *size = backup->size;
    if (!read_list_file(disk, *backup, &list, result))
        return Problem::ListUnreadable;
    return list_form(backup->size, list, length);
}

void check_backup(Problem form, uint64_t size, unsigned length, CheckResult *result)
{
    if (form == Problem::Count || form == Problem::ListMissing)
        return;
    Finding f = finding(Problem::BackupDamaged, SCOPE_RECORDS);
    if (form == Problem::ListUnreadable)
        f.text = "cannot be read whole from this drive";
    else if (form == Problem::ListSize)
        f.text = "has " + std::to_string(size) + " bytes, not whole " + std::to_string(length) +
                 "-byte entries and the 5-byte end";
    else if (form == Problem::ListSignature)
        f.text = "lacks the signature 01 00 00 01 01";
    else
        f.text = "does not end in five zero bytes";
    result->findings.push_back(f);
}

// A list cut away by an interrupted save, with its previous version still there: the
// backup becomes the list again (what -r -s would do).
void check_list_missing(HumaxDisk *disk, const PartitionScan &epg, bool detect, CheckResult *result)
{
    const FileState *backup = check_find_file(epg, RECORD_BACKUP_NAME);
    if (backup == nullptr)
        return;
    std::vector<uint8_t> list;
    if (!read_list_file(disk, *backup, &list, result))
        return;
    unsigned length = detect ? detect_length(backup->size, list) : RECORD_LENGTH_SHORT;
    if (length == 0 || list_form(backup->size, list, length) != Problem::Count)
        return;
    Finding f = finding(Problem::ListMissing, PARTITION_EPG);
    f.file = {PARTITION_EPG, RECORD_BACKUP_NAME};
    f.n[0] = (backup->size - TRAILER) / length;
    result->findings.push_back(f);
    // Its recordings' files are named again once it is the list.
    for (uint64_t at = 0; at + length <= backup->size - TRAILER; at += length)
        result->records.named_numbers.push_back(be16(list.data() + at + ENTRY_FILE_NUMBER));
}

// The entries as opening loads them, numbered as the listing numbers them. `av_cut`: the
// disk ends inside the AV directory, so a stream not found may lie in what is missing.
void check_entries(const std::vector<uint8_t> &list, const PartitionScan &av, bool av_cut, CheckResult *result)
{
    RecordScan &records = result->records;
    unsigned length = records.record_length;
    // Opening reads whole entries until a piece comes short, which drops the trailer.
    size_t count = list.size() / length;
    bool numbering = true;
    for (size_t k = 0; k < count; ++k) {
        const uint8_t *entry = list.data() + k * length;
        unsigned number = be16(entry + ENTRY_FILE_NUMBER);
        unsigned check = be16(entry + ENTRY_FILE_NUMBER_CHECK);
        records.named_numbers.push_back(number);
        if (numbering && (number == 0 || number != check)) {
            numbering = false;
            Finding f = finding(Problem::EntriesHidden, SCOPE_RECORDS);
            f.n[0] = k + 1;
            f.n[1] = number;
            f.n[2] = check;
            f.n[3] = count - k;
            result->findings.push_back(f);
        }
        if (!numbering)
            continue;
        ListedRecording r;
        r.position = static_cast<unsigned>(k + 1);
        r.file_number = number;
        r.title = shown_title(entry);
        auto [it, fresh] = records.position_of.emplace(number, r.position);
        if (!fresh) {
            Finding f = finding(Problem::NumberTwice, SCOPE_RECORDS);
            f.n[0] = it->second;
            f.n[1] = r.position;
            f.n[2] = number;
            result->findings.push_back(f);
        }
        if (check_find_file(av, std::to_string(number) + ".av") == nullptr) {
            Finding f = finding(av_cut ? Problem::StreamPastEnd : Problem::StreamMissing, SCOPE_RECORDS);
            f.n[0] = r.position;
            f.n[1] = number;
            f.text = r.title;
            result->findings.push_back(f);
        }
        records.listed.push_back(r);
    }
}

// The N.tmp files of an interrupted -E (it writes no other name).
void check_leftover_tmp(const PartitionScan &epg, CheckResult *result)
{
    for (const FileState &f : epg.files) {
        unsigned n;
        if (f.duplicate || !check_numbered_name(f.name, ".tmp", &n))
            continue;
        Finding x = finding(Problem::LeftoverTmp, PARTITION_EPG);
        x.file = {PARTITION_EPG, f.name};
        result->findings.push_back(x);
    }
}

// Recording files that no entry names: whole recordings (a stream, with or without its
// companions) and companions without a stream.
void check_files_without_entry(const PartitionScan &av, const PartitionScan &epg, bool list_read, CheckResult *result)
{
    check_leftover_tmp(epg, result);
    // Without a list that could be read, no file can be said to have no entry.
    if (!list_read)
        return;
    std::set<unsigned> named(result->records.named_numbers.begin(), result->records.named_numbers.end());
    auto unnamed = [&](unsigned n) { return n >= FIRST_RECORDING_NUMBER && !named.count(n); };
    for (const FileState &f : av.files) {
        unsigned n;
        if (f.duplicate || !check_numbered_name(f.name, ".av", &n) || !unnamed(n) ||
            (dirent_get(f.entry, DIRENT_ATTRIBUTES) & ATTRIBUTE_BUFFER) != 0)
            continue;
        std::string text = check_inert(f.name);
        std::string stem = std::to_string(n);
        bool elu = check_find_file(av, stem + ".elu") != nullptr;
        bool epg_file = check_find_file(epg, stem + ".epg") != nullptr;
        if (elu && epg_file)
            text += ", " + stem + ".elu and " + stem + ".epg";
        else if (elu || epg_file)
            text += " and " + stem + (elu ? ".elu" : ".epg");
        else
            text += " (a stream alone)";
        Finding x = finding(Problem::Unlisted, SCOPE_RECORDS);
        x.text = text;
        result->findings.push_back(x);
    }
    auto stray = [&](const PartitionScan &scan, const char *suffix) {
        for (const FileState &f : scan.files) {
            unsigned n;
            if (f.duplicate || !check_numbered_name(f.name, suffix, &n) || !unnamed(n) ||
                check_find_file(av, std::to_string(n) + ".av") != nullptr)
                continue;
            Finding x = finding(Problem::StrayCompanion, scan.index);
            x.file = {scan.index, f.name};
            x.n[0] = n;
            result->findings.push_back(x);
        }
    };
    stray(av, ".elu");
    stray(epg, ".epg");
}

} // namespace

bool check_read_file(HumaxDisk *disk, int index, const FileState &file, uint64_t limit,
                     std::vector<uint8_t> *out)
{
    out->clear();
    if (!file.placed)
        return true;
    FileMapOptions options;
    options.extent = FileExtent::Stored;
    FileMap map;
    dfile_map(disk, index, file.entry, options, &map);
    uint64_t length = map.cluster_length;
    uint64_t wanted = std::min(map.size, limit);
    out->reserve(wanted);
    // A cluster at a time: what was read before a failed read stays.
    for (uint64_t offset = 0; offset < wanted; offset += length) {
        size_t piece = static_cast<size_t>(std::min(length, wanted - offset)), got = 0;
        out->resize(offset + piece);
        Error error;
        if (!dfile_map_read(&map, offset, out->data() + offset, piece, &got, &error)) {
            out->resize(offset);
            return false;
        }
    }
    return true;
}

void check_record_list(HumaxDisk *disk, CheckResult *result)
{
    if (disk->partition_count <= PARTITION_EPG)
        return;
    const PartitionScan &av = result->partitions[PARTITION_AV];
    const PartitionScan &epg = result->partitions[PARTITION_EPG];
    if (!av.scanned || !epg.scanned)
        return;
    RecordScan &records = result->records;
    records.checked = true;
    const FileState *list_file = check_find_file(epg, RECORD_LIST_NAME);
    std::vector<uint8_t> list;
    // A list the drive fails to give whole is a read failure, not a list of a wrong size:
    // its form and its entries past the failure are not judged.
    bool unreadable = list_file != nullptr && !read_list_file(disk, *list_file, &list, result);
    if (unreadable) {
        Finding f = finding(Problem::ListUnreadable, SCOPE_RECORDS);
        f.n[0] = list.size();
        f.n[1] = list_file->size;
        result->findings.push_back(f);
    }
    uint32_t format = disk->partitions[PARTITION_EPG].format_code;
    if (format == FORMAT_304_A || format == FORMAT_304_B) {
        records.record_length = RECORD_LENGTH_SHORT;
    } else if (format != FORMAT_DETECT) {
        Finding f = finding(Problem::FormatUnknown, SCOPE_RECORDS);
        f.n[0] = format;
        result->findings.push_back(f);
    } else if (list_file != nullptr) {
        records.record_length = detect_length(list_file->size, list);
        if (records.record_length == 0) {
            Finding f = finding(Problem::LengthUndecided, SCOPE_RECORDS);
            f.n[0] = list_file->size;
            result->findings.push_back(f);
        }
    }
    bool known = format == FORMAT_DETECT || format == FORMAT_304_A || format == FORMAT_304_B;
    if (list_file == nullptr && known)
        check_list_missing(disk, epg, format == FORMAT_DETECT, result);
    uint64_t backup_size = 0;
    Problem backup = backup_form(disk, epg, result, &backup_size);
    if (records.record_length != 0 && list_file != nullptr) {
        Problem form = unreadable ? Problem::Count : list_form(list_file->size, list, records.record_length);
        if (form != Problem::Count) {
            Finding f = finding(form, SCOPE_RECORDS);
            f.n[0] = list_file->size;
            f.n[1] = records.record_length;
            // Without a sound backup there is nothing to swap in.
            if (backup != Problem::Count)
                f.advice = "read the recordings with recovery mode (-r)";
            result->findings.push_back(f);
        }
        check_entries(list, av, directory_cut(disk, PARTITION_AV), result);
    }
    check_backup(backup, backup_size, records.record_length, result);
    bool list_read = list_file == nullptr || (records.record_length != 0 && !unreadable);
    check_files_without_entry(av, epg, list_read, result);
}

FileDescriber check_describer(const CheckResult &result)
{
    return [&result](const FileRef &ref) {
        std::string text = "\"" + check_inert(ref.name) + "\"";
        const char *suffix = ref.partition == PARTITION_AV    ? nullptr
                             : ref.partition == PARTITION_EPG ? ".epg"
                                                              : "";
        unsigned n = 0;
        bool numbered = suffix == nullptr
                            ? check_numbered_name(ref.name, ".av", &n) || check_numbered_name(ref.name, ".elu", &n)
                            : *suffix != '\0' && check_numbered_name(ref.name, suffix, &n);
        if (!numbered)
            return text;
        auto it = result.records.position_of.find(n);
        if (it == result.records.position_of.end())
            return text;
        const ListedRecording &r = result.records.listed[it->second - 1];
        text += " (recording " + std::to_string(r.position);
        if (!r.title.empty())
            text += ", \"" + r.title + "\"";
        return text + ")";
    };
}
