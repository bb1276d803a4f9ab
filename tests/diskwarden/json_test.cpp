// --json end to end on the shared fixture disk: the documents of -l, -i and recovery
// mode, parsed (never compared as text); questions and commands without a JSON form;
// and the progress lines of --progress-fd.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "disk_fixture.h"

namespace {

using namespace testimg;
using testjson::Value;
using ::testing::HasSubstr;

using Json = DiskFixture;

const std::string CYRILLIC = "\x01\xBF\xE0\xD8\xD2\xD5\xE2"; // ISO 8859-5
const std::string CYRILLIC_UTF8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";

// Recording 3 lacks its stream: the consistency check after each run must not count it.
std::vector<TestRecording> mixed_recordings()
{
    TestRecording cyrillic = full_recording(5, CYRILLIC);
    cyrillic.is_protected = true;
    TestRecording latin = full_recording(6, "Caf\xC2" "e \x1B[2J\x7F");
    latin.channel = "BBC\x1B";
    latin.epg = make_epg({{SUNDAY_2100, 600, "\xC8Uber", "Line\x8A" "two\x01"},
                          {SUNDAY_2100 + 600, 4800, "Second", "S"}}, 332);
    TestRecording missing = full_recording(7, "No stream");
    missing.av = {};
    TestRecording utf8 = full_recording(8, "\x15" "Na\xC3\xAFve");
    utf8.start = 2147483000;
    utf8.length = 3600;
    return {cyrillic, latin, missing, utf8};
}

TEST_F(Json, ListingGivesEveryRecordingWithItsKeysInUtf8)
{
    SKIP_WITHOUT_PYTHON();
    std::vector<TestRecording> recordings = mixed_recordings();
    make_disk(recordings);
    record_length = 0;
    RunResult r;
    Value doc = run_json({"-l"}, "", &r);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(doc.keys(), (std::vector<std::string>{"disk", "record_length", "free_bytes", "recordings"}));
    EXPECT_EQ(doc["disk"].str(), path);
    EXPECT_EQ(doc["record_length"].integer(), 304);
    int64_t free = doc["free_bytes"].integer(); // megabytes here, as the listing shows them
    EXPECT_THAT(run({"-l"}).out, HasSubstr("Free Space: " + std::to_string(free / 1000000) + "." +
                                           std::to_string(free / 100000 % 10) + " MB\n"));
    ASSERT_EQ(doc["recordings"].size(), 4u);
    const Value &first = doc["recordings"][0];
    EXPECT_EQ(first.keys(), (std::vector<std::string>{"number", "file_number", "title", "title_raw", "channel",
                                                       "start", "end", "duration", "protected", "host_name",
                                                       "stream_bytes", "stream_present"}));
    EXPECT_EQ(first["number"].integer(), 1);
    EXPECT_EQ(first["file_number"].integer(), 5);
    EXPECT_EQ(first["title"].str(), CYRILLIC_UTF8);
    EXPECT_EQ(first["title_raw"].str(), "01bfe0d8d2d5e2");
    EXPECT_EQ(first["channel"].str(), "BBC ONE");
    EXPECT_EQ(first["start"].str(), "2013-05-26T21:00:00Z");
    EXPECT_EQ(first["end"].str(), "2013-05-26T22:30:00Z");
    EXPECT_EQ(first["duration"].integer(), 5400);
    EXPECT_TRUE(first["protected"].flag());
    EXPECT_EQ(first["stream_bytes"].integer(), 100000);
    EXPECT_TRUE(first["stream_present"].flag());

    const Value &latin = doc["recordings"][1];
    EXPECT_EQ(latin["title"].str(), "Caf\xC3\xA9 \x1B[2J\x7F");
    EXPECT_EQ(latin["title_raw"].str(), "436166c265201b5b324a7f");
    EXPECT_EQ(latin["channel"].str(), "BBC\x1B");
    EXPECT_FALSE(latin["protected"].flag());
    EXPECT_FALSE(doc["recordings"][2]["stream_present"].flag());
    EXPECT_TRUE(doc["recordings"][2]["stream_bytes"].is_null());
    EXPECT_EQ(doc["recordings"][3]["title"].str(), "Na\xC3\xAFve");
    EXPECT_EQ(doc["recordings"][3]["start"].str(), "2038-01-19T03:03:20Z");
    EXPECT_EQ(doc["recordings"][3]["duration"].integer(), 3600);

    // -x changes nothing in the document; host_name is what -g writes.
    EXPECT_EQ(run_json({"-x", "-l"})["recordings"][1]["host_name"].str(), latin["host_name"].str());
    ASSERT_EQ(run({"-g", "2"}).status, 0);
    EXPECT_EQ(host_file(latin["host_name"].str()), recordings[1].av);
}

TEST_F(Json, InformationAddsEventsToTheRecordingsAsked)
{
    SKIP_WITHOUT_PYTHON();
    make_disk(mixed_recordings());
    record_length = 0;
    RunResult r;
    Value doc = run_json({"-i", "2,9,1"}, "", &r);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Recording 9 does not exist\n");
    ASSERT_EQ(doc["recordings"].size(), 2u);
    const Value &two = doc["recordings"][0];
    EXPECT_EQ(two["number"].integer(), 2);
    EXPECT_EQ(two["lcn"].integer(), 0);
    ASSERT_EQ(two["events"].size(), 2u);
    const Value &event = two["events"][0];
    EXPECT_EQ(event.keys(), (std::vector<std::string>{"start", "duration", "title", "synopsis"}));
    EXPECT_EQ(event["start"].str(), "2013-05-26T21:00:00Z");
    EXPECT_EQ(event["duration"].integer(), 600);
    EXPECT_EQ(event["title"].str(), "\xC3\x9C" "ber");
    EXPECT_EQ(event["synopsis"].str(), "Line\ntwo\x01");
    EXPECT_EQ(two["events"][1]["duration"].integer(), 4800);
    EXPECT_EQ(doc["recordings"][1]["events"][0]["title"].str(), CYRILLIC_UTF8);

    // With -l, every recording, and the information only on those -i names.
    Value both = run_json({"-l", "-i", "3"});
    ASSERT_EQ(both["recordings"].size(), 4u);
    EXPECT_FALSE(both["recordings"][1].has("events"));
    EXPECT_EQ(both["recordings"][2]["events"][0]["title"].str(), "No stream");
}

TEST_F(Json, LongEntriesHaveNoInformation)
{
    SKIP_WITHOUT_PYTHON();
    record_length = 316;
    ImageSpec spec = fixture_spec();
    for (PartitionSpec &p : spec.partitions)
        p.format_code = 0xE000000F;
    make_disk({full_recording(5, "Long")}, {}, spec);
    Value doc = run_json({"-i", "1"});
    EXPECT_EQ(doc["record_length"].integer(), 316);
    EXPECT_EQ(doc["recordings"][0]["title"].str(), "Long");
    EXPECT_TRUE(doc["recordings"][0]["events"].is_null());
}

TEST_F(Json, RecoveryListsTheRecordingFiles)
{
    SKIP_WITHOUT_PYTHON();
    make_disk(mixed_recordings());
    record_length = 0;
    DiskImage(path).add_file(0, "0.av", pattern_bytes(4096, 3), 0x1006);
    Value doc = run_json({"-r", "-l"});
    EXPECT_EQ(doc.keys(), (std::vector<std::string>{"disk", "recordings"}));
    ASSERT_EQ(doc["recordings"].size(), 4u); // 5.av, 6.av, 8.av and the buffer 0.av
    const Value &second = doc["recordings"][1];
    EXPECT_EQ(second.keys(), (std::vector<std::string>{"number", "name", "disk_name", "file_number",
                                                        "stream_bytes", "buffer", "events"}));
    EXPECT_EQ(second["name"].str(), "recover_0002.ts");
    EXPECT_EQ(second["disk_name"].str(), "6.av");
    EXPECT_EQ(second["file_number"].integer(), 6);
    EXPECT_EQ(second["stream_bytes"].integer(), 100000);
    EXPECT_EQ(second["events"][0]["title"].str(), "\xC3\x9C" "ber");
    EXPECT_TRUE(doc["recordings"][3]["buffer"].flag());
    EXPECT_FALSE(second["buffer"].flag());

    // -n reads no information (its partition is not read): asked for, there is none.
    Value bare = run_json({"-r", "-n", "-l", "-i", "3"});
    EXPECT_TRUE(bare["recordings"][0]["events"].is_null());
    EXPECT_EQ(bare["recordings"][2]["events"].size(), 0u);
    RunResult r;
    Value missing = run_json({"-r", "-i", "9"}, "", &r);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(missing["error"].str(), "Recording 9 does not exist");
}

// A partial rescue image: each file's unreadable bytes and every area (the message lists
// the first four), and the map's totals, as numbers.
TEST_F(Json, CheckWithABadMapGivesTheUnreadableAreas)
{
    SKIP_WITHOUT_PYTHON();
    make_disk({full_recording(5, "One", 6 * FIXTURE_CLUSTER), full_recording(6, "Two")});
    std::ostringstream map;
    map << std::hex << "# Mapfile\n0x0 +\n";
    uint64_t at = 0;
    for (uint64_t k = 0; k < 5; ++k) {
        uint64_t bad = file_sector(0, "5.av", k * FIXTURE_CLUSTER + 1024) * 512;
        map << "0x" << at << " 0x" << bad - at << " +\n0x" << bad << " 0x200 -\n";
        at = bad + 512;
    }
    map << "0x" << at << " 0x" << std::filesystem::file_size(path) - at << " +\n";
    std::string text = map.str();
    write_host_file(dir.file("rescue.map"), Bytes(text.begin(), text.end()));
    Value doc = run_json({"--check", "--bad-map", dir.file("rescue.map")});
    ASSERT_EQ(doc["findings"].size(), 2u);
    const Value &file = doc["findings"][0];
    EXPECT_EQ(file["kind"].str(), "bad-area-file");
    EXPECT_THAT(file["message"].str(), HasSubstr(" and 1 more"));
    EXPECT_EQ(file["file"].str(), "5.av");
    EXPECT_EQ(file["unreadable_bytes"].integer(), 5 * 512);
    ASSERT_EQ(file["unreadable_areas"].size(), 5u);
    EXPECT_EQ(file["unreadable_areas"][4]["first"].integer(), 4 * FIXTURE_CLUSTER + 1024);
    EXPECT_EQ(file["unreadable_areas"][4]["last"].integer(), 4 * FIXTURE_CLUSTER + 1535);
    const Value &summary = doc["findings"][1];
    EXPECT_EQ(summary["kind"].str(), "map-summary");
    EXPECT_EQ(summary["unreadable_bytes"].integer(), 5 * 512);
    EXPECT_EQ(summary["files_touched"].integer(), 1);
    EXPECT_EQ(summary["whole_recordings"].integer(), 1);
    EXPECT_EQ(summary["listed_recordings"].integer(), 2);
}

TEST_F(Json, QuestionsAndOtherCommandsAreRefusedWithADocument)
{
    SKIP_WITHOUT_PYTHON();
    ImageSpec spec = fixture_spec();
    for (PartitionSpec &p : spec.partitions)
        p.format_code = 0xE000000F; // without a list, opening asks for the record length
    make_disk({}, {}, spec);
    Bytes before = image_bytes();
    RunResult r;
    Value refused = run_json({"-l"}, "yes\n", &r);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("Is this a Finnish 9200? [no]: \n--json does not wait for answers"));
    EXPECT_EQ(refused["status"].integer(), 1);
    EXPECT_EQ(refused["disk"].str(), path);
    EXPECT_THAT(refused["error"].str(), HasSubstr("add -y"));
    EXPECT_EQ(run_json({"-y", "-l"}, "", &r)["record_length"].integer(), 304);
    EXPECT_EQ(r.status, 0);

    const std::pair<std::vector<std::string>, int> refusals[] = {
        {{"--repair"}, 16}, {{"-d", "1"}, 1}, {{"-g", "1"}, 1}, {{"-y", "-p", "x.ts"}, 1}, {{}, 1},
        {{"-l", "--progress-fd", "1"}, 1}, {{"--carve", "-l"}, 1}};
    for (const auto &[args, status] : refusals) {
        Value doc = run_json(args, "yes\n", &r);
        EXPECT_EQ(r.status, status) << args.size();
        EXPECT_EQ(doc["status"].integer(), status);
        EXPECT_EQ(doc["error"].str() + "\n", r.err);
    }
    EXPECT_TRUE(image_bytes() == before);
    Value absent = run_json({"-l"}, "", &r, {dir.file("absent.img")});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(absent["error"].str(), HasSubstr("absent.img"));
}

// The lines of one phase on standard error: {DONE, TOTAL} per line, with its name.
struct Line {
    uint64_t done, total;
    std::string name;
};
std::vector<Line> progress_lines(const std::string &err, const std::string &phase)
{
    std::vector<Line> lines;
    std::istringstream in(err);
    for (std::string text; std::getline(in, text);) {
        if (text.rfind(phase + " ", 0) != 0)
            continue;
        std::istringstream fields(text.substr(phase.size() + 1));
        Line line{};
        fields >> line.done >> line.total;
        fields.get();
        std::getline(fields, line.name);
        lines.push_back(line);
    }
    return lines;
}

// One copy's lines: from 0 to its total, never backwards, and not one per cluster.
void expect_one_copy(const std::vector<Line> &lines, uint64_t total, const std::string &name)
{
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front().done, 0u);
    EXPECT_EQ(lines.back().done, total);
    EXPECT_LE(lines.size(), 102u + 64);
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].total, total);
        EXPECT_EQ(lines[i].name, name);
        if (i > 0) {
            EXPECT_GT(lines[i].done, lines[i - 1].done);
        }
    }
}

TEST_F(Json, ProgressLinesOfA64MiBCopyAndOfACheck)
{
    const size_t size = 64u << 20;
    ImageSpec spec = fixture_spec();
    spec.partitions[0].cluster_count = 4300; // room for the recording and its copy
    TestRecording big = full_recording(5, "Big", size);
    make_disk({big}, {}, spec);
    const std::string stem = host_stem(0, "Big");
    RunResult got = run({"-g", "1", "--progress-fd", "2"});
    ASSERT_EQ(got.status, 0) << got.err;
    std::vector<Line> lines = progress_lines(got.err, "get");
    ASSERT_GE(lines.size(), 4u) << got.err;
    std::vector<Line> stream(lines.begin(), lines.end() - 4); // then .elu and .epg: start, end
    expect_one_copy(stream, size, stem + ".ts");
    EXPECT_GE(stream.size(), 10u); // a 64 MiB copy reports as it goes
    EXPECT_EQ(lines[lines.size() - 4].name, stem + ".elu");
    EXPECT_EQ(lines.back().name, stem + ".epg");
    EXPECT_EQ(host_file(stem + ".ts"), big.av);

    RunResult put = run({"-y", "-p", stem + ".ts", "--progress-fd", "2"});
    ASSERT_EQ(put.status, 0) << put.err;
    std::vector<Line> put_lines = progress_lines(put.err, "put");
    std::vector<Line> put_stream;
    for (const Line &l : put_lines)
        if (l.total == size)
            put_stream.push_back(l);
    expect_one_copy(put_stream, size, stem + ".ts");

    RunResult check = run({"--check", "--progress-fd", "2"});
    std::vector<Line> check_lines = progress_lines(check.err, "check");
    ASSERT_EQ(check_lines.size(), 2u) << check.err;
    EXPECT_EQ(check_lines[0].done, 0u);
    EXPECT_EQ(check_lines[1].done, check_lines[1].total);
    EXPECT_EQ(check_lines[1].name, path);
}

} // namespace
