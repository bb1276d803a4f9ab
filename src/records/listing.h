#pragma once
// The numbered list of recordings and the host names of recordings. Recordings are
// numbered 1, 2, ... in list order up to the first entry whose file number is 0 or
// differs from its copy.
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/record_entry.h"
#include "disk/humax_disk.h"

constexpr size_t HOST_NAME_SIZE = 256;

// With number 0: prints every list line on standard output and returns the last entry
// printed. With number n >= 1: prints recording n's line and returns its entry, or null
// (printing nothing). With `host_name` (HOST_NAME_SIZE bytes), the line shows the date in
// the file-name form and the host file name of the printed recording (its stem as
// reclist_host_stem gives it, then ".ts") is stored there. Each entry's N.av is looked up
// at most once per run.
RecordEntry *reclist_walk(HumaxDisk *disk, int number, char *host_name);

// Finds recording n (n >= 1) printing its line like reclist_walk; 0 and negative numbers
// name no recording (null, nothing printed).
RecordEntry *reclist_walk_to(HumaxDisk *disk, int number, char *host_name);

// Writes the list lines to `out` as -l prints them (number 0: all; n >= 1: only
// recording n's). Returns the last entry written, or null when none was.
RecordEntry *reclist_print(FILE *out, HumaxDisk *disk, int number);

// The host name stems ("YYYYmmdd HHMM title", without extension) of every numbered
// recording, element i for recording i + 1. A stem is the start time (UTC) and the title,
// cleaned for host file systems (sanitize_file_name, and DEL becomes '_' as well): the
// plain stem. Stems are unique over the list, comparing ASCII letters without case (as
// Windows and FAT drives compare names): a recording whose plain stem no other shares
// keeps it; recordings that share one all get " (N)" with their file number N added
// (and "-2", "-3", ... after N in the rare case that is taken too). So a name never
// passes from one recording to another when a third is deleted, and the same list always
// gives the same names. Prints nothing and changes nothing.
std::vector<std::string> reclist_host_stems(const HumaxDisk *disk);

// The same with the title decoded from the disk's DVB text into UTF-8 (dvb_text_utf8), for
// hosts that take such names (the mount): characters -g replaces in ASCII, and every
// control character, become '_'; a title in a table that is not decoded keeps -g's form.
// Unique by the same rule, over these stems: a recording's stem here may differ from its
// -g stem in its characters and in whether it takes its file number (two titles -g
// cleans alike keep their own names here), never from another recording's.
std::vector<std::string> reclist_utf8_stems(const HumaxDisk *disk);

// The host name stem of recording n (as in reclist_host_stems), or none when there is no
// recording n. Prints nothing.
std::optional<std::string> reclist_host_stem(const HumaxDisk *disk, int number);

// The two forms a recording's stem takes in reclist_host_stems: the plain stem, and the
// plain stem with " (N)" for its file number N (before any "-2" a collision adds).
std::string reclist_plain_stem(const RecordEntry *entry);
std::string reclist_numbered_stem(const RecordEntry *entry);
