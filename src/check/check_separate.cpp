// Step 3 of the repair: entries and names twice, garbage entries, what an interrupted
// command left, and files whose chains meet.
//
// Where a file runs into clusters of an earlier file's run and its size needs them, and
// another file needs them too, the later file gets a copy of the shared clusters its
// size covers. Without room for a copy, one of them gives way (is cut before the shared
// cluster, or emptied when it starts there): never a listed recording's file; of two
// files that are not, the one whose chain runs past its size. Where no rule decides, the
// sharing is left, and the report says what helps.
#include <algorithm>
#include <set>

#include "check/check_planner.h"
#include "disk/fat.h"
#include "records/record_list.h"

namespace {

constexpr size_t MOST_PASSES = 64;

std::string unused_name(const PartitionScan &scan, const std::string &name, std::set<std::string> &taken)
{
    for (const FileState &f : scan.files)
        taken.insert(f.name);
    size_t dot = name.find('.');
    std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    for (unsigned k = 1;; ++k) {
        std::string suffix = "_" + std::to_string(k);
        std::string candidate = stem + suffix + extension;
        if (candidate.size() > DIR_NAME_LENGTH) {
            size_t room = DIR_NAME_LENGTH - std::min<size_t>(DIR_NAME_LENGTH, suffix.size() + extension.size());
            candidate = stem.substr(0, room) + suffix + extension;
            candidate.resize(std::min<size_t>(candidate.size(), DIR_NAME_LENGTH));
        }
        if (taken.insert(candidate).second)
            return candidate;
    }
}

// The record-list findings that name files of this partition to remove or rename.
void settle_leftovers(Planner &pl, std::vector<DirEntry *> &removed, std::set<std::string> &taken)
{
    for (const Finding &finding : pl.result.findings) {
        if (finding.scope != pl.scan.index ||
            (finding.problem != Problem::StrayCompanion && finding.problem != Problem::LeftoverTmp &&
             finding.problem != Problem::ListMissing))
            continue;
        const FileState *f = check_find_file(pl.scan, finding.file.name);
        if (f == nullptr || std::find(removed.begin(), removed.end(), f->entry) != removed.end())
            continue;
        Finding d = pl.about(*f);
        if (finding.problem == Problem::ListMissing) {
            if (taken.insert(RECORD_LIST_NAME).second && check_find_file(pl.scan, RECORD_LIST_NAME) == nullptr) {
                dirent_set_name(f->entry, RECORD_LIST_NAME);
                pl.note("{file}: renamed to _RECORD_LIST_", d);
            }
            continue;
        }
        if (finding.problem == Problem::LeftoverTmp) {
            std::string epg = f->name.substr(0, f->name.size() - 4) + ".epg";
            // Without its .epg, the .tmp is the only (and complete) converted copy.
            if (check_find_file(pl.scan, epg) == nullptr && taken.insert(epg).second) {
                dirent_set_name(f->entry, epg.c_str());
                d.text = epg;
                pl.note("{file}: renamed to \"{text}\", the converted copy that was to replace it", d);
                continue;
            }
        }
        removed.push_back(f->entry);
        pl.note("{file}: removed (its contents are saved below)", d);
    }
}

bool found(const Planner &pl, const FileState &f)
{
    return std::any_of(pl.result.found.begin(), pl.result.found.end(),
                       [&](const FoundChain &c) { return c.partition == pl.scan.index && c.name == f.name; });
}

void settle_names(Planner &pl)
{
    std::set<std::string> taken;
    std::vector<DirEntry *> removed;
    for (const FileState &f : pl.scan.files) {
        Finding d = pl.about(f);
        d.n[0] = static_cast<uint64_t>(f.slot);
        if (f.duplicate) {
            removed.push_back(f.entry);
            pl.note("{file}: its second entry (slot {1}) removed", d);
            continue;
        }
        if (!f.placed && !pl.is_protected(f) && !found(pl, f)) {
            removed.push_back(f.entry);
            pl.note("{file}: removed from the directory (it has no clusters)", d);
            continue;
        }
        if (f.same_name_as >= 0) {
            std::string name = unused_name(pl.scan, f.name, taken);
            dirent_set_name(f.entry, name.c_str());
            d.text = name;
            pl.note("{file} in slot {1}: renamed to \"{text}\"", d);
        }
    }
    settle_leftovers(pl, removed, taken);
    for (DirEntry *entry : removed)
        dir_remove_entry(pl.partition(), entry);
}

enum class Outcome { Changed, Left, Waits };

// One pass over the files that run into an earlier file's run. Files changed in this pass
// are `touched`: a file whose chain runs through one waits for the next pass.
struct Separation {
    Planner &pl;
    RunNeeds needs;
    std::vector<bool> touched;
    std::vector<std::string> left; // the notes of the sharing no rule settles

    explicit Separation(Planner &planner)
        : pl(planner), needs(planner.scan.files), touched(planner.scan.files.size(), false)
    {
    }

    const FileState &file(size_t k) const { return pl.scan.files[k]; }

    bool waits(size_t k, const std::vector<int> &others) const
    {
        for (const RunPiece &piece : check_chain_pieces(pl.scan.files, static_cast<int>(k), UINT64_MAX))
            if (touched[static_cast<size_t>(piece.run)])
                return true;
        return std::any_of(others.begin(), others.end(), [&](int o) { return touched[static_cast<size_t>(o)]; });
    }

    // A fresh cluster for a file that gives way at its first cluster; its size becomes 0.
    bool empty(size_t k, const FileState &other)
    {
        const FileState &f = file(k);
        std::vector<uint32_t> fresh = check_take_clusters(pl.partition(), 1);
        if (fresh.empty())
            fresh = check_take_leaked_cluster(pl);
        if (fresh.empty())
            return false;
        dirent_set(f.entry, DIRENT_FIRST_SECTOR, check_sector_of(pl.partition(), fresh[0]));
        dirent_set_size(f.entry, 0);
        Finding d = pl.about(f);
        d.other = {pl.scan.index, other.name};
        pl.note("{file}: no room for a copy: emptied, its contents stay with {other}", d);
        touched[k] = true;
        return true;
    }

    // File k gives its clusters from the shared cluster on to `other`: cut after `before`
    // (or emptied when the shared cluster is its first).
    bool give_way(size_t k, bool at_start, uint32_t before, uint32_t shared, const FileState &other,
                  const char *message = "{file}: no room for a copy: cut before cluster {1}, which stays with {other}")
    {
        if (at_start)
            return empty(k, other);
        fat_set(pl.partition(), before, FAT_END);
        Finding d = pl.about(file(k));
        d.other = {pl.scan.index, other.name};
        d.n[0] = shared;
        pl.note(message, d);
        touched[k] = true;
        return true;
    }

    // Gives file k copies of the shared clusters its size needs, in free clusters.
    bool copy(size_t k, const FileState &holder)
    {
        const FileState &f = file(k);
        PartitionInfo *p = pl.partition();
        uint64_t wanted = std::min(f.needed, f.chain.length) - f.shared_at;
        std::vector<uint32_t> to = check_take_clusters(p, wanted);
        if (to.empty())
            return false;
        std::vector<uint32_t> from;
        uint32_t c = f.shared_cluster;
        for (uint64_t i = 0; i < wanted; ++i) {
            from.push_back(c);
            if (i + 1 < wanted)
                check_next_cluster(p, c, &c);
        }
        if (f.shared_at == 0)
            dirent_set(f.entry, DIRENT_FIRST_SECTOR, check_sector_of(p, to[0]));
        else
            fat_set(p, f.own_last, to[0]);
        pl.plan.copies.push_back({pl.scan.index, from, to});
        Finding d = pl.about(f);
        d.other = {pl.scan.index, holder.name};
        d.n[1] = to.size();
        d.text = check_cluster_runs(to);
        pl.note("{file}: its {2} cluster{s2} shared with {other} copied to {text}", d);
        touched[k] = true;
        return true;
    }

    // Which side gives way without room for a copy: 1 the later file, 2 the earlier
    // side, 0 neither.
    int giver(size_t k, const std::vector<int> &others) const
    {
        const FileState &f = file(k);
        const FileState &holder = file(static_cast<size_t>(f.shared_with));
        bool later_kept = pl.is_protected(f);
        bool earlier_kept =
            std::any_of(others.begin(), others.end(), [&](int o) { return pl.is_protected(file(static_cast<size_t>(o))); });
        if (later_kept != earlier_kept)
            return later_kept ? 2 : 1;
        if (later_kept)
            return 0;
        bool later_past = f.chain.length > f.needed;
        bool earlier_past = holder.chain.length > holder.needed;
        if (later_past != earlier_past)
            return later_past ? 1 : 2;
        return 0;
    }

    Outcome settle(size_t k)
    {
        const FileState &f = file(k);
        // A chain that only runs past its size into the other file: cut once no file
        // needs the link (step 4).
        if (f.needed <= f.shared_at)
            return Outcome::Left;
        int holder_index = f.shared_with;
        const FileState &holder = file(static_cast<size_t>(holder_index));
        std::vector<int> others = needs.needers(holder_index, f.holder_at, static_cast<int>(k));
        if (waits(k, others))
            return Outcome::Waits;
        // No other file's size reaches the shared cluster: the earlier side gives way.
        if (others.empty()) {
            if (f.holder_at == 0)
                return Outcome::Left;
            give_way(static_cast<size_t>(holder_index), false, f.before_shared, f.shared_cluster, f,
                     "{file}: cut before cluster {1}, which {other} needs and its size does not reach");
            return Outcome::Changed;
        }
        if (copy(k, holder))
            return Outcome::Changed;
        int side = giver(k, others);
        bool done = false;
        if (side == 1 && (f.shared_at == 0 || !needs.link_needed(static_cast<int>(k), f.shared_at - 1, static_cast<int>(k))))
            done = give_way(k, f.shared_at == 0, f.own_last, f.shared_cluster, holder);
        else if (side == 2)
            done = give_way(static_cast<size_t>(holder_index), f.holder_at == 0, f.before_shared, f.shared_cluster, f);
        if (done)
            return Outcome::Changed;
        Finding d = pl.about(f);
        d.other = {pl.scan.index, holder.name};
        d.n[0] = f.shared_cluster;
        left.push_back(check_format("{file}: left sharing the clusters from {1} on with {other}: no room for a copy, "
                                    "and neither may give way; copy the recordings off first (-g)",
                                    d, pl.describe));
        return Outcome::Left;
    }

    // True when anything changed.
    bool pass()
    {
        bool changed = false;
        for (size_t k = 0; k < pl.scan.files.size(); ++k) {
            const FileState &f = file(k);
            if (f.placed && !f.duplicate && f.shared_at != NOT_SHARED && f.shared_with >= 0)
                changed |= settle(k) == Outcome::Changed;
        }
        return changed;
    }
};

} // namespace

void check_separate_files(Planner &pl)
{
    settle_names(pl);
    pl.rescan();
    // Each pass settles every sharing that no change of the same pass reaches, and at
    // least one. Files run into each other one after another only in tables made to do
    // so: past MOST_PASSES, what is left waits for the next repair.
    std::vector<std::string> left;
    for (size_t round = 0; round < MOST_PASSES; ++round) {
        Separation separation(pl);
        bool changed = separation.pass();
        left = separation.left;
        if (!changed)
            break;
        pl.rescan();
    }
    for (const std::string &line : left) {
        pl.plan.notes.push_back(std::string(check_scope_name(pl.scan.index)) + ": " + line);
    }
}
