// Placeholder until this command is built; replaced by its implementation.
#include "commands/recover.h"
#include "common/fatal.h"
const char *cmd_recover_scan(HumaxDisk *, int, int) { fatal("not available yet\n"); }
void cmd_recover_get(HumaxDisk *, const std::string &, int) { fatal("not available yet\n"); }
