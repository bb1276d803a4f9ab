#pragma once
// Wildcard search of one host directory (the argument of -p).
//
// A pattern is split at its last separator: the part before it names the directory (the
// root when the separator is the leading character alone), the part after it is matched
// against the names in that directory; a pattern without one searches the current
// directory. The separator is '/' on POSIX systems; on Windows '\' or '/', and a leading
// drive ("C:*.ts") names that drive's current directory.
//
// Matching is the host's own: on POSIX systems '*', '?' and '[...]' as the shell matches
// them; on Windows the directory search of the system (FindFirstFileW), '*' and '?'
// with letters in either case. On both, a name starting with '.' matches only a pattern
// starting with '.', and "." and ".." never. The whole directory is read when the search
// starts and the matching names are handed out sorted bytewise, so the order does not
// depend on the file system.
//
// The directory stays open until the search is closed: found names are bare names, to be
// looked up relative to dir_search_directory() (host_status_at, host_open_read_at), so the
// process's current directory is never changed.
#include <cstddef>
#include <string>
#include <vector>

struct DirSearch {
    int directory = -1;              // the searched directory's handle, open until closed
    std::vector<std::string> names;  // the matching names, sorted
    size_t position = 0;             // the next name to hand out
    int error = 0;                   // errno of a failed open or read; 0 otherwise
};

enum class SearchStart { Found, NoMatch, Failed };

// Starts a search for `pattern`. Found: *name is the first matching name. NoMatch: the
// directory was read and nothing matched. Failed: the directory could not be opened or
// read (search->error holds errno). Close the search in every case.
SearchStart dir_search_first(DirSearch *search, const char *pattern, const char **name);

// Stores the next matching name in *name and returns true; false at the end of the
// names. After false, search->error is 0 for the normal end.
bool dir_search_next(DirSearch *search, const char **name);

// The handle of the searched directory (platform/host_file.h), for looking found names
// up relative to it; -1 when no search is open.
int dir_search_directory(const DirSearch *search);

// How a host writes paths: POSIX ('/' only) or Windows ('\\' and '/', drive letters).
enum class PathStyle { Posix, Windows };

// Splits `pattern` into the directory to search ("." when it names none) and the part to
// match (see above), in the given style.
void dir_search_split(const char *pattern, PathStyle style, std::string *directory,
                      std::string *file_part);

// The host-specific half: adds to search->names every name of the open directory
// (search->directory, reached by `directory_path` as split) that `file_part` matches by
// this host's rules, unsorted. False (errno set) when the directory cannot be read.
bool dir_search_collect(DirSearch *search, const std::string &directory_path,
                        const std::string &file_part);

// Closes the directory and forgets the names (which become invalid). A search that was
// never started or is already closed is left alone.
void dir_search_close(DirSearch *search);
