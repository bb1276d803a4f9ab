#include "check/check_runs.h"

#include <algorithm>
#include <unordered_map>

namespace {

// The position of `cluster` in file f's run, walking it from its start.
bool position_in_run(const PartitionInfo *p, const FileState &f, uint32_t cluster, uint64_t *at)
{
    uint32_t c = f.chain.first;
    for (uint64_t i = 0; i < f.own; ++i) {
        if (c == cluster) {
            *at = i;
            return true;
        }
        if (!check_next_cluster(p, c, &c))
            return false;
    }
    return false;
}

// One file's run: its clusters until the chain ends or meets a claimed cluster.
void claim_run(const PartitionInfo *p, FileState &f, ClusterSet &claimed)
{
    uint32_t c = f.chain.first;
    for (;;) {
        if (claimed.has(c)) {
            uint64_t at;
            if (position_in_run(p, f, c, &at)) {
                f.run_end = RunEnd::Loop;
                f.loop_to = at;
            } else {
                f.run_end = RunEnd::Merge;
                f.shared_at = f.own;
                f.shared_cluster = c;
            }
            return;
        }
        claimed.add(c);
        ++f.own;
        f.own_last = c;
        if (!check_next_cluster(p, c, &c)) {
            f.run_end = RunEnd::Chain;
            return;
        }
    }
}

// Where each merging file meets its holder: one walk of every run, only on a partition
// where some file merges.
void find_holders(const PartitionInfo *p, std::vector<FileState> &files)
{
    struct Holder {
        int file = -1;
        uint64_t at = 0;
        uint32_t before = 0;
    };
    std::unordered_map<uint32_t, Holder> holders;
    for (const FileState &f : files)
        if (f.run_end == RunEnd::Merge)
            holders.emplace(f.shared_cluster, Holder{});
    if (holders.empty())
        return;
    for (size_t k = 0; k < files.size(); ++k) {
        const FileState &f = files[k];
        uint32_t c = f.chain.first, before = 0;
        for (uint64_t i = 0; f.placed && i < f.own; ++i) {
            auto it = holders.find(c);
            if (it != holders.end() && it->second.file < 0)
                it->second = {static_cast<int>(k), i, before};
            before = c;
            if (!check_next_cluster(p, c, &c))
                break;
        }
    }
    for (FileState &f : files) {
        if (f.run_end != RunEnd::Merge)
            continue;
        const Holder &h = holders[f.shared_cluster];
        f.shared_with = h.file;
        f.holder_at = h.at;
        f.before_shared = h.before;
    }
}

// The whole chain of file k from its pieces, and how its run ends the chain.
void derive_chain(const PartitionInfo *p, std::vector<FileState> &files, size_t k)
{
    FileState &f = files[k];
    uint64_t length = 0;
    int run = static_cast<int>(k);
    uint64_t entered = 0;
    uint32_t before = 0;
    for (;;) {
        const FileState &r = files[static_cast<size_t>(run)];
        length += r.own - std::min(entered, r.own);
        if (r.run_end == RunEnd::Merge) {
            before = r.before_shared;
            entered = r.holder_at;
            run = r.shared_with;
            if (run < 0)
                break; // cannot happen: every merge has a holder
            continue;
        }
        f.chain.last = r.own_last;
        if (r.run_end == RunEnd::Loop) {
            f.chain.end = ChainEnd::Loop;
            if (r.loop_to < entered) {
                length += entered - r.loop_to;
                f.chain.last = before;
            }
        } else {
            f.chain.end = fat_chain_end(p, fat_get(p, r.own_last));
        }
        break;
    }
    f.chain.length = length;
    f.chain.end_value = fat_get(p, f.chain.last);
}

struct KeptQuery {
    uint64_t at;
    size_t file;
};

// The cluster each file's size keeps: from the runs where they tell it, else from one
// walk of each run concerned, as far as its furthest query.
void find_kept(const PartitionInfo *p, std::vector<FileState> &files)
{
    std::vector<std::vector<KeptQuery>> queries(files.size());
    for (size_t k = 0; k < files.size(); ++k) {
        FileState &f = files[k];
        if (!f.placed)
            continue;
        uint64_t keeps = std::min(f.chain.length, f.needed);
        std::vector<RunPiece> pieces = check_chain_pieces(files, static_cast<int>(k), keeps);
        const RunPiece &last = pieces.back();
        f.kept_run = last.run;
        f.kept_at = last.to;
        if (keeps == f.chain.length)
            f.kept_last = f.chain.last;
        else if (last.to + 1 == files[static_cast<size_t>(last.run)].own)
            f.kept_last = files[static_cast<size_t>(last.run)].own_last;
        else
            queries[static_cast<size_t>(last.run)].push_back({last.to, k});
    }
    for (size_t r = 0; r < files.size(); ++r) {
        std::vector<KeptQuery> &wanted = queries[r];
        if (wanted.empty())
            continue;
        std::sort(wanted.begin(), wanted.end(), [](const KeptQuery &a, const KeptQuery &b) { return a.at < b.at; });
        uint32_t c = files[r].chain.first;
        uint64_t at = 0;
        for (const KeptQuery &q : wanted) {
            while (at < q.at && check_next_cluster(p, c, &c))
                ++at;
            files[q.file].kept_last = c;
        }
    }
}

} // namespace

void check_claim_runs(const PartitionInfo *partition, std::vector<FileState> &files, ClusterSet &claimed)
{
    for (FileState &f : files)
        if (f.placed)
            claim_run(partition, f, claimed);
    find_holders(partition, files);
    for (size_t k = 0; k < files.size(); ++k)
        if (files[k].placed)
            derive_chain(partition, files, k);
    find_kept(partition, files);
}

std::vector<RunPiece> check_chain_pieces(const std::vector<FileState> &files, int k, uint64_t clusters)
{
    std::vector<RunPiece> pieces;
    if (!files[static_cast<size_t>(k)].placed)
        return pieces;
    uint64_t left = clusters;
    int run = k;
    uint64_t entered = 0;
    while (left > 0 && run >= 0) {
        const FileState &r = files[static_cast<size_t>(run)];
        if (entered < r.own) {
            uint64_t n = std::min(left, r.own - entered);
            if (!pieces.empty())
                pieces.back().more = true;
            pieces.push_back({run, entered, entered + n - 1, false});
            left -= n;
        }
        if (left == 0 || r.run_end == RunEnd::Chain)
            break;
        if (r.run_end == RunEnd::Loop) {
            if (r.loop_to < entered) {
                uint64_t n = std::min(left, entered - r.loop_to);
                pieces.back().more = true;
                pieces.push_back({run, r.loop_to, r.loop_to + n - 1, false});
            }
            break;
        }
        entered = r.holder_at;
        run = r.shared_with;
    }
    return pieces;
}

RunNeeds::RunNeeds(const std::vector<FileState> &files) : by_run_(files.size())
{
    for (size_t k = 0; k < files.size(); ++k) {
        const FileState &f = files[k];
        if (!f.placed || f.duplicate)
            continue;
        for (const RunPiece &piece : check_chain_pieces(files, static_cast<int>(k), f.needed))
            by_run_[static_cast<size_t>(piece.run)].push_back({piece.from, piece.to, static_cast<int>(k), piece.more});
    }
}

bool RunNeeds::link_needed(int run, uint64_t at, int except) const
{
    for (const Need &n : by_run_[static_cast<size_t>(run)])
        if (n.file != except && n.from <= at && (at < n.to || (at == n.to && n.more)))
            return true;
    return false;
}

std::vector<int> RunNeeds::needers(int run, uint64_t at, int except) const
{
    std::vector<int> files;
    for (const Need &n : by_run_[static_cast<size_t>(run)])
        if (n.file != except && n.from <= at && at <= n.to)
            files.push_back(n.file);
    return files;
}
