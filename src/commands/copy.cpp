// Placeholder until this command is built; replaced by its implementation.
#include "commands/copy.h"
#include "common/fatal.h"
int cmd_copy_file(HumaxDisk *, int, const char *, HumaxDisk *, const char *) { fatal("not available yet\n"); }
int cmd_copy_recording(HumaxDisk *, HumaxDisk *, int) { fatal("not available yet\n"); }
