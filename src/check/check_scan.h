#pragma once
// The checker's view of a disk: what the scans learnt about every partition's files,
// chains and leaked clusters, and about the record list, with the findings they made.
// Scans only read (the disk and the tables in memory); the repair plan works from this.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "check/check_chain.h"
#include "check/check_problems.h"
#include "disk/humax_disk.h"

constexpr uint64_t NOT_SHARED = UINT64_MAX;

// Where a file's run ends: the run is the part of its chain that no earlier file of the
// directory holds (each cluster belongs to the run of the first file that reaches it).
enum class RunEnd : uint8_t {
    Chain, // the chain itself ends there (chain.end says how)
    Loop,  // back into its own run, at loop_to
    Merge, // into the run of an earlier file (shared_with, at holder_at): chains merge,
           // they never part, so the rest of the chain is that file's
};

// One directory entry as stored, and its chain.
struct FileState {
    DirEntry *entry = nullptr; // in the partition's list
    int slot = 0;              // its place in the directory (list order)
    std::string name;          // as stored, at most 60 bytes
    uint32_t first_sector = 0;
    bool placed = false;  // the first sector lies in the data area
    bool aligned = false; // ... at the start of a cluster
    ChainWalk chain;      // valid when placed: the whole chain, however it is shared
    uint64_t size = 0;
    uint64_t needed = 0; // clusters its size needs (one for an empty file)
    // Its run: the first `own` clusters of its chain, ending at own_last.
    uint64_t own = 0;
    uint32_t own_last = 0;
    RunEnd run_end = RunEnd::Chain;
    uint64_t loop_to = 0;                // RunEnd::Loop: the position its run leads back to
    uint64_t shared_at = NOT_SHARED;     // RunEnd::Merge: chain index of the first cluster an earlier file holds
    uint32_t shared_cluster = 0;
    int shared_with = -1;     // the earlier file whose run holds that cluster
    uint64_t holder_at = 0;   // ... at this position of that run
    uint32_t before_shared = 0; // ... after this cluster of that run (when holder_at > 0)
    // The last cluster its size keeps (index min(chain.length, needed) - 1), and where it
    // lies: the run of file kept_run, at kept_at.
    uint32_t kept_last = 0;
    int kept_run = -1;
    uint64_t kept_at = 0;
    int same_name_as = -1;  // an earlier file of the same name
    bool duplicate = false; // ... with the same first sector: the same file twice
    // The chain ends properly and the entry's allocated and last sectors match all of it:
    // the size, not the chain, is what is wrong.
    bool size_short = false;
};

// Clusters marked used that no file's chain reaches, grouped along their own links.
struct OrphanChain {
    uint32_t first = 0;
    uint64_t length = 0;
    uint32_t last = 0;
    uint32_t end_value = 0; // the entry of its last cluster
};

// A partition loaded as far as it could be.
struct PartitionScan {
    int index = 0;
    bool scanned = false;        // its table and directory were read and walked
    bool layout_in_doubt = false; // a layout problem: nothing in it is repaired
    std::vector<FileState> files;
    std::vector<OrphanChain> orphans; // the first ORPHAN_CHAINS_KEPT
    uint64_t orphan_chains = 0;
    uint64_t orphan_clusters = 0;
    uint64_t free_counted = 0;
};

// The orphan chains whose clusters are kept for the repair; beyond that many, the table
// looks overwritten rather than leaking (every interrupted command leaks a few chains).
constexpr size_t ORPHAN_CHAINS_KEPT = 1024;

// A recording of the record list, as the listing numbers it.
struct ListedRecording {
    unsigned position = 0;
    unsigned file_number = 0;
    std::string title; // shown form, inert
};

struct RecordScan {
    bool checked = false;
    unsigned record_length = 0;
    std::vector<ListedRecording> listed;         // numbered recordings, in list order
    std::map<unsigned, unsigned> position_of;    // file number -> first position
    std::vector<unsigned> named_numbers;         // every file number an entry holds
    // Listed recordings' streams that are missing or misplaced ("2.av of recording 1"),
    // while chains in no file of the recordings partition may hold them: those chains are
    // kept, and the misplaced streams (held_streams, by name) left as they are.
    std::vector<std::string> wanted_streams;
    std::set<std::string> held_streams;
    bool orphans_kept = false;
};

// A file whose chain is a chain in no file: its first sector goes back there.
struct FoundChain {
    int partition = 0;
    std::string name;
    uint32_t first = 0; // the chain's first cluster
};

struct CheckResult {
    std::vector<Finding> findings;
    PartitionScan partitions[PARTITION_COUNT];
    RecordScan records;
    std::vector<FoundChain> found;
    bool disk_in_doubt = false; // nothing on the disk is repaired (truncated, no table)
    bool read_errors = false;   // a region could not be read (exit status 8)
};

// The layout of the disk and every partition, then each loaded partition's table, files
// and leaked clusters. Appends findings to result->findings.
void check_volume(HumaxDisk *disk, CheckResult *result);

// Scans one loaded partition's table and directory (again), replacing its PartitionScan
// and appending its findings to `findings`. Used by the repair between its steps.
void check_scan_partition(HumaxDisk *disk, int index, PartitionScan *scan, std::vector<Finding> *findings);

// The record list, its backup and the recording files of partitions 0 and 1.
void check_record_list(HumaxDisk *disk, CheckResult *result);

// Chains in no file that are, by their length and last cluster, the chain of a file whose
// entry points elsewhere (a damaged first sector); garbage entries; and, while a listed
// recording's stream is missing or misplaced, the chains in no file of the recordings
// partition as the candidates they are. Call after check_record_list.
void check_lost_chains(const HumaxDisk *disk, CheckResult *result);

// True when the file belongs to a listed recording or is the record list or its backup
// (or, when the list could not be read, bears a recording's name): the repair never
// cuts, empties or frees what such a file's size needs.
bool check_protected(const CheckResult &result, int partition, const std::string &name);

// True when the repair leaves this finding alone although its kind is repairable: the
// chains kept as candidates, the misplaced streams they may belong to.
bool check_held(const CheckResult &result, const Finding &finding);

// Reads a file's contents in natural byte order: its size, or what its distinct clusters
// hold when they are fewer, at most `limit` bytes. False on a read error (what was read
// before stays in `out`).
bool check_read_file(HumaxDisk *disk, int index, const FileState &file, uint64_t limit,
                     std::vector<uint8_t> *out);

// The describer of file references for a result: recordings' files name the recording.
FileDescriber check_describer(const CheckResult &result);

// The first file of `scan` named `name` (as dir_find finds it), or null.
const FileState *check_find_file(const PartitionScan &scan, const std::string &name);

// True when `name` is "N" followed by `suffix`, N a decimal number without leading zeros;
// stores N.
bool check_numbered_name(const std::string &name, const char *suffix, unsigned *number);
