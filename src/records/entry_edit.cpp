// Placeholder until this command is built; replaced by its implementation.
#include "records/entry_edit.h"
#include "common/fatal.h"
void cmd_modify_entry(HumaxDisk *, int, int, uint8_t) { fatal("not available yet\n"); }
void entry_set_byte(const RecordList *, RecordEntry *, unsigned, uint8_t) { fatal("not available yet\n"); }
