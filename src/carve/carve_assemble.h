#pragma once
// Joining fragments into streams, whatever their order on the disk: a fragment that runs
// to the end of its last cluster is continued by the one fragment whose first packet
// completes its last (the packet phase carries over), whose counters follow on from its
// own for every PID both carry, and whose clock moves on by a plausible step. A join is
// made only when it is the only one either fragment could make: where two fragments
// could continue one, or one could continue two, the stream ends instead, so that no
// stream is ever joined from pieces of two recordings.
#include <cstdint>
#include <vector>

#include "carve/carve_fragment.h"

// True when `next` continues `before` by the rules above (taken alone, without the
// uniqueness a join also needs).
bool carve_continues(const CarveFragment &before, const CarveFragment &next, uint32_t cluster_length);

// The streams made of the fragments (given in disk order): each a list of fragment
// indices in stream order, ordered by the disk position of their first fragment. Every
// fragment belongs to exactly one stream.
std::vector<std::vector<uint32_t>> carve_assemble(const std::vector<CarveFragment> &fragments,
                                                  uint32_t cluster_length);
