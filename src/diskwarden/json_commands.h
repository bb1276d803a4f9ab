#pragma once
// --json: the listing (-l, with or without -x), the programme information (-i) and the
// recovery listing (-r -l, -r -i) as one JSON document on standard output, written once
// it is complete. Messages go to standard error as ever. The keys are documented in
// diskwarden(1).
#include <string>

#include "diskwarden/driver.h"
#include "disk/humax_disk.h"

// Makes every later failure of the run give a document too: {"disk", "status", "error"}
// with the last message (written to standard error as ever), unless the run's document
// has been printed. With `operational` (during a check) a failure's status is the
// checker's 8.
void cmd_json_failures(const CommandRequest &request, bool operational);

// Ends a --json run that returns `status` without having printed its document (a check
// whose disk or map could not be read): prints the failure document.
void cmd_json_end(int status);

// The reason a command line cannot run with --json (a command without a JSON form, two
// disks, progress sent to standard output, a question without -y), or "" when it can.
std::string cmd_json_refusal(const CommandRequest &request);

// -l and -i: {"disk", "record_length", "free_bytes", "recordings"}. With -l every
// recording, else those -i names, in its order; those -i names also carry their
// programme information. An -i number without a recording gets "Recording %d does not
// exist\n" on standard error, as without --json.
void cmd_json_records(HumaxDisk *disk, const CommandRequest &request);

// -r -l and -r -i: {"disk", "recordings"}. With -l every recording file, else those -i
// names (a number without one ends the run, as without --json); programme information
// for all unless -n, and always for those -i names.
void cmd_json_recovery(HumaxDisk *disk, const CommandRequest &request);
