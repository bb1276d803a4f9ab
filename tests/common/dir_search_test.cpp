#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "disk_image.h"
#include "platform/dir_search.h"

namespace {

using ::testing::ElementsAre;
using ::testing::Contains;
namespace fs = std::filesystem;

// Every name the search hands out, in order; the end must be the normal one.
std::vector<std::string> all_names(const std::string &pattern)
{
    DirSearch search;
    const char *name = nullptr;
    std::vector<std::string> names;
    if (dir_search_first(&search, pattern.c_str(), &name) == SearchStart::Found) {
        do
            names.emplace_back(name);
        while (dir_search_next(&search, &name));
        EXPECT_EQ(search.error, 0);
        EXPECT_FALSE(dir_search_next(&search, &name));
    }
    dir_search_close(&search);
    return names;
}

class DirSearchTest : public ::testing::Test {
  protected:
    testimg::TempDir tmp;
    std::string dir = tmp.file("rec dir");

    void SetUp() override
    {
        fs::create_directory(dir);
        for (const char *name : {"b.ts", "a.ts", "ab.ts", "a.hre", ".hidden.ts", "B.ts", "c.TS"})
            testimg::write_host_file(dir + "/" + name, {1});
        fs::create_directory(dir + "/d.ts");
    }
};

TEST_F(DirSearchTest, MatchesLikeTheShellInByteOrder)
{
    EXPECT_THAT(all_names(dir + "/*.ts"), ElementsAre("B.ts", "a.ts", "ab.ts", "b.ts", "d.ts"));
    EXPECT_THAT(all_names(dir + "/?.ts"), ElementsAre("B.ts", "a.ts", "b.ts", "d.ts"));
    EXPECT_THAT(all_names(dir + "/[ab]*"), ElementsAre("a.hre", "a.ts", "ab.ts", "b.ts"));
    EXPECT_THAT(all_names(dir + "/.*"), ElementsAre(".hidden.ts"));
    EXPECT_THAT(all_names(dir + "/a.hre"), ElementsAre("a.hre"));
}

TEST_F(DirSearchTest, NamesAreBareAndOpenRelativeToTheDirectory)
{
    DirSearch search;
    const char *name = nullptr;
    ASSERT_EQ(dir_search_first(&search, (dir + "/a*.ts").c_str(), &name), SearchStart::Found);
    EXPECT_STREQ(name, "a.ts");
    struct stat status;
    EXPECT_EQ(fstatat(dir_search_directory(&search), name, &status, 0), 0);
    dir_search_close(&search);
    dir_search_close(&search);
    EXPECT_EQ(dir_search_directory(&search), -1);
}

TEST_F(DirSearchTest, PatternWithoutDirectorySearchesTheCurrentOne)
{
    std::string previous = fs::current_path();
    fs::current_path(dir);
    std::vector<std::string> names = all_names("a*");
    fs::current_path(previous);
    EXPECT_THAT(names, ElementsAre("a.hre", "a.ts", "ab.ts"));
}

TEST_F(DirSearchTest, LeadingSlashAloneIsTheRoot)
{
    EXPECT_THAT(all_names("/tm?"), ElementsAre("tmp"));
    EXPECT_THAT(all_names("/*"), Contains("tmp"));
}

TEST_F(DirSearchTest, NoMatchAndUnreadableDirectoryAreTold)
{
    DirSearch search;
    const char *name = nullptr;
    EXPECT_EQ(dir_search_first(&search, (dir + "/*.mpg").c_str(), &name), SearchStart::NoMatch);
    EXPECT_EQ(dir_search_first(&search, (dir + "/").c_str(), &name), SearchStart::NoMatch);
    EXPECT_EQ(dir_search_first(&search, (dir + "/none/*.ts").c_str(), &name), SearchStart::Failed);
    EXPECT_EQ(search.error, ENOENT);
    EXPECT_EQ(dir_search_first(&search, (dir + "/a.ts/*").c_str(), &name), SearchStart::Failed);
    EXPECT_EQ(search.error, ENOTDIR);
    // A search can be started again after a failure.
    EXPECT_EQ(dir_search_first(&search, (dir + "/b*").c_str(), &name), SearchStart::Found);
    EXPECT_STREQ(name, "b.ts");
    dir_search_close(&search);
}

} // namespace
