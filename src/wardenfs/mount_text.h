#pragma once
// What the mount takes from the records layer's texts: the host names that -g gives the
// recordings, and the programme information as -i shows it.
#include <string>
#include <vector>

#include "disk/humax_disk.h"

// The host name stems ("YYYYmmdd HHMM title", without extension, unique over the list) of
// recordings 1, 2, ... in list order: NAME.ts and its companions as -g names them.
std::vector<std::string> mount_recording_stems(HumaxDisk *disk);

// The text -i shows for recording `number` (its list line, then its information), stored
// in *text; false when there is no such recording, or (with *error set) when its .epg
// could not be read.
bool mount_recording_text(HumaxDisk *disk, int number, std::string *text, Error *error);
