#pragma once
// Wildcard arguments for a host whose shell leaves them to the program (Windows: neither
// cmd nor the MinGW runtime expands them).
#include <string>
#include <vector>

// True when `argument` holds '*' or '?', the wildcards of Windows file names.
bool platform_has_wildcard(const char *argument);

// Whether `name` matches `pattern` (both UTF-8): '*' any run of characters (also none),
// '?' exactly one, every other character itself with letters in either case (Windows file
// names are case-insensitive; here for the Latin, Greek and Cyrillic alphabets).
bool platform_wildcard_match(const char *pattern, const char *name);

// The names that `argument` stands for, as a shell would expand it: the part after the
// last '/' or '\' (or after "X:" leading a Windows path) is matched against the names of
// the directory before it (the current directory when there is none), each result
// keeping the argument's directory part as written. A name starting with '.' matches only a pattern starting with '.'; "." and
// ".." never. Sorted bytewise. Empty when the argument has no wildcard in its last part,
// its directory cannot be read or nothing matches (the caller then keeps the argument).
std::vector<std::string> platform_expand_wildcard(const char *argument);

// The command line with every wildcard argument after the program name replaced by the
// names it matches (platform_expand_wildcard); an argument that matches nothing stays as
// it is, as a shell leaves it.
std::vector<std::string> platform_expand_arguments(int argc, char **argv);

// The names in the directory that `prefix` leads to, except "." and ".." (the host's
// directory search). `prefix` is a directory path as written before a file name, with
// its final separator ("dir/", "C:\\", "C:"), or empty for the current directory.
// False when the directory cannot be read.
bool platform_directory_names(const std::string &prefix, std::vector<std::string> *names);
