// Every named corruption of the catalogue through --check, --repair and a second --check:
// the outputs as its files under tests/check/expect/ keep them, the statuses as the
// catalogue gives them, a repaired disk that the independent consistency check passes,
// every file of every listed recording that the damage did not touch byte for byte the
// same, the saved host files, and a disk the repair cannot mend left exactly as it was,
// and no byte a terminal acts on in any output. Then the refusal of writing commands.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "check/check_problems.h"
#include "common/utf8.h"
#include "corruptions.h"
#include "disk_fixture.h"
#include "expect_file.h"

namespace {

using testimg::Corruption;

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A table row's message as a pattern for a report line: its placeholders match any text.
std::string message_pattern(const ProblemInfo &info)
{
    std::string pattern;
    for (const char *p = info.message; *p != '\0'; ++p) {
        if (*p == '{') {
            while (*p != '\0' && *p != '}')
                ++p;
            pattern += ".*";
            if (*p == '\0')
                break;
        } else if (std::string("\\^$.|?*+()[]{}").find(*p) != std::string::npos) {
            pattern += std::string("\\") + *p;
        } else {
            pattern += *p;
        }
    }
    return pattern;
}

// A report line as a JSON document carries it: each byte that starts no UTF-8 character
// (of a name in a damaged directory) stands as U+FFFD.
std::string as_json_text(std::string_view text)
{
    std::string out;
    while (!text.empty()) {
        size_t length = utf8_sequence_length(text);
        out += length == 0 ? std::string_view("\xEF\xBF\xBD") : text.substr(0, length);
        text.remove_prefix(length == 0 ? 1 : length);
    }
    return out;
}

const ProblemInfo *problem_named(const std::string &name)
{
    for (size_t i = 0; i < static_cast<size_t>(Problem::Count); ++i) {
        const ProblemInfo &info = check_problem_info(static_cast<Problem>(i));
        if (name == info.name)
            return &info;
    }
    return nullptr;
}

TEST(ProblemTable, EveryKindHasItsOwnStableName)
{
    std::set<std::string> names;
    for (size_t i = 0; i < static_cast<size_t>(Problem::Count); ++i) {
        const char *name = check_problem_info(static_cast<Problem>(i)).name;
        ASSERT_NE(name, nullptr) << i;
        EXPECT_TRUE(std::regex_match(name, std::regex("[a-z]+(-[a-z]+)*"))) << name;
        EXPECT_TRUE(names.insert(name).second) << name << " twice";
    }
}

class Catalogue : public testimg::DiskFixture, public ::testing::WithParamInterface<Corruption> {
  protected:
    void SetUp() override
    {
        DiskFixture::SetUp();
        expect_damaged(); // checked explicitly below
        testimg::build_catalogue_disk(path);
        before_ = testimg::readable_files(path);
        testimg::DiskImage image(path);
        GetParam().damage(image);
    }

    // The program's report with the image's path as the catalogue writes it.
    std::string report(const testimg::RunResult &r) const { return named_as_catalogue(r.out); }
    std::string named_as_catalogue(std::string out) const
    {
        for (size_t at; (at = out.find(path)) != std::string::npos;)
            out.replace(at, path.size(), "disk.img");
        return out;
    }

    std::map<std::string, testimg::Bytes> before_;
};

// No byte a terminal acts on (other than the line ends) in what a run printed.
bool inert(const testimg::RunResult &r)
{
    auto acted_on = [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\n') || (byte >= 0x7F && byte <= 0x9F);
    };
    return std::none_of(r.out.begin(), r.out.end(), acted_on) && std::none_of(r.err.begin(), r.err.end(), acted_on);
}

// What the file of one of the corruption's runs expects (rewritten in update mode).
std::string expected(const Corruption &c, const std::string &run, const std::string &actual)
{
    return testimg::expected_output(testimg::corruption_expect_file(c, run), actual);
}

// Each directory of expected outputs belongs to a corruption of the catalogue (one that
// was renamed or removed leaves none behind) and holds the three runs' files.
TEST(CatalogueFiles, OneDirectoryPerCorruption)
{
    std::set<std::string> names, directories;
    for (const Corruption &c : testimg::corruption_catalogue())
        names.insert(c.name);
    for (const auto &entry : std::filesystem::directory_iterator(testimg::expect_path("check/expect"))) {
        directories.insert(entry.path().filename().string());
        std::set<std::string> files;
        for (const auto &file : std::filesystem::directory_iterator(entry.path()))
            files.insert(file.path().filename().string());
        EXPECT_EQ(files, (std::set<std::string>{"after", "check", "repair"})) << entry.path();
    }
    EXPECT_EQ(directories, names);
}

TEST_P(Catalogue, CheckRepairCheck)
{
    const Corruption &c = GetParam();
    testimg::RunResult check = run({"--check"});
    EXPECT_EQ(report(check), expected(c, "check", report(check))) << check.err;
    EXPECT_EQ(check.status, c.check_status) << check.err;

    testimg::Bytes damaged = image_bytes();
    testimg::RunResult repair = run({"--repair", "-y"});
    EXPECT_EQ(report(repair), expected(c, "repair", report(repair))) << repair.err;
    EXPECT_EQ(repair.status, c.repair_status) << repair.err;
    // The repair reports what it found as the check does, before what it did.
    EXPECT_EQ(report(repair).rfind(report(check), 0), 0u) << repair.out;
    // A repair that mends nothing leaves every byte as it was (and so every recording).
    if ((c.repair_status & 1) == 0) {
        EXPECT_TRUE(image_bytes() == damaged) << "a repair that mends nothing wrote to the disk";
    }

    testimg::RunResult again = run({"--check"});
    EXPECT_EQ(report(again), expected(c, "after", report(again))) << again.err;
    for (const testimg::RunResult *r : {&check, &repair, &again})
        EXPECT_TRUE(inert(*r)) << r->out << r->err;
    EXPECT_EQ(again.status, c.after_status) << again.err;
    if (c.after_status == 0) {
        EXPECT_THAT(testimg::check_image(path, testimg::CATALOGUE_RECORD_LENGTH), ::testing::IsEmpty());
    }

    EXPECT_EQ(host_names(), c.saved);
    if ((c.repair_status & 1) == 0)
        return;
    std::map<std::string, testimg::Bytes> after = testimg::readable_files(path);
    for (const auto &[name, contents] : before_) {
        if (c.damaged_files.count(name))
            continue;
        ASSERT_TRUE(after.count(name)) << name << " is gone";
        EXPECT_TRUE(after.at(name) == contents) << name << " changed";
    }
}

// The JSON report says what the text report says, line for line, with each finding's
// kind named as the problem table names it; the repair's document counts what it mended.
// -l gives one document whatever the damage.
TEST_P(Catalogue, JsonReportsMatchTheTextAndTheProblemTable)
{
    SKIP_WITHOUT_PYTHON();
    const Corruption &c = GetParam();
    std::vector<std::string> text = lines_of(report(run({"--check"})));
    ASSERT_FALSE(text.empty());
    std::string summary = text.back();
    text.pop_back();
    testimg::RunResult r;
    testjson::Value doc = run_json({"--check"}, "", &r);
    EXPECT_EQ(r.status, c.check_status) << r.err;
    EXPECT_EQ(doc["status"].integer(), c.check_status);
    EXPECT_EQ(doc["disk"].str(), path);
    EXPECT_THAT(summary, ::testing::HasSubstr(", " + std::to_string(doc["leaked_bytes"].integer()) + " bytes leaked"));
    ASSERT_EQ(doc["findings"].size(), text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const testjson::Value &f = doc["findings"][i];
        std::string message = named_as_catalogue(f["message"].str());
        EXPECT_EQ(message, as_json_text(text[i]));
        const ProblemInfo *info = problem_named(f["kind"].str());
        ASSERT_NE(info, nullptr) << f["kind"].str();
        std::string scope = f["partition"].is_null() ? "(Disk|Record list|Map)" : f["partition"].str();
        EXPECT_TRUE(std::regex_match(message, std::regex(scope + ": " + message_pattern(*info) + "(; .*)?")))
            << f["kind"].str() << ": " << message;
        EXPECT_FALSE(f["repaired"].flag());
        // The recording a finding names in words is the one it names by number; a chain in
        // no file names the recordings it may belong to only as candidates, and none by number.
        std::smatch named;
        bool candidates = f["kind"].str().rfind("orphan-candidate", 0) == 0;
        bool names_one = !candidates && std::regex_search(message, named, std::regex("recordings? ([0-9]+)"));
        EXPECT_EQ(!f["recording"].is_null(), names_one) << message;
        if (names_one && !f["recording"].is_null()) {
            EXPECT_EQ(std::to_string(f["recording"].integer()), named[1].str()) << message;
        }
        if (f["repairable"].flag()) {
            EXPECT_EQ(info->remedy, Remedy::Repair) << message;
        }
    }

    testimg::RunResult text_listing = run({"-l"});
    run_json({"-l"}, "", &r);
    EXPECT_EQ(r.status, text_listing.status);

    testjson::Value repaired = run_json({"--repair", "-y"}, "", &r);
    EXPECT_EQ(r.status, c.repair_status) << r.err;
    EXPECT_EQ(repaired["status"].integer(), c.repair_status);
    int mended = 0;
    for (size_t i = 0; i < repaired["findings"].size(); ++i)
        mended += repaired["findings"][i]["repaired"].flag() ? 1 : 0;
    std::smatch count;
    std::string repair_text = testimg::read_expected(testimg::corruption_expect_file(c, "repair"));
    int said = std::regex_search(repair_text, count, std::regex("disk\\.img: ([0-9]+) problems? repaired"))
                   ? std::stoi(count[1])
                   : 0;
    EXPECT_EQ(mended, said);
    std::vector<std::string> repair_lines = lines_of(as_json_text(repair_text));
    size_t kept = 0;
    for (const char *key : {"changes", "notes"}) {
        ASSERT_TRUE(repaired.has(key)) << key;
        for (size_t i = 0; i < repaired[key].size(); ++i, ++kept)
            EXPECT_THAT(repair_lines, ::testing::Contains(named_as_catalogue(repaired[key][i].str())));
    }
    // Every line the text repair prints beyond the report and its summary is in the document.
    size_t reported = text.size() + 1 + (said > 0 ? 1 : 0);
    EXPECT_EQ(kept + reported, repair_lines.size()) << repair_text;
}

// A writing command refuses a disk with clusters in two files or a name twice, before its
// question and without writing; any other damage does not stop it on that account.
TEST_P(Catalogue, WritingCommandsRefuseOnlySharedClustersAndDoubledNames)
{
    const Corruption &c = GetParam();
    testimg::Bytes damaged = image_bytes();
    testimg::RunResult r = run({"-d", "1"});
    bool refused = r.err.find("Run diskwarden --check") != std::string::npos;
    EXPECT_EQ(refused, c.blocks_writing) << r.err;
    if (c.blocks_writing) {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.find("are you sure"), std::string::npos) << r.err;
        EXPECT_TRUE(image_bytes() == damaged);
    }
    // Reading commands are not stopped.
    testimg::RunResult listing = run({"-l"});
    EXPECT_EQ(listing.err.find("Run diskwarden --check"), std::string::npos) << listing.err;
}

INSTANTIATE_TEST_SUITE_P(Corruptions, Catalogue, ::testing::ValuesIn(testimg::corruption_catalogue()),
                         [](const auto &info) {
                             std::string name = info.param.name;
                             for (char &ch : name)
                                 if (ch == '-')
                                     ch = '_';
                             return name;
                         });

} // namespace
