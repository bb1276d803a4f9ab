#pragma once
// What the mount takes from the records layer's texts: the host names that -g gives the
// recordings, and the programme information as -i shows it.
#include <string>
#include <utility>
#include <vector>

#include "disk/humax_disk.h"

// The host name stems ("YYYYmmdd HHMM title", without extension, unique over the list) of
// recordings 1, 2, ... in list order, the title in UTF-8 (reclist_utf8_stems): NAME.ts
// and its companions as -g names them but for the title's characters.
std::vector<std::string> mount_recording_stems(HumaxDisk *disk);

// The text -i shows for recording `number` (its list line, then its information), stored
// in *text; false when there is no such recording, or (with *error set) when its .epg
// could not be read.
bool mount_recording_text(HumaxDisk *disk, int number, std::string *text, Error *error);

// The programme information of the .epg file `epg_name` of recording `number` of those
// recovery finds, as -r -i shows it: stored in *text; false, with *error set, when the file
// could not be read.
bool mount_recovery_text(HumaxDisk *disk, int number, const char *epg_name, std::string *text, Error *error);

// The extended attributes of a recording's files: user.title, user.channel (UTF-8),
// user.start (ISO 8601, UTC), user.duration (seconds) and user.synopsis (of its longest
// programme, when its .epg has one), in that order. False, with *error set (the rest
// given), when its .epg could not be read.
using MountAttributes = std::vector<std::pair<std::string, std::string>>;
bool mount_recording_attributes(HumaxDisk *disk, int number, MountAttributes *attributes, Error *error);
