#pragma once
// The recording entry: one fixed-length record of the record list, which is also the
// whole content of a .hre header file. All numbers in it are big-endian.
#include <cstdint>

constexpr unsigned RECORD_BUFFER_SIZE = 316;
constexpr unsigned RECORD_LENGTH_SHORT = 304;
constexpr unsigned RECORD_LENGTH_LONG = 316;

// Offsets of the fields (the same for both record lengths unless said).
constexpr unsigned ENTRY_LEAD_BYTES = 0;
constexpr unsigned ENTRY_LEAD_LENGTH = 5;
constexpr unsigned ENTRY_FILE_NUMBER = 5;
constexpr unsigned ENTRY_FILE_NUMBER_CHECK = 9;
constexpr unsigned ENTRY_MARKER = 11;
constexpr unsigned ENTRY_NO_VIDEO = 16;
constexpr unsigned ENTRY_START_TIME = 17;
constexpr unsigned ENTRY_END_TIME = 21;
constexpr unsigned ENTRY_TITLE = 25;
constexpr unsigned ENTRY_TITLE_LENGTH = 52;
constexpr unsigned ENTRY_CHANNEL = 77;
constexpr unsigned ENTRY_CHANNEL_LENGTH = 24;
constexpr unsigned ENTRY_LCN = 105;
constexpr unsigned ENTRY_NO_VIDEO_MARKER = 265;
constexpr unsigned ENTRY_SERVICE_ID = 275;
constexpr unsigned ENTRY_PMT_PID = 277;
constexpr unsigned ENTRY_VIDEO_PID = 279;
constexpr unsigned ENTRY_AUDIO_PID = 281;
constexpr unsigned ENTRY_PCR_PID = 283;
constexpr unsigned ENTRY_SPARE_PID = 285;

// Two fields are placed from the end of the entry and move with the record length.
constexpr unsigned entry_status_offset(unsigned record_length) { return record_length - 203; }
constexpr unsigned entry_mg_offset(unsigned record_length) { return record_length - 35; }

constexpr uint8_t PROTECTED = 0x40;       // bit of the status flags
constexpr uint16_t PID_NONE = 0x2000;     // one above the 13-bit PID range
constexpr uint8_t LIST_SIGNATURE[ENTRY_LEAD_LENGTH] = {0x01, 0x00, 0x00, 0x01, 0x01};

// Bits of the in-memory state byte (never stored).
constexpr uint8_t STATE_MARKED_FOR_DELETE = 0x01;
constexpr uint8_t STATE_AV_CHECKED = 0x02;
constexpr uint8_t STATE_AV_PRESENT = 0x04;

struct RecordEntry {
    uint8_t bytes[RECORD_BUFFER_SIZE]{};
    uint8_t state = 0;
    RecordEntry *next = nullptr;
};

struct RecordList {
    RecordEntry *head = nullptr;
    RecordEntry *tail = nullptr;
    int count = 0;
    unsigned record_length = 0; // 304 or 316; 0 until decided
};

uint16_t entry_be16(const RecordEntry *entry, unsigned offset);
uint32_t entry_be32(const RecordEntry *entry, unsigned offset);
void entry_put_be16(RecordEntry *entry, unsigned offset, uint16_t value);
void entry_put_be32(RecordEntry *entry, unsigned offset, uint32_t value);

// Stores `number` into both file-number fields.
void entry_set_file_number(RecordEntry *entry, unsigned number);

// True when the entry's protected bit is set (status flags at record_length - 203).
bool entry_is_protected(const RecordEntry *entry, unsigned record_length);

// Appends a zero-filled entry with state 0 at the tail; ends the process ("malloc") when
// memory cannot be obtained.
RecordEntry *reclist_append(RecordList *list);

// Removes the entry from the list and frees it; a null entry, an empty list or an entry
// that is not in the list is left alone.
void reclist_unlink(RecordList *list, RecordEntry *entry);

// With a nonzero mask: the first entry whose state has any bit of it. With mask 0: the
// entry at `position` counted from 1. Null when there is none or both are 0.
RecordEntry *reclist_find(const RecordList *list, int position, uint8_t mask);

// Unlinks and frees every entry.
void reclist_clear(RecordList *list);

