// Placeholder until this command is built; replaced by its implementation.
#include "records/info.h"
#include "common/fatal.h"
int cmd_info(HumaxDisk *, int) { fatal("not available yet\n"); }
int info_show_checked(HumaxDisk *, const char *, const RecordEntry *, int) { fatal("not available yet\n"); }
int info_show(HumaxDisk *, const char *, const RecordEntry *, int) { fatal("not available yet\n"); }
