#pragma once
// Copying a found stream to a host file: its fragments' clusters read again in runs, the
// words reversed back, and the bytes from its first whole packet to its last written in
// order. The host file is complete or absent, as every host copy (platform/host_file.h).
#include "carve/carve.h"

enum class CarveCopyFailure { None, DiskRead, HostWrite };

// Writes `found` to `host_path` (replacing what is there, never through a link). Returns
// None, or which side failed with errno set; the host file is then absent.
CarveCopyFailure carve_copy_stream(DiskStream *stream, const CarvePartition &part,
                                   const CarveResult &result, const CarveStream &found,
                                   const char *host_path, const CarveProgress &progress);
