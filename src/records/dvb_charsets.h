#pragma once
// The single-byte character tables of broadcast text, from 0xA0 up (below that every
// table is ASCII, then the C1 controls). Used by dvb_text.
#include <cstdint>

// The code point of `byte` (0xA0-0xFF) in ISO 8859 part `part`; 0 when the part leaves
// it unassigned, when `byte` is below 0xA0 or the part is not one of 1-11, 13-15.
uint16_t dvb_iso8859_upper(unsigned part, uint8_t byte);

// Whether `part` is a part of ISO 8859 there is a table for (1-11, 13-15).
bool dvb_iso8859_known(unsigned part);

// The code point of a spacing character `byte` (0xA0-0xFF) of ISO/IEC 6937 as DVB uses
// it (the euro sign at 0xA4); 0 for the diacritics 0xC1-0xCF and unassigned bytes.
uint16_t dvb_iso6937_upper(uint8_t byte);

// The combining mark (U+0300...) of the diacritic `byte` of ISO/IEC 6937; 0 when `byte`
// is no diacritic.
uint16_t dvb_iso6937_mark(uint8_t byte);

// The one character that diacritic `mark` and letter `base` form (0xC2 and 'e' give
// U+00E9), or 0 when there is none in Latin-1 or Latin Extended-A.
uint16_t dvb_iso6937_compose(uint8_t mark, char base);
