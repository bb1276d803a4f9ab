#pragma once
// The temporary files of host copies, the same on every host: how they are named, and
// the table of those a run has open, which an interruption or an error exit removes. Each
// host's half of host_file only creates, removes and renames them with its own calls.
//
// A temporary is named after its final name: FINAL.diskwarden-PID.part, or
// FINAL.diskwarden-PID-K.part (K = 1, 2, ...) when that name was taken, where PID is the
// writing process's identifier. A final name too long for a directory entry gives way to
// the bare tag (.diskwarden-PID.part) on hosts that shorten it.
#include <cstddef>
#include <cstdint>
#include <string>

constexpr int HOST_TEMPORARY_SLOTS = 4;
// The longest path the table holds (longer ones are still written, but an interruption
// cannot remove them; the next run in their directory does).
constexpr size_t HOST_TEMPORARY_PATH_MAX = 4096;

// ".diskwarden-PID.part" (attempt 0) or ".diskwarden-PID-K.part" (attempt K > 0).
std::string host_temporary_tag(int64_t pid, int attempt);

// The writing process's identifier when `name` (a bare file name, no directory) is a
// temporary's name as host_temporary_tag ends it (the text before the tag may be empty);
// 0 when it is not one: every other name, a PID of 0 or with a leading zero, a missing
// or malformed attempt number.
int64_t host_temporary_owner(const char *name);

// Registers the path of a temporary file this run has just created. Returns its slot, or
// -1 when the table is full or the path too long (the file is then not removed by an
// interruption). Safe against a signal handler or console handler that removes
// temporaries at the same time.
int host_temporary_claim(const std::string &path);

// Forgets a slot (after the file was renamed or removed); -1 is ignored.
void host_temporary_release(int slot);

// Removes every registered file with `remove` and forgets it; each slot is removed at
// most once even when a handler and an exit run this together. Async-signal-safe when
// `remove` is.
void host_temporaries_remove(void (*remove)(const char *path));

// Removes from `directory` the temporary files of runs that have ended (a kill, a crash,
// a lost power supply): a name as host_temporary_owner reads it, of a regular file (never
// a link), owned by this user, whose process no longer exists and which no process holds
// locked (a writing run keeps a lock on its temporary file). Nothing else is touched.
// Returns the number of files removed; 0 when the directory cannot be read. Hosts whose
// temporaries vanish with their process by themselves remove nothing.
int host_remove_leftovers(const char *directory);
