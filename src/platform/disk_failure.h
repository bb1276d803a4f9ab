#pragma once
// Why a disk could not be opened or locked, worded by its cause for the programs' edges
// to report: each cause its own line, never one "in use" for all of them.
#include <string>

// For the backends: what errno alone does not say about the failure of the current
// platform_disk_open (the whole message line of a refusal the backend worded itself, such
// as the volumes on a drive) or lock (the lock file that could not be made). An open
// clears both; a lock clears its own.
void platform_note_refusal(const std::string &message);
void platform_note_lock_file(const std::string &path);

// The message line (with its newline) for a platform_disk_open of `path` that failed
// with errno `error`: the backend's refusal, a drive that is mounted or that another
// program holds (EBUSY), else the system's error text after the path, as perror writes it.
std::string platform_open_failure(const char *path, int error);

// The message line for a disk lock not taken with errno `error`: another process holds
// the disk (EWOULDBLOCK: "PATH is in use by another process"), else why the lock could not
// be taken at all (denied, no locks on that file system, ...), naming the lock file of a
// drive when that could not be made.
std::string platform_lock_failure(const char *path, int error);
