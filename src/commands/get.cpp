// Placeholder until this command is built; replaced by its implementation.
#include "commands/get.h"
#include "common/fatal.h"
int cmd_get_file(HumaxDisk *, int, const char *, const char *) { fatal("not available yet\n"); }
int cmd_get_recording(HumaxDisk *, int) { fatal("not available yet\n"); }
int cmd_get_header(HumaxDisk *, int) { fatal("not available yet\n"); }
