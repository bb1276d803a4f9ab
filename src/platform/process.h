#pragma once
// What the programs expect of their process on every host, set up first thing in main.

// On Windows: standard error unbuffered, as on POSIX hosts (so that the program's
// messages keep their order with those the C library writes itself, such as perror's),
// and every wildcard argument expanded (platform_expand_arguments), since neither cmd
// nor the MinGW runtime does it; the new argument vector lives until the process ends.
// Elsewhere nothing changes: the shell has expanded the arguments.
void platform_start(int *argc, char ***argv);
