#pragma once
// Host files, in one place for every program and platform.
//
// Files the programs write are complete or absent: each goes to a temporary name beside
// its final name, created anew (never through a link), and is renamed onto the final name
// only when complete and flushed to storage. A run that fails, or is interrupted (SIGINT,
// SIGTERM, the SIGHUP of a closed terminal, ...), removes its temporary files; messages
// name the final name. What a run could not remove (it was killed) the next run that
// writes into the same directory removes (host_temporaries.h).
//
// Files the programs read are opened relative to a directory handle (HOST_CWD for the
// current directory, or the handle of a searched directory from host_directory_open), so
// that the current directory never has to change. A handle is a small number on every
// host: a descriptor on POSIX systems, a place in a table of directory paths on Windows.
#include <cstddef>
#include <cstdint>
#include <string>

constexpr int HOST_CWD = -100; // the current directory (AT_FDCWD on POSIX systems)

struct HostOutput {
    int fd = -1;
    std::string final_path;
    std::string temp_path;
    uint64_t written = 0;  // bytes written so far
    uint64_t flushed = 0;  // bytes whose write-back to storage has been started
    int slot = -1;         // place in the table of temporaries to remove on failure
};

// True when anything exists at `path` itself: a file, a directory, a device, or a
// symbolic link (followed or not, dangling or not).
bool host_exists(const char *path);

// Creates the temporary file for `final_path` in the same directory, the first time in a
// directory after removing the temporaries that ended runs left there. False (errno set)
// when it cannot be created; nothing is left behind then.
bool host_output_begin(HostOutput *out, const char *final_path);

// Writes all `length` bytes. False (errno set) on failure (EFBIG for a file-size limit);
// the caller reports it and abandons the output.
bool host_output_write(HostOutput *out, const void *data, size_t length);

// Writes `length` bytes at `offset` of what was already written (a later pass filling in
// what an earlier one could not read). False (errno set) on failure.
bool host_output_write_at(HostOutput *out, uint64_t offset, const void *data, size_t length);

// Whether committing may replace what is at the final name.
enum class HostReplace { Yes, Never };

// Flushes the file to storage, closes it and renames it onto the final name. With
// HostReplace::Yes what is there is replaced (a link itself, never its target); with
// Never, anything there (a link included) makes the commit fail with EEXIST. False (errno
// set) on failure, after removing the temporary file.
bool host_output_commit(HostOutput *out, HostReplace replace = HostReplace::Yes);

// Closes and removes the temporary file (safe to call for an output never begun, or
// already committed or abandoned).
void host_output_abandon(HostOutput *out);

// Installs the process-wide handling every writing program needs: SIGHUP, SIGINT,
// SIGQUIT, SIGPIPE, SIGTERM, SIGUSR1, SIGUSR2 and SIGALRM remove the temporary files and
// then end the process as the signal would (a signal the program was started to ignore,
// as under nohup, stays ignored); SIGXFSZ is ignored so that a file-size limit ends with
// the system's report (EFBIG); an error exit removes the temporary files too.
void host_output_install_cleanup();

// Opens the directory at `path` as a handle that host_status_at and host_open_read_at
// look names up in. Returns the handle, or -1 (errno set: ENOENT, ENOTDIR, ...).
int host_directory_open(const char *path);

// Releases a handle from host_directory_open (-1 and HOST_CWD are left alone).
void host_directory_close(int directory);

// Facts about a host file, from its status.
struct HostStatus {
    bool regular = false;
    bool directory = false;
    uint64_t size = 0;
    int64_t modified = 0; // seconds since 1970
};

// The status of `name` relative to `directory` (following links). False (errno set) on
// failure.
bool host_status_at(int directory, const char *name, HostStatus *status);

// Opens `name` relative to `directory` for reading (binary), without waiting (opening a
// FIFO would otherwise block until a writer comes). Returns a descriptor, or -1 (errno
// set).
int host_open_read_at(int directory, const char *name);

// True when the open descriptor is a regular file (not a directory, device or FIFO).
bool host_is_regular(int fd);

// Reads until `length` bytes are in or the file ends; *got receives the count. False
// (errno set) on a read error.
bool host_read_fully(int fd, void *data, size_t length, size_t *got);

// Moves the position of a file opened for reading: from its start, from where it is, or
// from its end, with 64-bit offsets on every host. Returns the new position, or -1
// (errno set).
enum class HostSeek { Start, Current, End };
int64_t host_seek(int fd, int64_t offset, HostSeek from);

void host_close(int fd);

// Opens the existing regular file `path` for writing in place (never creating it, never
// through a link): for completing a copy whose missing bytes can now be read. Returns a
// descriptor, or -1 (errno set).
int host_open_update(const char *path);

// Writes all `length` bytes at `offset` of a file opened with host_open_update. False
// (errno set) on failure.
bool host_write_at(int fd, uint64_t offset, const void *data, size_t length);

// Makes what was written to `fd` durable. False (errno set) on failure.
bool host_sync(int fd);

// Removes the file `path` (a link itself, never its target). False (errno set) on failure.
bool host_remove(const char *path);
