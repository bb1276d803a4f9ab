#pragma once
#include <cstddef>

#include "common/fatal.h"

// Room for a recording's file name on the disk ("%d.av", "%d.elu", "%d.epg" with numbers
// below 65536), with its terminator.
constexpr size_t DISK_NAME_SIZE = 21;

// Replaces a file name's extension in place.
//
// With a search marker (any text; callers pass the extension they expect to replace,
// for readability only), the position of the extension is searched in `name`: the last
// '.' of its base name (the part after the last '/'), or the end of the name when the
// base name has no '.' (the extension is then appended). The position and the end of the
// buffer (`name` + `capacity`) are remembered for later calls.
// Without a marker, `name` and `capacity` are not used: the extension is written at the
// remembered position of the last searching call.
//
// The extension is written as a fixed 5-byte field (its characters, then NUL bytes).
// Returns 1 when written; 0 when no position is known or the buffer has no room for the
// 5 bytes (nothing is written then).
int name_set_extension(const char *extension, const char *search_marker, char *name,
                       size_t capacity);

// Forgets the remembered position (for tests and for callers that free the buffer).
void name_forget_extension();

// printf-style formatting into `buffer`, at most `size` bytes including the terminator;
// longer output is cut.
void format_bounded(char *buffer, size_t size, const char *format, ...) DW_PRINTF(3, 4);

// Makes a name safe for host file systems, in place: bytes 0x01-0x1F and 0x80-0xFF and
// the characters " / \ < > ? : * | become '_'.
void sanitize_file_name(char *name);
