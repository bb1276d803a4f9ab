#pragma once
// An independent consistency check of a recorder disk image, written with the tests' own
// reading of the layout (image.h), for the check after every run that writes.
#include <string>
#include <vector>

#include "support/image.h"

namespace testimg {

// Checks every chain valid and within the partition, no cluster in two chains, no
// cluster marked used that no file owns, word 0 equal to the free clusters, every file's
// allocated sectors and size consistent with its chain (exactly the clusters its size
// needs, one for size 0), no name twice in a directory. With `record_length` nonzero,
// also the record list's size, trailer and signature, and that every numbered
// record-list entry's N.av exists. Returns the problems found, empty when consistent; an
// image that cannot be read is a problem too (never an exception).
std::vector<std::string> check_image(const std::string &path, unsigned record_length = 0);

// The same problems with their kind, so that a caller can tell space wasted (clusters no
// file owns, word 0 claiming fewer free clusters than there are) from damage without
// reading the messages.
enum class ImageProblemKind {
    Layout,          // the descriptor's sums
    InvalidEntry,    // a table entry that is no cluster, end or free
    FirstOutside,    // a file starting at no cluster of the data area
    ChainLoops,
    SharedCluster,   // one cluster in two chains
    EndsFree,        // a chain ending in a cluster marked free
    AllocatedWrong,  // allocated_sectors against the chain
    SizeWrong,       // the size against the chain's length
    LastSectorWrong,
    NameTwice,
    UnownedClusters, // marked used, in no file
    FreeCountLow,    // word 0 claims fewer free clusters than the table has
    FreeCountHigh,   // word 0 claims more
    ListForm,        // the record list's size, trailer or signature
    StreamMissing,   // a listed recording without its .av
    Unreadable,      // the image or a partition could not be read
};
struct ImageProblem {
    ImageProblemKind kind;
    std::string text; // as check_image returns it
};
std::vector<ImageProblem> check_image_problems(const std::string &path, unsigned record_length = 0);
std::vector<ImageProblem> check_image_problems(const DiskImage &image, unsigned record_length = 0);

} // namespace testimg
