#pragma once
// Console output on Windows. The programs write UTF-8 (file names) and the bytes of disk
// text through the C library, which hands a console those bytes to be read in the
// console's code page: anything outside ASCII would come out garbled. So while standard
// output or standard error is a console, it is a pipe instead, and a thread decodes what
// arrives there (platform/unicode.h: UTF-8, other bytes as Latin-1) and writes it to the
// console with WriteConsoleW, in order, both streams through the one pipe. Output to a
// pipe or a file is left alone: its bytes stay as written.

// Starts the relay where a console is (first thing in main, before anything is written);
// what is written reaches the console before the process ends by exit. Returns whether
// standard error was a console.
bool win_console_start();
