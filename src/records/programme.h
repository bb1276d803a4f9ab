#pragma once
// What a recording's programme information says, as data rather than as -i's display.
#include <string>

#include "disk/humax_disk.h"

struct Error;

// The synopsis of the programme of the .epg file `epg_name` (partition EPG): of its events
// with a duration, the longest one's (a recording that starts with trailers has the film
// as its longest event), decoded from the disk's DVB text into UTF-8 (dvb_text_utf8).
// Empty when there is no such file or event, or the text is in a table not decoded. False,
// with *error set, when the file could not be read.
bool programme_synopsis(HumaxDisk *disk, const char *epg_name, std::string *utf8, Error *error);
