#pragma once
// The runs of a partition's files. Each cluster belongs to the run of the first file (in
// directory order) whose chain reaches it; a chain is its own run, then (where it meets a
// cluster an earlier file holds) that file's run from there on, and so on: chains merge,
// they never part. Everything the checker asks about a chain (its length, how it ends,
// its n-th cluster, who needs which of its clusters) is answered from the runs, so that
// a table of any shape (a ring through a million clusters under a thousand entries) costs
// a walk of each cluster and a few bits per cluster, never entries times clusters.
#include <cstdint>
#include <vector>

#include "check/check_scan.h"

// Walks every placed file's run in directory order, marking its clusters in `claimed`,
// and fills each file's run, its whole chain, what it shares and the cluster its size
// keeps.
void check_claim_runs(const PartitionInfo *partition, std::vector<FileState> &files, ClusterSet &claimed);

// A stretch of a chain in run coordinates: positions `from` to `to` (inclusive) of the run
// of file `run`. `more`: the chain goes on after it.
struct RunPiece {
    int run = 0;
    uint64_t from = 0;
    uint64_t to = 0;
    bool more = false;
};

// The pieces of the first `clusters` clusters of file k's chain (fewer where the chain
// ends first), in chain order; none for a file that is not placed.
std::vector<RunPiece> check_chain_pieces(const std::vector<FileState> &files, int k, uint64_t clusters);

// Which clusters of the runs, and which links between them, the files' sizes need: a
// cluster no size needs may be cut off a chain without taking anything from a file.
class RunNeeds {
  public:
    explicit RunNeeds(const std::vector<FileState> &files);
    // True when a file other than `except` needs the link from position `at` of run `run`
    // to the cluster after it.
    bool link_needed(int run, uint64_t at, int except) const;
    // The files other than `except` whose sizes need the cluster at position `at` of run
    // `run`.
    std::vector<int> needers(int run, uint64_t at, int except) const;

  private:
    struct Need {
        uint64_t from, to;
        int file;
        bool more;
    };
    std::vector<std::vector<Need>> by_run_;
};
