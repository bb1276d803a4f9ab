// Crash consistency: each command that writes the disk runs once to count its writes to
// the image, then once more for every k, ended by the disk stream's fault injector
// (DW_FAULT_* in the environment) at its k-th write as a crash would end it, or with that
// write failing (EIO): the run must then end at once with the write's message and status
// 1, writing nothing more. After each run the image is checked:
// - independently of the program (check_image): chains, shared clusters, word 0, the
//   record list's form and the stream file of every listed recording;
// - the program still opens it and lists it;
// - every recording that existed before is still listed with its entry and the exact
//   contents of its files, unless the command was removing it; a recording being removed
//   is either fully there or absent from the list;
// - every recording that the command adds is either absent from the list or fully there.
// Clusters marked used that no file names, and a free count in word 0 below the free
// entries, only waste space: they are counted as leaks. Everything else is a fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "disk_fixture.h"
#include "json_doc.h"

namespace {

using testimg::Bytes;
using testimg::DiskImage;
using testimg::RunResult;

constexpr unsigned RECORD_LENGTH = 304;
constexpr int FAULT_STATUS = 99;

// How the k-th write ends the run: a crash before it, a crash after its first sector, or
// the write failing.
enum class Cut { Whole, Torn, Failed };
const char *const CUT_NAMES[] = {"Whole", "Torn", "Failed"};

void PrintTo(Cut cut, std::ostream *out)
{
    *out << CUT_NAMES[static_cast<int>(cut)];
}
constexpr uint32_t START = 1369600000;

struct Recording {
    unsigned number = 0;
    Bytes entry;
    std::optional<Bytes> av, elu, epg;
};

unsigned file_number(const Bytes &entry)
{
    return unsigned{entry.at(5)} << 8 | entry.at(6);
}

// The programme information as the update to 332-byte records writes it.
Bytes converted_epg(const Bytes &epg)
{
    Bytes out(epg.begin(), epg.begin() + 4);
    for (size_t at = 4; at + 328 <= epg.size(); at += 328) {
        out.insert(out.end(), epg.begin() + static_cast<long>(at), epg.begin() + static_cast<long>(at) + 328);
        out.insert(out.end(), 4, 0);
    }
    return out;
}

// What a command starts from, what it may change, and what it adds. The recordings on
// the disks are recorder_recording()s, fragmented so that new files interleave.
struct Scenario {
    std::string name;
    std::vector<std::string> args; // the disk paths are appended
    std::vector<unsigned> disk;    // file numbers of the recordings on the disk written
    std::set<unsigned> protect = {};
    // The recordings of the disk copied from (none: one disk), which a copy adds: matched
    // by their contents (entry bytes from offset 11 on, and the files).
    std::vector<unsigned> source = {};
    bool puts = false;                                    // adds put_recording() from the host
    std::set<unsigned> removed = {};                      // file numbers it may delete
    std::map<unsigned, std::set<size_t>> edited_bytes = {}; // entry bytes it may change
    bool converts_epg = false;
};

struct Verdict {
    std::vector<std::string> faults;
    std::vector<std::string> leaks;
};

// Clusters no file owns, and fewer free clusters claimed than there are: space lost,
// nothing at risk.
bool is_leak(const testimg::ImageProblem &problem)
{
    return problem.kind == testimg::ImageProblemKind::UnownedClusters ||
           problem.kind == testimg::ImageProblemKind::FreeCountLow;
}

bool same_entry(const Bytes &a, const Bytes &b, const std::set<size_t> &edited, size_t from)
{
    for (size_t i = from; i < RECORD_LENGTH; ++i)
        if (a[i] != b[i] && !edited.count(i))
            return false;
    return true;
}

std::string describe(const Recording &r)
{
    return "recording with file number " + std::to_string(r.number);
}

void check_kept(const Scenario &s, const Recording &before, const Recording &after, Verdict &v)
{
    auto edited = s.edited_bytes.count(before.number) ? s.edited_bytes.at(before.number) : std::set<size_t>{};
    if (!same_entry(before.entry, after.entry, edited, 5))
        v.faults.push_back(describe(before) + ": its entry changed");
    if (after.av != before.av)
        v.faults.push_back(describe(before) + ": its stream changed or went");
    if (after.elu != before.elu)
        v.faults.push_back(describe(before) + ": its .elu changed or went");
    bool epg_ok = after.epg == before.epg ||
                  (s.converts_epg && before.epg && after.epg == converted_epg(*before.epg));
    if (!epg_ok)
        v.faults.push_back(describe(before) + ": its programme information changed or went");
}

bool matches_added(const Recording &r, const Recording &expected)
{
    if (r.entry.size() != expected.entry.size())
        return false;
    Bytes want = expected.entry;
    want[5] = want[9] = static_cast<uint8_t>(r.number >> 8);
    want[6] = want[10] = static_cast<uint8_t>(r.number);
    return same_entry(r.entry, want, {}, 5) && r.av == expected.av && r.elu == expected.elu &&
           r.epg == expected.epg;
}

// True when the write at `position` went to a directory region of the image.
bool directory_write(const std::string &image_path, long long position)
{
    DiskImage image(image_path);
    for (int part = 0; part < 3; ++part) {
        testimg::PartitionGeometry g = image.geometry(part);
        long long first = static_cast<long long>(g.dir_sector) * 512;
        if (position >= first && position < first + static_cast<long long>(g.dir_sectors) * 512)
            return true;
    }
    return false;
}

struct RunOutcome {
    int status = -1;
    unsigned long writes = 0;
    long long position = -1; // of the write that ended the run
    size_t length = 0;
    std::string err;
};

struct Summary {
    unsigned long write_points = 0;
    unsigned inconsistent = 0;
    unsigned leaking = 0;
    unsigned torn_directory = 0; // inconsistent after a torn directory write
    // The checker on every state: what --check found, and what --repair mended.
    unsigned checked = 0;
    unsigned check_found = 0;  // states --check reported problems in
    unsigned false_alarms = 0; // problems reported in a state that only leaks
    unsigned repaired = 0;     // states --repair changed (status 1)
    // What --check --json said of each state that only leaks, and where: read by kind
    // once the scenario has run, in one parse: the parser starts once, not once a state.
    std::vector<std::string> leak_checks, leak_check_places;
};

// What --check may report in a state whose only damage is space wasted: clusters in no
// file, word 0, files of a recording no entry names (a notice), the .tmp of a cut -E.
bool leak_finding(const std::string &kind)
{
    for (const char *harmless : {"orphan-chain", "orphan-chains-more", "wrong-free-count", "unlisted", "leftover-tmp"})
        if (kind == harmless)
            return true;
    return false;
}

// The findings of the states that only leak must all be leaks: counts the states with
// any other kind as false alarms, and fails for each.
void judge_leak_checks(Summary &summary)
{
    if (summary.leak_checks.empty())
        return;
    std::string all = "[";
    for (const std::string &document : summary.leak_checks)
        all += (all.size() > 1 ? "," : "") + document;
    testjson::Value documents = testjson::parse(all + "]");
    for (size_t d = 0; d < documents.size(); ++d) {
        testjson::Value findings = documents[d]["findings"];
        std::vector<std::string> alarms;
        for (size_t i = 0; i < findings.size(); ++i)
            if (!leak_finding(findings[i]["kind"].str()))
                alarms.push_back(findings[i]["kind"].str() + ": " + findings[i]["message"].str());
        summary.false_alarms += alarms.empty() ? 0 : 1;
        EXPECT_TRUE(alarms.empty()) << summary.leak_check_places[d] << ": --check on a state that only leaks: "
                                    << ::testing::PrintToString(alarms);
    }
}

Bytes epg_for(unsigned number, unsigned events, unsigned record_size = 328)
{
    std::vector<testimg::EpgEventSpec> list;
    for (unsigned e = 0; e < events; ++e)
        list.push_back({START + 600 * e, 600, "Event " + std::to_string(number * 10 + e), "Synopsis"});
    return testimg::make_epg(list, record_size);
}

// Recording `number` of a scenario's disks: small, fragmented, an hour after the last.
testimg::TestRecording recorder_recording(unsigned number, bool is_protected, uint32_t seed)
{
    testimg::TestRecording r;
    r.file_number = number;
    r.title = "Title " + std::to_string(number);
    r.av = testimg::pattern_bytes(1800 + 100 * number, seed + number);
    r.elu = testimg::pattern_bytes(300, seed + 100 + number);
    r.epg = epg_for(number, 2 + number % 3);
    r.placement = r.epg_placement = testimg::Placement::Fragmented;
    r.start = START + 3600 * number;
    r.length = 1800;
    r.channel = "CHANNEL";
    r.is_protected = is_protected;
    return r;
}

// Clusters of one sector, so that the commands make many writes of a few bytes each.
testimg::ImageSpec small_spec()
{
    testimg::ImageSpec spec = testimg::default_spec();
    for (auto &p : spec.partitions) {
        p.cluster_sectors = 1;
        p.cluster_count = 160;
    }
    return spec;
}

const char *const PUT_STEM = "20130526 2030 New";

Recording put_recording()
{
    Recording r;
    r.entry = testimg::make_entry(RECORD_LENGTH, 0, START, START + 900, "New");
    r.av = testimg::pattern_bytes(2600, 77);
    r.elu = testimg::pattern_bytes(200, 78);
    r.epg = epg_for(9, 2);
    return r;
}

// Runs a scenario's command uninterrupted, then cut at every write, each time on the disk
// and host made anew, and judges the disk after each run. The fixture's check after every
// run holds until the first cut: a cut may leave leaks by design, which the judge counts.
class CrashHarness : public testimg::DiskFixture {
  protected:
    std::string source = dir.file("source.img");
    std::string counts = dir.file("writes");

    void build(const Scenario &s)
    {
        clear_host();
        auto disk = [&](const std::vector<unsigned> &numbers, uint32_t seed, const std::string &image) {
            std::vector<testimg::TestRecording> recordings;
            for (unsigned n : numbers)
                recordings.push_back(recorder_recording(n, s.protect.count(n) > 0, seed));
            make_disk(recordings, {}, small_spec(), image);
        };
        if (!s.source.empty())
            disk(s.source, 50, source);
        disk(s.disk, 1, path);
        if (s.puts) {
            Recording r = put_recording();
            std::string stem = host + "/" + PUT_STEM;
            testimg::write_host_file(stem + ".ts", *r.av);
            testimg::write_host_file(stem + ".hre", r.entry);
            testimg::write_host_file(stem + ".elu", *r.elu);
            testimg::write_host_file(stem + ".epg", *r.epg);
        }
    }

    std::vector<Recording> added(const Scenario &s) const
    {
        if (s.puts)
            return {put_recording()};
        return s.source.empty() ? std::vector<Recording>{} : recordings_of(source);
    }

    // The listed recordings of an image with their files, in list order.
    std::vector<Recording> recordings_of(const std::string &image = "") const
    {
        std::vector<Recording> result;
        for (const Bytes &entry : stored_entries(image)) {
            unsigned n = file_number(entry);
            std::string stem = std::to_string(n);
            result.push_back({n, entry, disk_file(0, stem + ".av", image), disk_file(0, stem + ".elu", image),
                              disk_file(1, stem + ".epg", image)});
        }
        return result;
    }

    RunOutcome run_with_fault(const Scenario &s, unsigned long fault_at, Cut cut = Cut::Whole)
    {
        // The disk stream's fault injector counts the writes to the image. A crash leaves
        // the faulting write's position in `counts`; a run that ends by itself, every
        // write it made.
        std::vector<std::string> env = {
            "DW_FAULT_IMAGE=" + path,
            "DW_FAULT_AT=" + std::to_string(fault_at),
            std::string("DW_FAULT_TORN=") + (cut == Cut::Torn ? "1" : "0"),
            std::string("DW_FAULT_ACTION=") + (cut == Cut::Failed ? "fail" : "crash"),
            "DW_FAULT_COUNT=" + counts,
        };
        std::filesystem::remove(counts);
        RunResult r = run_env(env, s.args, "", s.source.empty() ? std::vector<std::string>{path}
                                                                : std::vector<std::string>{source, path});
        RunOutcome run;
        run.status = r.status;
        run.err = r.err;
        if (FILE *f = fopen(counts.c_str(), "r")) {
            if (fscanf(f, "%lu %lld %zu", &run.writes, &run.position, &run.length) < 1)
                run.writes = 0;
            fclose(f);
        }
        return run;
    }

    // The disk must still take a new recording: what a cut run leaves behind must not
    // block the commands that follow it.
    void check_still_usable(Verdict &v)
    {
        testimg::write_host_file(host + "/Later.ts", testimg::pattern_bytes(1200, 91));
        testimg::write_host_file(host + "/Later.hre",
                                 testimg::make_entry(RECORD_LENGTH, 0, START, START + 60, "Later"));
        RunResult put = run({"-y", "-p", "Later.ts"});
        if (put.status != 0) {
            v.faults.push_back("a recording can no longer be put: " + put.err);
            return;
        }
        for (const testimg::ImageProblem &p : testimg::check_image_problems(path, RECORD_LENGTH))
            if (!is_leak(p))
                v.faults.push_back("after putting a recording: " + p.text);
    }

    Verdict judge(const Scenario &s, const std::vector<Recording> &before, const std::vector<Recording> &added)
    {
        Verdict v;
        for (const testimg::ImageProblem &p : testimg::check_image_problems(path, RECORD_LENGTH))
            (is_leak(p) ? v.leaks : v.faults).push_back(p.text);
        RunResult listing = run({"-l"});
        if (listing.status != 0)
            v.faults.push_back("the disk no longer opens: " + listing.err);
        std::vector<Recording> after;
        try {
            after = recordings_of();
        } catch (const std::exception &e) {
            v.faults.push_back(std::string("the record list cannot be read: ") + e.what());
            return v;
        }
        std::vector<unsigned> kept_order, listed_order;
        for (const Recording &b : before) {
            auto a = std::find_if(after.begin(), after.end(), [&](const Recording &r) { return r.number == b.number; });
            if (a == after.end()) {
                if (!s.removed.count(b.number))
                    v.faults.push_back(describe(b) + " is gone from the list");
                continue;
            }
            kept_order.push_back(b.number);
            check_kept(s, b, *a, v);
        }
        std::set<size_t> used;
        for (const Recording &a : after) {
            bool existed =
                std::any_of(before.begin(), before.end(), [&](const Recording &b) { return b.number == a.number; });
            if (existed) {
                listed_order.push_back(a.number);
                continue;
            }
            bool found = false;
            for (size_t i = 0; i < added.size() && !found; ++i) {
                if (!used.count(i) && matches_added(a, added[i])) {
                    used.insert(i);
                    found = true;
                }
            }
            if (!found)
                v.faults.push_back(describe(a) + " is listed but not complete");
        }
        if (kept_order != listed_order)
            v.faults.push_back("the recordings that stayed changed their order");
        check_still_usable(v);
        return v;
    }

    // --check on the state a cut left, then --repair, then --check again and the judge:
    // the repair must leave a clean disk with every recording as it was.
    void check_and_repair(const Scenario &s, const std::vector<Recording> &before, const std::vector<Recording> &added,
                          const Verdict &cut, Summary &summary, const std::string &where)
    {
        const std::string saves = host + "/saved";
        ++summary.checked;
        RunResult check = run_in(saves, {"--check", "--json"});
        if (check.status != 0)
            ++summary.check_found;
        if (cut.faults.empty()) {
            summary.leak_checks.push_back(check.out);
            summary.leak_check_places.push_back(where);
            if (!cut.leaks.empty()) {
                EXPECT_EQ(check.status, 4) << where << ": --check missed " << ::testing::PrintToString(cut.leaks);
            }
        } else {
            EXPECT_EQ(check.status & 4, 4) << where << ": --check missed " << ::testing::PrintToString(cut.faults);
        }
        RunResult repair = run_in(saves, {"--repair", "-y"});
        EXPECT_TRUE(repair.status == 0 || repair.status == 1) << where << ": --repair: " << repair.out << repair.err;
        summary.repaired += repair.status == 1 ? 1 : 0;
        RunResult again = run_in(saves, {"--check"});
        EXPECT_EQ(again.status, 0) << where << ": --check after --repair: " << again.out;
        Verdict after = judge(s, before, added);
        EXPECT_TRUE(after.faults.empty() && after.leaks.empty())
            << where << " after --repair: " << ::testing::PrintToString(after.faults)
            << ::testing::PrintToString(after.leaks) << "\n--check:\n" << check.out << "--repair:\n" << repair.out;
    }

    // The update run again after a cut finishes the work: every .epg converted, no .tmp left.
    void check_update_resumes(const std::vector<Recording> &before)
    {
        RunResult again = run({"-E"});
        EXPECT_EQ(again.status, 0) << again.err;
        for (const Recording &b : before)
            EXPECT_EQ(disk_file(1, std::to_string(b.number) + ".epg"), converted_epg(*b.epg))
                << "recording " << b.number << " after the update was run again";
        for (const testimg::FileInfo &f : DiskImage(path).files(1))
            EXPECT_EQ(f.name.find(".tmp"), std::string::npos) << f.name << " left after the update was run again";
        for (const testimg::ImageProblem &p : testimg::check_image_problems(path, RECORD_LENGTH))
            EXPECT_TRUE(is_leak(p)) << p.text;
    }

    // Runs the scenario uninterrupted, then cut at every write. Returns the figures.
    Summary exercise(const Scenario &s, Cut how)
    {
        Summary summary;
        build(s);
        std::vector<Recording> before = recordings_of();
        std::vector<Recording> adds = added(s);
        RunOutcome full = run_with_fault(s, 0);
        EXPECT_EQ(full.status, 0) << s.name << ": " << full.err;
        summary.write_points = full.writes;
        EXPECT_GT(full.writes, 0u) << s.name << ": no write counted; is the library preloaded?";
        std::vector<Recording> after = recordings_of();
        for (unsigned n : s.removed)
            EXPECT_TRUE(std::none_of(after.begin(), after.end(), [&](const Recording &r) { return r.number == n; }))
                << s.name << ": recording " << n << " was not removed";
        EXPECT_EQ(after.size(), before.size() - s.removed.size() + adds.size()) << s.name;
        // Last: the verdict ends by putting one more recording.
        Verdict whole = judge(s, before, adds);
        EXPECT_TRUE(whole.faults.empty() && whole.leaks.empty()) << s.name << " uninterrupted: "
            << ::testing::PrintToString(whole.faults) << ::testing::PrintToString(whole.leaks);
        expect_damaged();
        const std::string kind = how == Cut::Torn ? " (torn write)" : how == Cut::Failed ? " (failed write)" : "";
        for (unsigned long k = 1; k <= summary.write_points; ++k) {
            build(s);
            before = recordings_of();
            adds = added(s);
            RunOutcome cut = run_with_fault(s, k, how);
            if (how == Cut::Failed) {
                EXPECT_EQ(cut.status, 1) << s.name << " at failed write " << k << ": " << cut.err;
                EXPECT_TRUE(cut.err.ends_with(": Input/output error\n"))
                    << s.name << " at failed write " << k << ": " << cut.err;
                EXPECT_EQ(cut.writes, k) << s.name << " wrote on after its write " << k << " failed";
            } else {
                EXPECT_EQ(cut.status, FAULT_STATUS) << s.name << " at write " << k << ": " << cut.err;
            }
            // The judge puts one more recording: the checker gets the state as the cut left it.
            Bytes left = image_bytes();
            Verdict v = judge(s, before, adds);
            testimg::write_host_file(path, left);
            std::string where = s.name + kind + ", cut at write " + std::to_string(k);
            check_and_repair(s, before, adds, v, summary, where);
            if (!v.faults.empty())
                ++summary.inconsistent;
            if (!v.leaks.empty())
                ++summary.leaking;
            // The directory is one write of its whole region, compacted: a write cut inside
            // it leaves some entries moved and others not. Counted, not failed (see the README).
            if (how == Cut::Torn && !v.faults.empty() && directory_write(path, cut.position)) {
                ++summary.torn_directory;
                continue;
            }
            EXPECT_TRUE(v.faults.empty()) << where << " of " << summary.write_points << " (at byte " << cut.position
                                          << "): " << ::testing::PrintToString(v.faults);
            if (s.converts_epg && v.faults.empty())
                check_update_resumes(before);
        }
        judge_leak_checks(summary);
        return summary;
    }
};

std::vector<Scenario> scenarios()
{
    const size_t protect_byte = RECORD_LENGTH - 203;
    return {
        {.name = "put", .args = {"-y", "-p", std::string(PUT_STEM) + ".ts"}, .disk = {2, 3}, .puts = true},
        {.name = "disk-to-disk copy", .args = {"-y", "-g", "1,2"}, .disk = {2, 3}, .source = {4, 2}},
        {.name = "delete", .args = {"-y", "-d", "1,3"}, .disk = {2, 3, 4}, .removed = {2, 4}},
        {.name = "unprotect", .args = {"-u", "1-2"}, .disk = {2, 3, 4}, .protect = {2, 3},
         .edited_bytes = {{2, {protect_byte}}, {3, {protect_byte}}}},
        {.name = "byte editing", .args = {"-M", "2", "-O", "100", "-V", "0x41"}, .disk = {2, 3},
         .edited_bytes = {{3, {100}}}},
        {.name = "information update", .args = {"-E"}, .disk = {2, 3, 4}, .converts_epg = true},
    };
}

#define EXPECT_THAT_FAULT(verdict, text)                                                              \
    EXPECT_TRUE(std::any_of((verdict).faults.begin(), (verdict).faults.end(),                           \
                            [](const std::string &f) { return f.find(text) != std::string::npos; }))   \
        << ::testing::PrintToString((verdict).faults)

// One test per command and way of cutting (the scenario's index, the cut), so that CTest
// spreads them over the cores.
class CrashConsistency : public CrashHarness, public ::testing::WithParamInterface<std::tuple<size_t, Cut>> {};

TEST_P(CrashConsistency, EveryWrite)
{
    const auto [index, how] = GetParam();
    const Scenario s = scenarios().at(index);
    Summary summary = exercise(s, how);
    bool torn = how == Cut::Torn;
    std::ostringstream report;
    report << s.name
           << (torn ? " (torn writes)" : how == Cut::Failed ? " (failed writes)" : " (crashes between writes)") << ": "
           << summary.write_points
           << " write points, " << summary.inconsistent << " inconsistent";
    if (torn)
        report << " (" << summary.torn_directory << " of them in a directory write)";
    report << ", " << summary.leaking << " with leaked clusters; --check on " << summary.checked << " states: "
           << summary.check_found << " with problems, " << summary.false_alarms << " false alarms; --repair mended "
           << summary.repaired << "\n";
    std::cout << report.str();
    RecordProperty("summary", report.str());
}

// "disk-to-disk copy", cut whole -> DiskToDiskCopy_Whole
std::string case_name(const ::testing::TestParamInfo<std::tuple<size_t, Cut>> &info)
{
    std::string name;
    bool word_start = true;
    const std::string command = scenarios().at(std::get<0>(info.param)).name;
    for (char c : command) {
        if (!isalnum(static_cast<unsigned char>(c))) {
            word_start = true;
            continue;
        }
        name += word_start ? static_cast<char>(toupper(static_cast<unsigned char>(c))) : c;
        word_start = false;
    }
    return name + "_" + CUT_NAMES[static_cast<int>(std::get<1>(info.param))];
}

// The checks themselves: damage of each kind after a completed put is reported as a
// fault, a cluster that no file names only as a leak.
class CrashJudge : public CrashHarness {};

TEST_F(CrashJudge, TellsFaultsFromLeaks)
{
    expect_damaged();
    const Scenario put = scenarios().front();
    auto judged = [&](const std::function<void(DiskImage &)> &damage) {
        build(put);
        std::vector<Recording> before = recordings_of();
        RunOutcome full = run_with_fault(put, 0);
        EXPECT_EQ(full.status, 0) << full.err;
        DiskImage image(path);
        damage(image);
        return judge(put, before, added(put));
    };
    Verdict sound = judged([](DiskImage &) {});
    EXPECT_TRUE(sound.faults.empty() && sound.leaks.empty()) << ::testing::PrintToString(sound.faults);

    Verdict changed = judged([](DiskImage &image) {
        testimg::FileInfo av = *image.find(0, "3.av");
        image.write_bytes(uint64_t{image.data_sector(0) + av.clusters[1]} * 512, {0xEE});
    });
    EXPECT_THAT_FAULT(changed, "file number 3: its stream changed");

    Verdict freed = judged([](DiskImage &image) {
        testimg::FileInfo av = *image.find(0, "2.av");
        image.set_fat_entry(0, av.clusters.back(), testimg::FAT_FREE);
        image.set_fat_entry(0, av.clusters[av.clusters.size() - 2], testimg::FAT_END);
    });
    EXPECT_FALSE(freed.faults.empty());

    Verdict incomplete = judged([](DiskImage &image) { image.remove_file(1, "4.epg"); });
    EXPECT_THAT_FAULT(incomplete, "file number 4 is listed but not complete");

    Verdict unlisted = judged([](DiskImage &image) { image.remove_file(1, testimg::RECORD_LIST_NAME); });
    EXPECT_THAT_FAULT(unlisted, "file number 2 is gone from the list");

    Verdict leaked = judged([](DiskImage &image) {
        uint32_t last = image.spec().partitions[0].cluster_count - 1;
        image.set_fat_entry(0, last, testimg::FAT_END);
        image.set_fat_word0(0, image.fat_word0(0) - 1);
    });
    EXPECT_TRUE(leaked.faults.empty()) << ::testing::PrintToString(leaked.faults);
    EXPECT_EQ(leaked.leaks.size(), 1u);

    Verdict overcounted = judged([](DiskImage &image) { image.set_fat_word0(0, image.fat_word0(0) + 1); });
    EXPECT_THAT_FAULT(overcounted, "word 0 says");

    Verdict blocked = judged([](DiskImage &image) { image.add_file(1, "5.epg", {1, 2, 3, 4}); });
    EXPECT_THAT_FAULT(blocked, "a recording can no longer be put");
}

INSTANTIATE_TEST_SUITE_P(Commands, CrashConsistency,
                         ::testing::Combine(::testing::Range(size_t{0}, scenarios().size()),
                                            ::testing::Values(Cut::Whole, Cut::Torn, Cut::Failed)),
                         case_name);

} // namespace
