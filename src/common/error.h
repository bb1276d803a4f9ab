#pragma once
// A failure as the library reports it to its caller: composed where the fault is found
// (what failed, the system's error behind it, and the message the programs show for it),
// then shown, acted on or passed up by the caller. Only the programs' edges end the
// process with one (error_end).
#include <cstdint>
#include <string>

#include "common/fatal.h"

// What failed, for callers that act on the kind of a failure rather than show its text.
enum class ErrorKind : uint8_t {
    None,
    Open,         // the disk could not be opened (code: the system's error; EBUSY: in use)
    Locked,       // the disk's lock was not taken (code EWOULDBLOCK: another process holds it)
    SameDisk,     // two disks of one run are the same file or device
    Volume,       // the partition table, a descriptor, an allocation table or a directory
    Truncated,    // a truncated disk opened for writing
    Damaged,      // clusters in two files, or a name twice in a directory (writing refused)
    Format,       // the disk format is unknown
    RecordLength, // the record list's entry length cannot be decided
    RecordList,   // the record list lacks its signature
    Read,         // a file's contents could not be read (code: the system's error)
    Write,        // a file's contents could not be written (code: the system's error)
    Space,        // not enough free clusters
    Exists,       // a file of that name exists already
    Refused,      // a command's request does not fit the disk (a number, an offset, a format)
};

struct Error {
    ErrorKind kind = ErrorKind::None;
    int code = 0;     // the system's error number behind it; 0 when there is none
    std::string text; // the message as the programs show it: whole lines
};

inline bool error_is_set(const Error &error)
{
    return error.kind != ErrorKind::None;
}

// Fills *error with a formatted message and returns false, so that a failing function
// ends with `return error_set(...)`.
bool error_set(Error *error, ErrorKind kind, const char *format, ...) DW_PRINTF(3, 4);

// The same for a failed system call: the text is "label: " and the system's text for
// `code`, as perror writes it (the system's text alone when the label is empty).
bool error_set_errno(Error *error, ErrorKind kind, int code, const char *label);

// "label: <system text>\n" for `code`, exactly as perror writes it.
std::string error_errno_text(const char *label, int code);

// At a program's edge: shows the message (message_write) and ends the process with
// status 1 (through fatal_exit).
[[noreturn]] void error_end(const Error &error);

// Shows the message and carries on.
void error_warn(const Error &error);
