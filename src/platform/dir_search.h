#pragma once
// Wildcard search of one host directory (the argument of -p).
//
// A pattern is split at its last '/': the part before it names the directory ("/" when
// it is the leading character alone), the part after it is matched against the names in
// that directory with '*', '?' and '[...]' as the shell matches them (a leading '.' only
// by a pattern that starts with '.'; "." and ".." never). A pattern without '/' searches
// the current directory. The whole directory is read when the search starts and the
// matching names are handed out sorted bytewise, so the order does not depend on the
// file system.
//
// The directory stays open until the search is closed: found names are bare names, to
// be opened relative to dir_search_fd() (openat, fstatat), so the process's current
// directory is never changed.
#include <cstddef>
#include <dirent.h>
#include <string>
#include <vector>

struct DirSearch {
    DIR *directory = nullptr;        // the searched directory, open until closed
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

// Descriptor of the searched directory, for opening found names relative to it.
int dir_search_fd(const DirSearch *search);

// Closes the directory and forgets the names (which become invalid). A search that was
// never started or is already closed is left alone.
void dir_search_close(DirSearch *search);
