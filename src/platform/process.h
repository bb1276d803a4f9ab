#pragma once
// What the programs expect of their process on every host, set up first thing in main.

// Whether the program expands wildcard arguments itself where the shell leaves them.
// reelhead takes lists of files (Expand); diskwarden's one pattern argument, that of -p,
// is searched by the program itself and must arrive as it was typed (Keep).
enum class ArgumentWildcards { Expand, Keep };

// On Windows: standard error unbuffered, as on POSIX hosts (so that the program's
// messages keep their order with those the C library writes itself, such as perror's);
// output to a console written in UTF-16 (platform/win_console.h); the arguments taken
// from the system's UTF-16 command line and kept as UTF-8, as every host path is inside
// the programs; and, with ArgumentWildcards::Expand, every wildcard argument expanded
// (platform_expand_arguments), since neither cmd nor the MinGW runtime does it. The new
// argument vector lives until the process ends. Elsewhere nothing changes: the shell has
// expanded the arguments, and they are the bytes the file system takes.
void platform_start(int *argc, char ***argv, ArgumentWildcards wildcards);

// Whether standard error is a terminal that someone watches, for progress lines: a tty on
// POSIX systems; a console on Windows (never a pipe or a file, nor the NUL device, which
// the C library's isatty counts as a terminal).
bool platform_stderr_is_terminal();
