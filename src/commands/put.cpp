// Placeholder until this command is built; replaced by its implementation.
#include "commands/put.h"
#include "common/fatal.h"
void cmd_put(HumaxDisk *, const char *) { fatal("not available yet\n"); }
void cmd_put_recording(HumaxDisk *, const char *) { fatal("not available yet\n"); }
int cmd_put_file(HumaxDisk *, int, const char *, const char *, uint32_t) { fatal("not available yet\n"); }
