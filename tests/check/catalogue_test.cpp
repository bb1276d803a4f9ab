// Every named corruption of the catalogue through --check, --repair and a second --check:
// the outputs and statuses as the catalogue gives them, a repaired disk that the
// independent consistency check passes, every file of every listed recording that the
// damage did not touch byte for byte the same, the saved host files, and a disk the
// repair cannot mend left exactly as it was, and no byte a terminal acts on in any output.
// Then the refusal of writing commands.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "corruptions.h"
#include "disk_fixture.h"

namespace {

using testimg::Corruption;

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
    std::string report(const testimg::RunResult &r) const
    {
        std::string out = r.out;
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

TEST_P(Catalogue, CheckRepairCheck)
{
    const Corruption &c = GetParam();
    testimg::RunResult check = run({"--check"});
    EXPECT_EQ(report(check), c.check_output) << check.err;
    EXPECT_EQ(check.status, c.check_status) << check.err;

    testimg::Bytes damaged = image_bytes();
    testimg::RunResult repair = run({"--repair", "-y"});
    EXPECT_EQ(report(repair), c.repair_output) << repair.err;
    EXPECT_EQ(repair.status, c.repair_status) << repair.err;
    // A repair that mends nothing leaves every byte as it was (and so every recording).
    if ((c.repair_status & 1) == 0) {
        EXPECT_TRUE(image_bytes() == damaged) << "a repair that mends nothing wrote to the disk";
    }

    testimg::RunResult again = run({"--check"});
    EXPECT_EQ(report(again), c.after_output) << again.err;
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
