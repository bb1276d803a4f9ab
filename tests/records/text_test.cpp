// Text routines: character-table prefixes, printable copies, word wrapping, the rule.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "records/text.h"

namespace {

// A title field as the entry holds it (52 bytes and the terminator the callers add).
struct Field {
    char bytes[53] = {};
    explicit Field(const std::string &content) { content.copy(bytes, 52); }
};

std::string skipped(const std::string &content)
{
    Field field(content);
    return text_skip_charset(field.bytes);
}

TEST(TextSkipCharset, SkipsEachKindOfPrefix)
{
    EXPECT_EQ(skipped(std::string("\x10\x69\x37Some title", 13)), "Some title");
    // The three bytes are a prefix whatever they hold.
    EXPECT_EQ(skipped(std::string("\x10\x00\x00Hidden", 9)), "Hidden");
    EXPECT_EQ(skipped(std::string("\x05" "Five", 5)), "Five");
    EXPECT_EQ(skipped(std::string("\x0F" "Fifteen", 8)), "Fifteen");
    EXPECT_EQ(skipped(std::string("\x01" "One", 4)), "One");
    EXPECT_EQ(skipped(std::string("\x00Zero", 5)), "Zero");
    EXPECT_EQ(skipped(" Blank first"), " Blank first");
    EXPECT_EQ(skipped("Plain"), "Plain");
    EXPECT_EQ(skipped("\xC3\xA9t\xC3\xA9"), "\xC3\xA9t\xC3\xA9");
}

TEST(TextSkipCharset, UnsupportedTablesShowAFixedText)
{
    for (char first : {'\x11', '\x15', '\x1F'})
        EXPECT_EQ(skipped(std::string(1, first) + "Title"), "Unsupported character encoding")
            << int(first);
}

TEST(TextPrintable, ReplacesControlBytesOnly)
{
    // C0 controls, DEL and the C1 range 0x80-0x9F; Latin-1 letters from 0xA0 on stay.
    std::string source = "A\x01" "B\x1F" "C\x7F\x80\x9B\x9F\xA0\xE9\xFF \x1B[2J~";
    std::vector<char> out(source.size() + 1, 'X');
    text_printable(source.c_str(), out.data());
    EXPECT_EQ(std::string(out.data()), "A.B.C....\xA0\xE9\xFF .[2J~");
    EXPECT_EQ(text_shown(source.c_str()), std::string(out.data()));
    EXPECT_EQ(out.back(), '\0');

    char empty[2] = {'X', 'X'};
    text_printable("", empty);
    EXPECT_EQ(empty[0], '\0');
}

std::string wrapped(const std::string &text)
{
    testing::internal::CaptureStdout();
    print_wrapped(stdout, text.c_str());
    return testing::internal::GetCapturedStdout();
}

std::vector<std::string> lines_of(const std::string &output)
{
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> words_of(const std::string &text)
{
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

TEST(PrintWrapped, ShortTextsAreLeftAlone)
{
    EXPECT_EQ(wrapped(""), "");
    EXPECT_EQ(wrapped("One line"), "One line");
    std::string seventy_eight = std::string(38, 'a') + " " + std::string(39, 'b');
    EXPECT_EQ(wrapped(seventy_eight), seventy_eight);
}

TEST(PrintWrapped, CutsLongTextsAtTheLastSpaceOfEachLine)
{
    // 200 characters of short words with single spaces.
    std::string text;
    for (int i = 0; text.size() < 200; ++i)
        text += (text.empty() ? "" : " ") + std::string(1 + i % 7, char('a' + i % 26));
    text.resize(200);
    std::string out = wrapped(text);
    ASSERT_NE(out.back(), '\n');
    std::vector<std::string> lines = lines_of(out);
    ASSERT_GE(lines.size(), 3u);
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_LE(lines[i].size(), 79u) << i;
        EXPECT_NE(lines[i].front(), ' ');
        EXPECT_NE(lines[i].back(), ' ');
        if (i + 1 < lines.size()) { // the next word did not fit any more
            EXPECT_GE(lines[i].size() + 1 + words_of(lines[i + 1])[0].size(), 79u) << i;
        }
        joined += (i ? " " : "") + lines[i];
    }
    EXPECT_EQ(joined, text);
}

TEST(PrintWrapped, SeventyNineCharactersAreWrapped)
{
    std::string text = std::string(40, 'a') + " " + std::string(38, 'b');
    ASSERT_EQ(text.size(), 79u);
    EXPECT_EQ(wrapped(text), std::string(40, 'a') + "\n" + std::string(38, 'b'));
}

TEST(PrintWrapped, ARunOfSpacesAtACutDisappears)
{
    // The last space of the first 80 characters sits inside a run that goes on past 80.
    std::string text = std::string(70, 'a') + std::string(15, ' ') + "tail";
    EXPECT_EQ(wrapped(text), std::string(70, 'a') + "\ntail");
    // A space at position 79 still ends the line before it.
    text = std::string(79, 'c') + " " + "next";
    EXPECT_EQ(wrapped(text), std::string(79, 'c') + "\nnext");
}

TEST(PrintWrapped, AWordLongerThanALineStandsWholeOnItsOwnLine)
{
    std::string word(120, 'w');
    EXPECT_EQ(wrapped(word), word);
    EXPECT_EQ(wrapped(word + " after it"), word + "\nafter it");
    EXPECT_EQ(wrapped("before " + word + " after"), "before\n" + word + "\nafter");
    std::string two = word + "  " + std::string(90, 'v');
    EXPECT_EQ(wrapped(two), word + "\n" + std::string(90, 'v'));
}

TEST(PrintRule, EightyEqualSigns)
{
    testing::internal::CaptureStdout();
    print_rule(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(80, '=') + "\n");
}

} // namespace
