// The JSON writer: escaping by JSON's rules (and of what a terminal would act on), any
// bytes turned into valid UTF-8, and documents that a strict parser takes back whole.
#include <gtest/gtest.h>

#include <string>

#include "common/json.h"
#include "json_doc.h"

namespace {

const std::string FFFD = "\xEF\xBF\xBD";

struct Escape {
    std::string input;
    std::string literal; // as written, quotes included
    std::string decoded; // what a parser reads back
};

const Escape ESCAPES[] = {
    {"say \"hi\" \\ there", R"("say \"hi\" \\ there")", "say \"hi\" \\ there"},
    {"a\nb\tc\rd\be\ff", R"("a\nb\tc\rd\be\ff")", "a\nb\tc\rd\be\ff"},
    {std::string("\x00\x01\x1B[2J", 6), R"("\u0000\u0001\u001b[2J")", std::string("\x00\x01\x1B[2J", 6)},
    // DEL, a C1 control (CSI) and U+2028 are legal in JSON but escaped all the same.
    {"\x7F \xC2\x9B \xE2\x80\xA8", R"("\u007f \u009b \u2028")", "\x7F \xC2\x9B \xE2\x80\xA8"},
    {"Caf\xC3\xA9 \xF0\x9F\x8E\xAC", "\"Caf\xC3\xA9 \xF0\x9F\x8E\xAC\"", "Caf\xC3\xA9 \xF0\x9F\x8E\xAC"},
    // A Latin-1 byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF.
    {"Caf\xE9", "\"Caf" + FFFD + "\"", "Caf" + FFFD},
    {"\xE2\x82|\xC0\xAF", "\"" + FFFD + FFFD + "|" + FFFD + FFFD + "\"", FFFD + FFFD + "|" + FFFD + FFFD},
    {"\xED\xA0\x80", "\"" + FFFD + FFFD + FFFD + "\"", FFFD + FFFD + FFFD},
    {"\xF4\x90\x80\x80", "\"" + FFFD + FFFD + FFFD + FFFD + "\"", FFFD + FFFD + FFFD + FFFD},
};

TEST(JsonWriter, EscapesByJsonRulesAndMakesAnyBytesValidUtf8)
{
    for (const Escape &e : ESCAPES)
        EXPECT_EQ(json_quoted(e.input), e.literal) << e.input;
}

TEST(JsonWriter, DocumentsReadBackWhole)
{
    SKIP_WITHOUT_PYTHON();
    JsonWriter json;
    json_begin_object(&json);
    json_key(&json, "texts");
    json_begin_array(&json);
    for (const Escape &e : ESCAPES)
        json_string(&json, e.input);
    json_end_array(&json);
    json_key(&json, "empty");
    json_begin_object(&json);
    json_end_object(&json);
    json_key(&json, "numbers");
    json_begin_array(&json);
    json_int(&json, -2);
    json_uint(&json, UINT64_MAX);
    json_bool(&json, true);
    json_null(&json);
    json_end_array(&json);
    json_end_object(&json);
    std::string text = json_finish(&json);
    EXPECT_EQ(text.back(), '\n');
    testjson::Value doc = testjson::parse(text);
    EXPECT_EQ(doc.keys(), (std::vector<std::string>{"texts", "empty", "numbers"}));
    for (size_t i = 0; i < std::size(ESCAPES); ++i)
        EXPECT_EQ(doc["texts"][i].str(), ESCAPES[i].decoded) << i;
    EXPECT_EQ(doc["empty"].size(), 0u);
    EXPECT_EQ(doc["numbers"][0].integer(), -2);
    EXPECT_EQ(doc["numbers"][1].digits(), "18446744073709551615");
    EXPECT_TRUE(doc["numbers"][2].flag());
    EXPECT_TRUE(doc["numbers"][3].is_null());

    JsonWriter failure;
    std::string disk = "disk.img";
    json_failure(&failure, &disk, 8, "Partition table: Input/output error\n");
    testjson::Value failed = testjson::parse(json_finish(&failure));
    EXPECT_EQ(failed["error"].str(), "Partition table: Input/output error");
    EXPECT_EQ(failed["status"].integer(), 8);
    JsonWriter nameless;
    json_failure(&nameless, nullptr, 1, "Humax disk not found\n");
    EXPECT_TRUE(testjson::parse(json_finish(&nameless))["disk"].is_null());
}

TEST(JsonWriter, Hex)
{
    const uint8_t bytes[] = {0x10, 0x69, 0x37, 0x00, 0xFF, 0xA0};
    EXPECT_EQ(json_hex(bytes, sizeof bytes), "10693700ffa0");
}

} // namespace
