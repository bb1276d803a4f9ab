// Broadcast text to UTF-8: each kind of character-table prefix, the default table's
// diacritics, the broadcast controls, and the end of the text; ISO 8601 times.
#include <gtest/gtest.h>

#include <string>

#include "records/dvb_text.h"
#include "records/text.h"

namespace {

std::string decoded(const std::string &field, bool *known = nullptr)
{
    std::string out = "left over";
    bool ok = dvb_text_utf8(reinterpret_cast<const uint8_t *>(field.data()), field.size(), &out);
    if (known != nullptr)
        *known = ok;
    return out;
}

struct Case {
    std::string field;
    std::string utf8;
};

TEST(DvbText, EachTableDecodes)
{
    const std::string fffd = "\xEF\xBF\xBD";
    const Case cases[] = {
        // No prefix: ISO 6937, a diacritic before its letter.
        {"Caf\xC2" "e", "Caf\xC3\xA9"},
        {"\xC8u \xCFs \xCB" "c \xCD" "o", "\xC3\xBC \xC5\xA1 \xC3\xA7 \xC5\x91"},
        {"\xC2Q", "Q\xCC\x81"},            // no such letter: the letter and the mark
        {"end\xC2", "end\xCC\x81"},        // a diacritic with no letter after it
        {"\xA4 \xE9 \xD5 \xA6", "\xE2\x82\xAC \xC3\x98 \xE2\x99\xAA " + fffd}, // euro, O slash, note, unassigned
        // One-byte prefixes: ISO 8859-5 (Cyrillic), -9 (Turkish).
        {"\x01\xBF\xE0\xD8\xD2\xD5\xE2", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        {"\x05\xFD", "\xC4\xB1"},
        // Three-byte prefixes: ISO 8859-7 (Greek) and -1; reelhead's and other unknown
        // tables fall back to the default table behind their three bytes.
        {std::string("\x10\x00\x07\xE1", 4), "\xCE\xB1"},
        {std::string("\x10\x00\x01\xE9", 4), "\xC3\xA9"},
        {"\x10\x69\x37" "Caf\xC2" "e", "Caf\xC3\xA9"},
        {std::string("\x10\x00\x0C\xC2" "e", 5), "\xC3\xA9"},
        {std::string("\x00Zero", 5), "Zero"},
        // UCS-2 (big-endian) up to its zero code unit, with the line-break control.
        {std::string("\x11\x04\x1F\x00\x41\xE0\x8A\x00\x42\x00\x00\x00\x43", 13), "\xD0\x9F" "A\nB"},
        {std::string("\x11\x00\x41\x00", 4), "A" + fffd},
        // UTF-8 as stored, invalid bytes replaced, emphasis marks dropped.
        {"\x15" "Caf\xC3\xA9 \xFF\xEE\x82\x86!", "Caf\xC3\xA9 " + fffd + "!"},
        // Broadcast controls in single-byte text; other controls stay themselves.
        {"A\x86" "B\x87" "C\x8A" "D\x9B\x1B", "ABC\nD\xC2\x9B\x1B"},
        {std::string("Title\0garbage", 13), "Title"},
        {std::string(52, 'A'), std::string(52, 'A')},
        {"", ""},
    };
    for (const Case &c : cases) {
        bool known = false;
        EXPECT_EQ(decoded(c.field, &known), c.utf8) << c.field;
        EXPECT_TRUE(known) << c.field;
    }
}

TEST(DvbText, MultiByteTablesAreNotDecoded)
{
    for (char prefix : {'\x12', '\x13', '\x14', '\x16', '\x1F'}) {
        bool known = true;
        EXPECT_EQ(decoded(std::string(1, prefix) + "\xB0\xA1", &known), "");
        EXPECT_FALSE(known) << int(prefix);
    }
}

TEST(TextIsoTime, UtcFromAllOf32Bits)
{
    EXPECT_EQ(text_iso_time(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(text_iso_time(1369602000), "2013-05-26T21:00:00Z");
    EXPECT_EQ(text_iso_time(951782400), "2000-02-29T00:00:00Z");
    EXPECT_EQ(text_iso_time(1709164800), "2024-02-29T00:00:00Z");
    EXPECT_EQ(text_iso_time(2147483648u), "2038-01-19T03:14:08Z");
    EXPECT_EQ(text_iso_time(0xFFFFFFFFu), "2106-02-07T06:28:15Z");
}

} // namespace
