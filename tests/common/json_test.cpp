// The JSON writer: escaping by JSON's rules (and of what a terminal would act on), any
// bytes turned into valid UTF-8, and documents that a strict reader takes back whole.
#include <gtest/gtest.h>

#include <string>

#include "common/json.h"
#include "json_reader.h"

namespace {

struct Escape {
    std::string input;
    std::string literal; // as written, quotes included
    std::string decoded; // what a reader gets back
};

TEST(JsonWriter, EscapesByJsonRulesAndMakesAnyBytesValidUtf8)
{
    const std::string fffd = "\xEF\xBF\xBD";
    const Escape cases[] = {
        {"plain", "\"plain\"", "plain"},
        {"say \"hi\" \\ there", R"("say \"hi\" \\ there")", "say \"hi\" \\ there"},
        {"a\nb\tc\rd\be\ff", R"("a\nb\tc\rd\be\ff")", "a\nb\tc\rd\be\ff"},
        {std::string("\x00\x01\x1B[2J", 6), R"("\u0000\u0001\u001b[2J")", std::string("\x00\x01\x1B[2J", 6)},
        // DEL, a C1 control (CSI) and U+2028 are legal in JSON but escaped all the same.
        {"\x7F \xC2\x9B \xE2\x80\xA8", R"("\u007f \u009b \u2028")", "\x7F \xC2\x9B \xE2\x80\xA8"},
        {"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAC", "\"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAC\"",
         "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAC"},
        // Latin-1 bytes, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF.
        {"Caf\xE9", "\"Caf" + fffd + "\"", "Caf" + fffd},
        {"\xE2\x82", "\"" + fffd + fffd + "\"", fffd + fffd},
        {"\xC0\xAF", "\"" + fffd + fffd + "\"", fffd + fffd},
        {"\xED\xA0\x80", "\"" + fffd + fffd + fffd + "\"", fffd + fffd + fffd},
        {"\xF4\x90\x80\x80", "\"" + fffd + fffd + fffd + fffd + "\"", fffd + fffd + fffd + fffd},
    };
    for (const Escape &c : cases) {
        EXPECT_EQ(json_quoted(c.input), c.literal) << c.input;
        EXPECT_EQ(testjson::parse(json_quoted(c.input)).str(), c.decoded) << c.input;
    }
}

TEST(JsonWriter, NestedDocumentsReadBackWhole)
{
    JsonWriter json;
    json_begin_object(&json);
    json_key(&json, "disk");
    json_string(&json, "/tmp/a \"b\".img");
    json_key(&json, "empty");
    json_begin_array(&json);
    json_end_array(&json);
    json_key(&json, "none");
    json_begin_object(&json);
    json_end_object(&json);
    json_key(&json, "items");
    json_begin_array(&json);
    for (int i = 0; i < 3; ++i) {
        json_begin_object(&json);
        json_key(&json, "n");
        json_int(&json, -i);
        json_key(&json, "big");
        json_uint(&json, UINT64_MAX - static_cast<uint64_t>(i));
        json_key(&json, "odd");
        json_bool(&json, i % 2 == 1);
        json_key(&json, "nothing");
        json_null(&json);
        json_end_object(&json);
    }
    json_end_array(&json);
    json_end_object(&json);
    std::string text = json_finish(&json);
    ASSERT_EQ(text.back(), '\n');
    testjson::Value doc = testjson::parse(text);
    EXPECT_EQ(doc.keys(), (std::vector<std::string>{"disk", "empty", "none", "items"}));
    EXPECT_EQ(doc["disk"].str(), "/tmp/a \"b\".img");
    EXPECT_EQ(doc["empty"].size(), 0u);
    EXPECT_EQ(doc["none"].size(), 0u);
    ASSERT_EQ(doc["items"].size(), 3u);
    EXPECT_EQ(doc["items"][2]["n"].integer(), -2);
    EXPECT_EQ(doc["items"][0]["big"].text, "18446744073709551615");
    EXPECT_TRUE(doc["items"][1]["odd"].flag());
    EXPECT_TRUE(doc["items"][1]["nothing"].is_null());
}

TEST(JsonWriter, FailureDocumentAndHex)
{
    JsonWriter json;
    std::string disk = "disk.img";
    json_failure(&json, &disk, 8, "Partition table: Input/output error\n");
    testjson::Value doc = testjson::parse(json_finish(&json));
    EXPECT_EQ(doc["disk"].str(), "disk.img");
    EXPECT_EQ(doc["status"].integer(), 8);
    EXPECT_EQ(doc["error"].str(), "Partition table: Input/output error");

    JsonWriter none;
    json_failure(&none, nullptr, 1, "Humax disk not found\n");
    EXPECT_TRUE(testjson::parse(json_finish(&none))["disk"].is_null());

    const uint8_t bytes[] = {0x10, 0x69, 0x37, 0x00, 0xFF, 0xA0};
    EXPECT_EQ(json_hex(bytes, sizeof bytes), "10693700ffa0");
}

} // namespace
