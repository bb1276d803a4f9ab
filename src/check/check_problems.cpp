#include "check/check_problems.h"

#include <cstdio>
#include <cstdlib>

#include "common/shown_text.h"
#include "disk/humax_disk.h"

namespace {

constexpr Remedy R = Remedy::Repair;
constexpr Remedy L = Remedy::Leave;
constexpr Remedy N = Remedy::Notice;

const char *const IMAGE_IT = "image the drive with GNU ddrescue (keeping a mapfile) and check the image";
const char *const LAYOUT = "nothing in this partition is repaired: copy the recordings off first "
                           "(-g, or recovery mode -r)";
const char *const LIST_HELP = "swap in the backup list with -r -s if it is sound, or read the "
                              "recordings with recovery mode (-r)";
const char *const KEPT = "kept on the disk while a listed stream is missing";

// In the order of the Problem enumeration (checked at start-up by check_problem_info).
const ProblemInfo PROBLEMS[] = {
    {Problem::TableUnreadable, "table-unreadable", L, false, true, true, "the partition table (sector 0) cannot be read: {text}", IMAGE_IT},
    {Problem::TableUnknown, "table-unknown", L, false, true, false, "sector 0 holds no recorder partition table: nothing else can be checked",
     "recovery mode without information (-r -n -l, -r -n -g) reads the recordings partition from its usual place"},
    {Problem::DiskTruncated, "disk-truncated", L, false, true, false,
     "the disk ends {1} sectors before the end of its partitions' data areas (what is missing reads as zeros)",
     "image the drive again: nothing is repaired on a truncated disk"},
    {Problem::DescriptorUnreadable, "descriptor-unreadable", L, false, true, true, "its descriptor (sector {1}) cannot be read: {text}", IMAGE_IT},
    {Problem::DescriptorPastEnd, "descriptor-past-end", L, false, true, false, "its descriptor (sector {1}) lies beyond the end of the disk",
     "image the drive again; recovery mode without information (-r -n) reads the first partition"},
    {Problem::DescriptorUnusable, "descriptor-unusable", L, false, true, false,
     "its descriptor is unusable: a directory of {1} sector{s1} (256 expected), clusters of {2} sector{s2}", LAYOUT},
    {Problem::SizeMismatch, "size-mismatch", L, false, true, false, "its data area ends before sector {1}, the partition before sector {2}", LAYOUT},
    {Problem::RegionOutside, "region-outside", L, false, true, false, "its {text} (sectors {1} to {2}) lies outside the partition (sectors {3} to {4})", LAYOUT},
    {Problem::RegionsOverlap, "regions-overlap", L, false, true, false, "its {text} overlap", LAYOUT},
    {Problem::ClustersPastData, "clusters-past-data", L, false, true, false,
     "its {1} cluster{s1} of {2} sector{s2} do not fit its data area of {3} sector{s3}", LAYOUT},
    {Problem::FatClamped, "fat-clamped", L, false, true, false, "its allocation table holds entries for {1} of its {2} clusters", LAYOUT},
    {Problem::FatTooLarge, "fat-too-large", L, false, true, false, "its allocation table of {1} sectors is too large for any disk: not read", LAYOUT},
    {Problem::FatUnreadable, "fat-unreadable", L, false, true, true, "its allocation table cannot be read: {text}", IMAGE_IT},
    {Problem::DirectoryUnreadable, "directory-unreadable", L, false, true, true, "its directory cannot be read: {text}", IMAGE_IT},
    {Problem::TablesUnreadableAreas, "tables-unreadable-areas", L, false, true, false, "its {text} in unreadable areas of the map",
     "findings here may come from the unreadable sectors: nothing in this partition is repaired"},
    {Problem::FatOverwritten, "fat-overwritten", L, false, false, false,
     "{1} cluster{s1} in {2} chain{s2} marked used but in no file: the allocation table looks overwritten",
     "image the drive; recovery mode (-r) still finds the recordings whose chains are whole"},
    {Problem::InvalidEntry, "invalid-entry", R, false, false, false, "cluster {1} has the entry {x2}, which names no cluster", nullptr},
    {Problem::InvalidEntriesMore, "invalid-entries-more", R, false, false, false, "{1} more cluster{s1} with entries that name no cluster", nullptr},
    {Problem::WrongFreeCount, "wrong-free-count", R, false, false, false, "word 0 says {1} free clusters, the table has {2}", nullptr},
    {Problem::FirstUnaligned, "first-unaligned", R, false, false, false, "{file} starts at sector {1}, inside cluster {2} but not at its start", nullptr},
    {Problem::FirstOutside, "first-outside", R, false, false, false, "{file} starts at sector {1}, outside the data area: it has no clusters",
     "its contents cannot be found: remove a recording's entry with -d"},
    {Problem::GarbageEntry, "garbage-entry", R, false, false, false,
     "{file} starts at sector {1}, outside the data area: it has no clusters and belongs to no recording", nullptr},
    {Problem::ChainEndsFree, "chain-ends-free", R, true, false, false, "{file}: its chain ends in cluster {1}, which is marked free", nullptr},
    {Problem::ChainEndsInvalid, "chain-ends-invalid", R, false, false, false, "{file}: its chain ends in cluster {1}, whose entry {x2} names no cluster", nullptr},
    {Problem::ChainLoops, "chain-loops", R, false, false, false, "{file}: its chain loops back from cluster {1} to cluster {2}", nullptr},
    {Problem::SharedClusters, "shared-clusters", R, true, false, false, "{file}: {1} cluster{s1} shared with {other}: {text}", nullptr},
    {Problem::SameStart, "same-start", R, true, false, false, "{file} and {other} both start at cluster {1}", nullptr},
    {Problem::DuplicateEntry, "duplicate-entry", R, true, false, false, "{file} is in the directory twice (slots {1} and {2}, the same file)", nullptr},
    {Problem::NameClash, "name-clash", R, true, false, false, "the name {file} is in slots {1} and {2}, for different clusters", nullptr},
    {Problem::ChainShort, "chain-short", R, false, false, false, "{file}: {1} bytes missing: its size is {2} bytes, its chain holds {3}", nullptr},
    {Problem::ChainLong, "chain-long", R, false, false, false, "{file}: {1} cluster{s1} past its size of {2} bytes: {text}", nullptr},
    {Problem::SizeShort, "size-short", R, false, false, false,
     "{file}: its size of {1} bytes is short of its chain: its entry's allocated and last sectors count all {2} "
     "cluster{s2}",
     nullptr},
    {Problem::AllocatedWrong, "allocated-wrong", R, false, false, false, "{file}: its entry says {1} sectors allocated, its clusters hold {2}", nullptr},
    {Problem::LastSectorWrong, "last-sector-wrong", R, false, false, false,
     "{file}: its entry puts its last cluster at sector {1}, its chain at sector {2}", nullptr},
    {Problem::OrphanChain, "orphan-chain", R, false, false, false, "{1} cluster{s1} ({2} bytes) from cluster {3} marked used but in no file", nullptr},
    {Problem::OrphanChainsMore, "orphan-chains-more", R, false, false, false, "{1} more chain{s1} of {2} cluster{s2} ({3} bytes) marked used but in no file", nullptr},
    {Problem::OrphanCandidate, "orphan-candidate", L, false, false, false,
     "{1} cluster{s1} ({2} bytes) from cluster {3} marked used but in no file, possibly {text}", KEPT},
    {Problem::OrphanCandidatesMore, "orphan-candidates-more", L, false, false, false,
     "{1} more chain{s1} of {2} cluster{s2} ({3} bytes) marked used but in no file, possibly {text}", KEPT},
    {Problem::FileFound, "file-found", R, false, false, false,
     "{1} cluster{s1} ({2} bytes) from cluster {3} marked used but in no file: the chain of {file}, by its size "
     "and its entry's last sector",
     nullptr},
    {Problem::FilePastEnd, "file-past-end", L, false, false, false, "{file}: past the end of the disk: {1} of its {2} cluster{s2}",
     nullptr},
    {Problem::BadAreaFile, "bad-area-file", L, false, false, false, "{file}: {1} bytes unreadable, in {2} area{s2}: {text}",
     "this copy is not whole: keep the drive until the recording is safe elsewhere"},
    {Problem::MapShort, "map-short", L, false, false, false, "it covers {1} bytes of the disk's {2}: the rest counts as unreadable",
     "give the mapfile of this disk's image"},
    {Problem::MapLong, "map-long", L, false, false, false, "it covers {1} bytes, past the disk's end at {2}: it may be the map of another disk",
     "give the mapfile of this disk's image"},
    {Problem::MapSummary, "map-summary", N, false, false, false,
     "its unreadable areas ({1} bytes) touch {2} file{s2}; whole: {3} of the {4} listed recordings", nullptr},
    {Problem::FormatUnknown, "format-unknown", L, false, false, false, "the disk format {x1} of the EPG partition is unknown: the record list is not checked",
     "recovery mode (-r) reads the recordings without the record list"},
    {Problem::LengthUndecided, "length-undecided", L, false, false, false, "the record length cannot be decided from _RECORD_LIST_ ({1} bytes)",
     "normal opening refuses the disk: recovery mode (-r) reads the recordings without the list"},
    {Problem::ListSize, "list-size", L, false, false, false, "_RECORD_LIST_ has {1} bytes, not whole {2}-byte entries and the 5-byte end", LIST_HELP},
    {Problem::ListUnreadable, "list-unreadable", L, false, false, true,
     "_RECORD_LIST_ cannot be read whole: the drive fails after {1} of its {2} bytes",
     "copy the recordings off with recovery mode (-r -g) before anything is written to this drive"},
    {Problem::ListSignature, "list-signature", L, false, false, false, "_RECORD_LIST_ lacks the signature 01 00 00 01 01: normal opening refuses the disk", LIST_HELP},
    {Problem::ListTrailer, "list-trailer", L, false, false, false, "_RECORD_LIST_ does not end in five zero bytes", LIST_HELP},
    {Problem::ListMissing, "list-missing", R, false, false, false,
     "_RECORD_LIST_ is missing, but _RL_BACKUP_ (the list before its last change) holds {1} entr{y1}", nullptr},
    {Problem::BackupDamaged, "backup-damaged", L, false, false, false, "_RL_BACKUP_ {text}", "do not swap it in with -r -s"},
    {Problem::EntriesHidden, "entries-hidden", L, false, false, false,
     "entry {1} has the file numbers {2} and {3}: it and every entry after it ({4} in all) are not listed",
     "-l, -g and -d cannot reach them: recovery mode (-r) finds their streams"},
    {Problem::NumberTwice, "number-twice", L, false, false, false, "recordings {1} and {2} both use file number {3}",
     "deleting either deletes the files of both: copy both off with -g first"},
    {Problem::StreamMissing, "stream-missing", L, false, false, false, "recording {1} (\"{text}\"): {2}.av is missing",
     "remove the entry with -d"},
    {Problem::StreamPastEnd, "stream-past-end", L, false, false, false,
     "recording {1} (\"{text}\"): {2}.av is not in the part of the AV directory that the disk holds", nullptr},
    {Problem::Unlisted, "unlisted", N, false, false, false, "{text} belong to no entry of the record list",
     "recovery mode gets them (-r -l, -r -g)"},
    {Problem::StrayCompanion, "stray-companion", R, false, false, false, "{file} belongs to no recording: it blocks new recordings numbered {1}", nullptr},
    {Problem::LeftoverTmp, "leftover-tmp", R, false, false, false, "{file} is left over from an interrupted -E", nullptr},
};

static_assert(sizeof PROBLEMS / sizeof PROBLEMS[0] == static_cast<size_t>(Problem::Count),
              "one table row for every kind of problem");

void append_number(std::string &out, uint64_t value, bool hex)
{
    char text[32];
    if (hex)
        snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    else
        snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    out += text;
}

} // namespace

const ProblemInfo &check_problem_info(Problem problem)
{
    const ProblemInfo &info = PROBLEMS[static_cast<size_t>(problem)];
    // The table is in enumeration order; a row out of place is a programming error.
    if (info.problem != problem)
        abort();
    return info;
}

std::string check_format(const char *message, const Finding &finding, const FileDescriber &describe)
{
    std::string out;
    for (const char *p = message; *p != '\0'; ++p) {
        if (*p != '{') {
            out += *p;
            continue;
        }
        const char *close = p + 1;
        while (*close != '\0' && *close != '}')
            ++close;
        std::string key(p + 1, close);
        if (*close == '\0') {
            out += p;
            break;
        }
        if (key == "file")
            out += describe(finding.file);
        else if (key == "other")
            out += describe(finding.other);
        else if (key == "text")
            out += check_inert(finding.text);
        else if (key.size() == 1 && key[0] >= '1' && key[0] <= '4')
            append_number(out, finding.n[key[0] - '1'], false);
        else if (key.size() == 2 && key[0] == 'x' && key[1] >= '1' && key[1] <= '4')
            append_number(out, finding.n[key[1] - '1'], true);
        else if (key.size() == 2 && key[0] == 's' && key[1] >= '1' && key[1] <= '4')
            out += finding.n[key[1] - '1'] == 1 ? "" : "s";
        else if (key.size() == 2 && key[0] == 'y' && key[1] >= '1' && key[1] <= '4')
            out += finding.n[key[1] - '1'] == 1 ? "y" : "ies";
        else
            out += "{" + key + "}";
        p = close;
    }
    return out;
}

const char *check_scope_name(int scope)
{
    if (scope == SCOPE_DISK)
        return "Disk";
    if (scope == SCOPE_RECORDS)
        return "Record list";
    if (scope == SCOPE_MAP)
        return "Map";
    return partition_name(scope);
}

std::string check_inert(const std::string &text)
{
    return text_shown(text.c_str());
}
