#pragma once
// Opening and probing host files where Linux and Windows differ: Windows opens files in
// text mode unless told otherwise (every 0x0A would gain a 0x0D and reading would stop at
// 0x1A), and has no lstat.

// Opens `path` for reading in binary mode, not inherited by child processes; positions
// are 64-bit (lseek beyond 4 GiB works). Returns the descriptor, or -1 with errno set.
int platform_open_read(const char *path);

// True when something exists at `path` without following a final link: a file, a
// directory, or a link even when dangling.
bool platform_path_taken(const char *path);
