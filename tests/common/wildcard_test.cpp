// The wildcard expansion that the Windows programs do themselves; the matching and the
// expansion are host-independent and run here on the POSIX directory listing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "disk_image.h"
#include "platform/wildcard.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
namespace fs = std::filesystem;

TEST(WildcardMatch, StarQuestionMarkAndCaseAsWindowsNamesMatch)
{
    struct Case {
        const char *pattern, *name;
        bool match;
    } cases[] = {
        {"*.ts", "a.ts", true},         {"*.ts", ".ts", true},
        {"*.ts", "a.ts.hre", false},    {"*.ts", "a.tsx", false},
        {"*.TS", "rec.ts", true},       {"Rec?.ts", "rEC1.TS", true},
        {"?.ts", "ab.ts", false},       {"?.ts", ".ts", false},
        {"a*b*c", "aXbYbZc", true},     {"a*b*c", "aXbYcZ", false},
        {"*", "", true},                {"", "", true},
        {"", "a", false},               {"a", "", false},
        {"**a**", "bab", true},         {"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaa", false},
        {"[ab].ts", "a.ts", false},     {"[ab].ts", "[ab].ts", true},
        // UTF-8: '?' is one character however many bytes it takes; letters of other
        // alphabets match in either case; look-alikes are other characters.
        {"?.ts", "Ф.ts", true},         {"??.ts", "Ф.ts", false},
        {"*??", "映", false},            {"*?", "映", true},
        {"ф*.TS", "Фильм.ts", true},    {"ÉTÉ ?.ts", "été 1.ts", true},
        {"ΣΚΌ*", "σκό.ts", true},       {"Łódź*", "łÓDŹ.ts", true},
        {"a＊b.ts", "axb.ts", false},   {"a＊b.ts", "a＊b.ts", true},
        {"Ｆilm.ts", "Film.ts", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(platform_wildcard_match(c.pattern, c.name), c.match)
            << c.pattern << " / " << c.name;
    EXPECT_TRUE(platform_has_wildcard("dir/*.ts"));
    EXPECT_TRUE(platform_has_wildcard("a?.ts"));
    EXPECT_FALSE(platform_has_wildcard("[a].ts"));
}

class WildcardExpansion : public ::testing::Test {
  protected:
    testimg::TempDir tmp;
    std::string dir = tmp.file("rec dir");

    void SetUp() override
    {
        fs::create_directory(dir);
        for (const char *name : {"b.ts", "a.ts", "ab.ts", "a.hre", ".hidden.ts", "B.ts"})
            testimg::write_host_file(dir + "/" + name, {1});
        fs::create_directory(dir + "/d.ts");
    }
};

TEST_F(WildcardExpansion, KeepsTheDirectoryAsWrittenAndSortsBytewise)
{
    EXPECT_THAT(platform_expand_wildcard((dir + "/?.ts").c_str()),
                ElementsAre(dir + "/B.ts", dir + "/a.ts", dir + "/b.ts", dir + "/d.ts"));
    EXPECT_THAT(platform_expand_wildcard((dir + "/.*").c_str()), ElementsAre(dir + "/.hidden.ts"));
    EXPECT_THAT(platform_expand_wildcard((dir + "/A*.*").c_str()),
                ElementsAre(dir + "/a.hre", dir + "/a.ts", dir + "/ab.ts"));
    EXPECT_THAT(platform_expand_wildcard((dir + "/*.mpg").c_str()), IsEmpty());
    EXPECT_THAT(platform_expand_wildcard((dir + "/a.ts").c_str()), IsEmpty());
    EXPECT_THAT(platform_expand_wildcard((tmp.path() + "/*/a.ts").c_str()), IsEmpty());
    EXPECT_THAT(platform_expand_wildcard((tmp.path() + "/missing/*").c_str()), IsEmpty());
}

TEST_F(WildcardExpansion, ArgumentsExpandInPlaceAndUnmatchedOnesStay)
{
    const std::string pattern = dir + "/a*";
    const std::string none = dir + "/*.mpg";
    char program[] = "x*", dash[] = "--";
    std::vector<char *> argv = {program, const_cast<char *>(none.c_str()), dash,
                                const_cast<char *>(pattern.c_str())};
    EXPECT_THAT(platform_expand_arguments(static_cast<int>(argv.size()), argv.data()),
                ElementsAre("x*", none, "--", dir + "/a.hre", dir + "/a.ts", dir + "/ab.ts"));
}

} // namespace
