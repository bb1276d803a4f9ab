// Placeholder until this command is built; replaced by its implementation.
#include "records/epg_update.h"
#include "common/fatal.h"
void epg_update_all(HumaxDisk *) { fatal("not available yet\n"); }
