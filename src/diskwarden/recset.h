#pragma once
// Recording lists such as "10-20,30,41-42": items separated by commas, each a number or
// two numbers joined by a dash (descending when the second is smaller); blanks may stand
// around numbers and separators.
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

struct HumaxDisk;

// The numbers of a list in the order first added, without repeats.
struct RecordingSet {
    std::vector<int32_t> values;
    std::unordered_set<int32_t> present;
};

// Appends `number` unless the set holds it already.
void recset_add(RecordingSet *set, int32_t number);
void recset_free(RecordingSet *set);

// Adds the listed numbers to the set. A list whose first non-blank character is not a
// digit 1-9, or a range with an end below 1 or above 65535, ends the process with
// "Invalid range\n" before anything is added.
void recset_parse(const char *text, RecordingSet *set);

using RecordingAction = int (*)(HumaxDisk *disk, int number);
using CopyAction = int (*)(HumaxDisk *source, HumaxDisk *destination, int number);

// Parses the whole list first (a bad list ends the process before any action), then
// calls the action once per number in set order. Returns 0.
int recset_for_each(const std::string &list, HumaxDisk *disk, RecordingAction action);
int recset_for_each(const std::string &list, HumaxDisk *source, HumaxDisk *destination,
                    CopyAction action);
