#pragma once
#include <cstddef>
#include <cstdio>

// Asks for a yes/no answer on standard input; the caller has printed the question
// (ending in "[no]: ") on standard error. Under -y (run_options.ask == 0) prints "yes\n"
// and answers yes without reading. y, ye and yes in any case, followed by the end of the
// line, are yes; anything else, end of input and read failures are no. Under --json
// (run_options.json) without -y nothing is read: the run ends with status 1.
// Returns 1 for yes, 0 for no.
int prompt_yes_no();

// Prints `question` on standard error and asks; on no ends the run with `status`, after
// `farewell` (nothing when it is empty).
void prompt_or_end(const char *question, int status, const char *farewell = "Aborting...\n");

// The same, reading from `input` (for tests).
int prompt_yes_no_from(FILE *input);

// Reads one line (with its newline when it fits) into *buffer. A missing buffer or a
// capacity of 0 first gets a new buffer of 120 bytes (to be released with free).
// Returns the capacity, or -1 when a holder is missing, memory cannot be obtained or
// nothing could be read.
int prompt_read_line(char **buffer, size_t *capacity, FILE *input);

// Lower-cases each ASCII letter in place.
void text_to_lower(char *text);
