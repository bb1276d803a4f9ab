#pragma once
// What the checker can find, in one table (as e2fsck keeps its problem table): for each
// kind, its message, whether --repair mends it, whether it stops writing commands, and the
// command that helps when it cannot be mended. The scans only record findings; the report
// and the repair read this table.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

enum class Problem : uint8_t {
    // The disk as a whole.
    TableUnreadable,
    TableUnknown,
    DiskTruncated,
    // A partition's layout.
    DescriptorUnreadable,
    DescriptorPastEnd,
    DescriptorUnusable,
    SizeMismatch,
    RegionOutside,
    RegionsOverlap,
    ClustersPastData,
    FatClamped,
    FatTooLarge,
    FatUnreadable,
    DirectoryUnreadable,
    TablesUnreadableAreas,
    FatOverwritten,
    // The allocation table.
    InvalidEntry,
    InvalidEntriesMore,
    WrongFreeCount,
    // Files.
    FirstUnaligned,
    FirstOutside,
    GarbageEntry,
    ChainEndsFree,
    ChainEndsInvalid,
    ChainLoops,
    SharedClusters,
    SameStart,
    DuplicateEntry,
    NameClash,
    ChainShort,
    ChainLong,
    SizeShort,
    AllocatedWrong,
    LastSectorWrong,
    OrphanChain,
    OrphanChainsMore,
    OrphanCandidate,
    OrphanCandidatesMore,
    FileFound,
    FilePastEnd,
    BadAreaFile,
    MapShort,
    MapLong,
    MapSummary,
    // The record list.
    FormatUnknown,
    LengthUndecided,
    ListSize,
    ListUnreadable,
    ListSignature,
    ListTrailer,
    ListMissing,
    BackupDamaged,
    EntriesHidden,
    NumberTwice,
    StreamMissing,
    StreamPastEnd,
    Unlisted,
    StrayCompanion,
    LeftoverTmp,
    Count
};

// What --repair does about a kind.
enum class Remedy : uint8_t {
    Repair, // mended (planned in memory, written once)
    Leave,  // reported with the command that helps; the disk is left as it is for it
    Notice, // reported, but not a fault of the disk: it does not count as a problem
};

struct ProblemInfo {
    Problem problem;
    // The kind's stable name for scripts (--check --json): lower case, words joined by
    // '-' ("shared-clusters"). Never changed once released; a new kind gets a new name.
    const char *name;
    Remedy remedy;
    bool blocks_writing; // writing commands refuse a disk with it
    bool blocks_repair;  // the partition's layout is in doubt: nothing in it is repaired
    bool operational;    // the disk could not be read (exit status 8)
    // Placeholders: {file} and {other} name files (with their recording), {1}..{4}
    // numbers, {x1}..{x4} the same in hexadecimal, {s1}..{s4} an "s" unless the number
    // is 1 ({y1}..{y4}: "y" or "ies"), {text} free text (made inert for a terminal, as
    // every name from the disk is).
    const char *message;
    const char *advice; // for Leave and Notice: what helps; null for Repair
};

const ProblemInfo &check_problem_info(Problem problem);

// Where a finding belongs in the report: the disk, a partition (0, 1, 2), the record list,
// the map of unreadable areas; reported in that order.
constexpr int SCOPE_DISK = -1;
constexpr int SCOPE_RECORDS = 3;
constexpr int SCOPE_MAP = 4;

// A file named in a finding: its partition and name as stored (not yet made printable).
struct FileRef {
    int partition = -1;
    std::string name;
};

struct Finding {
    Problem problem = Problem::Count;
    int scope = SCOPE_DISK;
    FileRef file;
    FileRef other;
    uint64_t n[4] = {};
    std::string text;
    // Every unreadable area of the file, bytes [first, last] (the text lists a few).
    std::vector<std::pair<uint64_t, uint64_t>> areas;
    uint64_t leaked_clusters = 0; // for the summary's leaked space
    uint64_t leaked_bytes = 0;
    // --repair leaves it, though its kind is mended elsewhere (a listed recording's stream
    // that may be among the chains in no file is never cut short).
    bool held = false;
    // What helps, where the disk rules out the kind's own advice (null: the kind's).
    const char *advice = nullptr;
};

// Turns a file reference into what the user reads ("\"3.av\" (recording 2, \"Title\")").
using FileDescriber = std::function<std::string(const FileRef &)>;

// Fills a message template from a finding (or a repair's record of what it changed).
std::string check_format(const char *message, const Finding &finding, const FileDescriber &describe);

// "AV", "EPG", "MPEG/JPEG", "Disk", "Record list".
const char *check_scope_name(int scope);

// A name or text from the disk made inert for a terminal (text_shown: control bytes, DEL
// and the C1 range become '.'; Latin-1 letters stay).
std::string check_inert(const std::string &text);
