#pragma once
// --carve and --carve-all: recordings found in the clusters of the AV partition that no
// file holds (deleted ones), or in all of them (a disk whose tables are gone); listed, and
// copied to the current directory as found_0001.ts, found_0002.ts, ... The disk is only
// read.
#include "diskwarden/driver.h"

// Runs the carver as the command line asks (-l, -g LIST, -y), the disk reached as `access`
// says (direct I/O, a stream wrapper: the programs' test hooks); other commands with it
// end the run with a message. Returns the exit status.
int cmd_carve(const CommandRequest &request, const DiskOpenOptions &access);
