// Chains in no file that still belong to a file. A damaged first sector leaves a file's
// own chain in no file, and a wiped directory slot leaves a recording's whole stream
// there: freeing such a chain would lose what the entry, or the record list, still
// promises. Where the entry's own record (its size, allocated and last sectors) points to
// one chain alone, the chain goes back to it; while a listed stream is missing otherwise,
// every chain in no file of the recordings partition is kept as a candidate.
#include <algorithm>

#include "check/check_scan.h"
#include "records/record_list.h"

namespace {

constexpr size_t WANTED_NAMED = 3;

// A file whose entry does not lead to its contents: no clusters, a chain shorter than its
// size, or a start in another file's clusters.
bool misplaced(const FileState &f)
{
    if (f.duplicate)
        return false;
    return !f.placed || f.shared_at == 0 || (f.shared_at == NOT_SHARED && f.chain.length < f.needed);
}

// A file whose contents its chain does not reach: no clusters, or a chain of its own
// that ends short of its size. (One that starts in another file's clusters reaches
// contents, if perhaps not its own: that is for the evidence to tell.)
bool lost(const FileState &f)
{
    return !f.duplicate && (!f.placed || (f.shared_at == NOT_SHARED && f.chain.length < f.needed));
}

// The orphan is all of f's chain, or the part before the cluster f's entry points to.
bool chain_of(const PartitionInfo *p, const FileState &f, const OrphanChain &o)
{
    uint32_t last_sector = dirent_get(f.entry, DIRENT_LAST_SECTOR);
    if (f.needed == 0 || dirent_get(f.entry, DIRENT_ALLOCATED_SECTORS) != f.needed * p->cluster_sectors)
        return false;
    if (o.length == f.needed && o.end_value == FAT_END && check_cluster_sector(p, o.last) == last_sector)
        return true;
    return f.placed && f.shared_at == NOT_SHARED && f.chain.end == ChainEnd::Marker && o.end_value == f.chain.first &&
           o.length + f.chain.length == f.needed && check_cluster_sector(p, f.chain.last) == last_sector;
}

// The finding of an orphan chain that now names its file; the orphan's line if it has
// one, else a new line taken out of the count of the others.
void report_found(std::vector<Finding> &findings, int scope, const OrphanChain &o, const std::string &name,
                  uint64_t cluster_length)
{
    for (Finding &f : findings) {
        if (f.scope == scope && f.problem == Problem::OrphanChain && f.n[2] == o.first) {
            f.problem = Problem::FileFound;
            f.file = {scope, name};
            return;
        }
    }
    for (auto it = findings.begin(); it != findings.end(); ++it) {
        if (it->scope != scope || it->problem != Problem::OrphanChainsMore)
            continue;
        Finding found = *it;
        found.problem = Problem::FileFound;
        found.file = {scope, name};
        found.n[0] = o.length;
        found.n[1] = o.length * cluster_length;
        found.n[2] = o.first;
        found.leaked_clusters = o.length;
        found.leaked_bytes = found.n[1];
        it->n[0] -= 1;
        it->n[1] -= o.length;
        it->n[2] -= found.n[1];
        it->leaked_clusters -= o.length;
        it->leaked_bytes -= found.n[1];
        if (it->n[0] == 0)
            *it = found;
        else
            findings.insert(it, found);
        return;
    }
}

// Pairs each misplaced file with the one orphan chain that is its chain, where neither
// has another match.
void match_chains(const HumaxDisk *disk, int index, CheckResult *result)
{
    const PartitionScan &scan = result->partitions[index];
    const PartitionInfo *p = &disk->partitions[index];
    // In a table that looks overwritten, a match could be chance.
    if (scan.orphan_chains > ORPHAN_CHAINS_KEPT)
        return;
    std::vector<int> match_of(scan.files.size(), -1);
    std::vector<unsigned> file_matches(scan.files.size(), 0), orphan_matches(scan.orphans.size(), 0);
    for (size_t k = 0; k < scan.files.size(); ++k) {
        if (!misplaced(scan.files[k]))
            continue;
        for (size_t o = 0; o < scan.orphans.size(); ++o) {
            if (!chain_of(p, scan.files[k], scan.orphans[o]))
                continue;
            ++file_matches[k];
            ++orphan_matches[o];
            match_of[k] = static_cast<int>(o);
        }
    }
    for (size_t k = 0; k < scan.files.size(); ++k) {
        if (file_matches[k] != 1 || orphan_matches[static_cast<size_t>(match_of[k])] != 1)
            continue;
        const OrphanChain &o = scan.orphans[static_cast<size_t>(match_of[k])];
        result->found.push_back({index, scan.files[k].name, o.first});
        report_found(result->findings, index, o, scan.files[k].name, cluster_bytes(p));
    }
}

bool found(const CheckResult &result, int partition, const std::string &name)
{
    return std::any_of(result.found.begin(), result.found.end(),
                       [&](const FoundChain &c) { return c.partition == partition && c.name == name; });
}

// An entry with no clusters: found again, or garbage that no recording and no list needs
// (the repair removes it), or a recording's file the repair leaves to the user.
void mark_garbage(CheckResult *result)
{
    for (Finding &f : result->findings) {
        if (f.problem != Problem::FirstOutside || found(*result, f.scope, f.file.name))
            continue;
        if (check_protected(*result, f.scope, f.file.name))
            f.held = true;
        else
            f.problem = Problem::GarbageEntry;
    }
}

// The listed recordings' streams that are missing or misplaced, and not found.
void find_wanted(const CheckResult &result, RecordScan *records)
{
    const PartitionScan &av = result.partitions[PARTITION_AV];
    for (const ListedRecording &r : records->listed) {
        std::string name = std::to_string(r.file_number) + ".av";
        const FileState *f = check_find_file(av, name);
        if ((f != nullptr && (!lost(*f) || found(result, PARTITION_AV, name))) ||
            (f == nullptr && records->position_of.at(r.file_number) != r.position))
            continue;
        records->wanted_streams.push_back(name + " of recording " + std::to_string(r.position));
        if (f != nullptr)
            records->held_streams.insert(name);
    }
}

std::string wanted_text(const std::vector<std::string> &wanted)
{
    std::string text;
    for (size_t k = 0; k < wanted.size() && k < WANTED_NAMED; ++k)
        text += (k == 0 ? "" : " or ") + wanted[k];
    if (wanted.size() > WANTED_NAMED)
        text += " or " + std::to_string(wanted.size() - WANTED_NAMED) + " other streams";
    return text;
}

// While listed streams are wanted, the chains in no file of the recordings partition are
// candidates for them, and the misplaced streams are left as they are.
void keep_candidates(CheckResult *result)
{
    RecordScan &records = result->records;
    if (!records.checked || records.record_length == 0 || result->partitions[PARTITION_AV].layout_in_doubt)
        return;
    find_wanted(*result, &records);
    bool orphans = std::any_of(result->findings.begin(), result->findings.end(), [](const Finding &f) {
        return f.scope == PARTITION_AV && (f.problem == Problem::OrphanChain || f.problem == Problem::OrphanChainsMore);
    });
    if (records.wanted_streams.empty() || !orphans) {
        records.held_streams.clear();
        return;
    }
    records.orphans_kept = true;
    std::string text = wanted_text(records.wanted_streams);
    for (Finding &f : result->findings) {
        if (f.scope == PARTITION_AV && f.problem == Problem::OrphanChain) {
            f.problem = Problem::OrphanCandidate;
            f.text = text;
        } else if (f.scope == PARTITION_AV && f.problem == Problem::OrphanChainsMore) {
            f.problem = Problem::OrphanCandidatesMore;
            f.text = text;
        } else if (f.problem == Problem::StreamMissing) {
            f.advice = "the chains in no file of the AV partition may hold it: they are kept";
        } else if (f.scope == PARTITION_AV && f.file.partition == PARTITION_AV && records.held_streams.count(f.file.name)) {
            f.held = true;
            f.advice = "its stream may be one of the chains in no file, which are kept: it is left as it is";
        }
    }
}

} // namespace

void check_lost_chains(const HumaxDisk *disk, CheckResult *result)
{
    if (result->disk_in_doubt)
        return;
    for (int i = 0; i < disk->partition_count; ++i)
        if (result->partitions[i].scanned && !result->partitions[i].layout_in_doubt)
            match_chains(disk, i, result);
    mark_garbage(result);
    keep_candidates(result);
}

bool check_protected(const CheckResult &result, int partition, const std::string &name)
{
    if (partition == PARTITION_EPG && (name == RECORD_LIST_NAME || name == RECORD_BACKUP_NAME))
        return true;
    unsigned n;
    bool numbered = partition == PARTITION_AV    ? check_numbered_name(name, ".av", &n) || check_numbered_name(name, ".elu", &n)
                    : partition == PARTITION_EPG ? check_numbered_name(name, ".epg", &n)
                                                 : false;
    if (!numbered)
        return false;
    if (!result.records.checked || result.records.record_length == 0)
        return true;
    return result.records.position_of.count(n) != 0;
}

bool check_held(const CheckResult &result, const Finding &finding)
{
    if (finding.problem == Problem::FirstOutside)
        return !found(result, finding.scope, finding.file.name);
    if (finding.scope != PARTITION_AV || !result.records.orphans_kept)
        return false;
    if (finding.problem == Problem::OrphanChain || finding.problem == Problem::OrphanChainsMore)
        return true;
    return finding.file.partition == PARTITION_AV && result.records.held_streams.count(finding.file.name) != 0;
}
