// Placeholder until this command is built; replaced by its implementation.
#include "commands/remove.h"
#include "common/fatal.h"
int cmd_unprotect(HumaxDisk *, int) { fatal("not available yet\n"); }
void cmd_delete(HumaxDisk *, const std::string &) { fatal("not available yet\n"); }
void cmd_delete_buffers(HumaxDisk *) { fatal("not available yet\n"); }
void cmd_delete_epg_save(HumaxDisk *) { fatal("not available yet\n"); }
