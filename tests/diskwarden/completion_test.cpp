// Bash completion of the three programs, loaded by bash itself: what each registers,
// what it offers for options, files and disks, and that installing puts it in place.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "disk_image.h"

namespace {

namespace fs = std::filesystem;
using testimg::RunResult;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

const std::string SCRIPT = std::string(DW_SOURCE_DIR) + "/tools/completion/diskwarden.bash";

class Completion : public ::testing::Test {
  protected:
    testimg::TempDir dir;

    void SetUp() override
    {
        for (const char *name : {"a.ts", "B.TS", "c.txt", "image.img"})
            testimg::write_host_file(dir.file(name), {1});
        fs::create_directory(dir.file("sub"));
    }

    RunResult bash(const std::string &commands)
    {
        return testimg::run_program("/bin/bash", {"--norc", "-c", "source '" + SCRIPT + "' && " + commands}, "",
                                    dir.path());
    }

    // What completing the last of `words` offers (the words of a command line, the
    // program first).
    std::vector<std::string> offered(const std::vector<std::string> &words)
    {
        std::string array;
        for (const std::string &w : words)
            array += " '" + w + "'";
        RunResult r = bash("COMP_WORDS=(" + array + "); COMP_CWORD=" + std::to_string(words.size() - 1) + "; _" +
                           words[0] + "; printf '%s\\n' \"${COMPREPLY[@]}\"");
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<std::string> lines;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);)
            if (!line.empty())
                lines.push_back(line);
        return lines;
    }
};

TEST_F(Completion, EachProgramIsRegistered)
{
    RunResult r = bash("complete -p diskwarden reelhead wardenfs");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "complete -F _diskwarden diskwarden\ncomplete -F _reelhead reelhead\n"
                     "complete -F _wardenfs wardenfs\n");
}

TEST_F(Completion, OptionsFilesAndDisks)
{
    EXPECT_THAT(offered({"diskwarden", "--js"}), ElementsAre("--json"));
    EXPECT_THAT(offered({"diskwarden", "--p"}), ElementsAre("--progress-fd"));
    EXPECT_THAT(offered({"diskwarden", "-l", "-O", ""}), ElementsAre("mg"));
    EXPECT_THAT(offered({"diskwarden", "-g", ""}), ElementsAre()); // a list of numbers
    EXPECT_THAT(offered({"diskwarden", "-p", ""}), UnorderedElementsAre("a.ts", "B.TS", "sub"));
    EXPECT_THAT(offered({"diskwarden", "-l", "im"}), ElementsAre("image.img"));
    EXPECT_THAT(offered({"reelhead", ""}), UnorderedElementsAre("a.ts", "B.TS", "sub"));
    EXPECT_THAT(offered({"reelhead", "--v"}), ElementsAre("--version"));
    // wardenfs: the disk, then a folder to mount it on.
    EXPECT_THAT(offered({"wardenfs", "-f", "im"}), ElementsAre("image.img"));
    EXPECT_THAT(offered({"wardenfs", "-o", "allow_other", "image.img", ""}), ElementsAre("sub"));
    EXPECT_THAT(offered({"wardenfs", "-o", "allow_o"}), ElementsAre("allow_other"));
}

// Every option diskwarden's command line parses is offered: its short options as the
// option string gives them, its long ones as their table names them.
TEST_F(Completion, EveryOptionOfTheDriverIsOffered)
{
    testimg::Bytes source = testimg::read_host_file(std::string(DW_SOURCE_DIR) + "/src/diskwarden/driver.cpp");
    std::string driver(source.begin(), source.end());
    std::smatch letters;
    ASSERT_TRUE(std::regex_search(driver, letters, std::regex("OPTION_STRING = \"([^\"]*)\"")));
    std::vector<std::string> options;
    for (char c : letters[1].str())
        if (c != ':')
            options.push_back(std::string("-") + c);
    std::regex long_option("\\{\"([a-z-]+)\", (no|required)_argument");
    for (auto it = std::sregex_iterator(driver.begin(), driver.end(), long_option); it != std::sregex_iterator(); ++it)
        options.push_back("--" + (*it)[1].str());
    ASSERT_GT(options.size(), 30u);
    std::vector<std::string> all = offered({"diskwarden", "-"});
    for (const std::string &option : options)
        EXPECT_THAT(all, ::testing::Contains(option));
}

TEST_F(Completion, InstalledUnderEachProgramsName)
{
    const std::string build = fs::path(DW_BIN_DIR).parent_path().string();
    RunResult r = testimg::run_program("/usr/bin/env", {"cmake", "--install", build, "--prefix", dir.file("usr")});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    for (const char *program : {"diskwarden", "reelhead", "wardenfs"}) {
        std::string installed = dir.file("usr/share/bash-completion/completions/") + program;
        EXPECT_TRUE(testimg::read_host_file(installed) == testimg::read_host_file(SCRIPT)) << installed;
    }
}

} // namespace
