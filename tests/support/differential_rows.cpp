// The rows of the differential runs (see differential.h). reelhead's rows cover its
// arguments (wildcards, a directory part, options), every way a file is skipped, names
// that carry dates, bytes that a text-mode host would rewrite, and a stream larger than
// 4 GiB whose last PCR lies past 5 GiB. diskwarden's rows run every command on images
// made by the test-support image builder (the images left behind are compared too), the
// checker on a disk of the corruption catalogue, and some of them again with the disks
// opened for direct I/O, where the Windows backend refuses every transfer that is not
// sector-aligned, as a physical drive does. Both programs also meet names outside the
// Windows code page (Cyrillic, CJK, and look-alikes that the code page would turn into
// other names or wildcards) and a folder whose full path is longer than MAX_PATH.
#include "differential.h"

#include "corruptions.h"
#include "disk_fixture.h"

namespace difftest {

namespace {

using tswriter::RecordingSpec;

// Names beyond ASCII reach a Windows program under Wine only in a UTF-8 locale: in the C
// locale Wine takes file names and arguments as ASCII and drops the high bits.
const std::string UTF8_LOCALE = "LC_ALL=C.UTF-8";

// A folder whose full path is longer than Windows' MAX_PATH (259 characters) wherever
// the run's directory is, inside `first`. (Wine cannot start a program in such a folder,
// so the rows name it in their arguments; reelhead takes arguments of up to 254 bytes.)
std::string long_folder(const std::string &first)
{
    std::string folder = first;
    for (int part = 1; part <= 5; ++part)
        folder += "/recordings of the long winter evenings, part " + std::to_string(part);
    return folder;
}

RecordingSpec recording(unsigned seconds, uint16_t pcr_pid = 0x200)
{
    RecordingSpec spec;
    spec.seconds = seconds;
    spec.pcr_pid = pcr_pid;
    spec.streams = {{2, pcr_pid, 0}, {3, 0x280, 0}};
    return spec;
}

// Identifiers that put 0x0A bytes into the header, and a stream with 0x1A, 0x0D and 0x0A
// bytes before its tables: a text-mode host would end the reading at the first and turn
// the others into line ends.
InputFile text_mode_trap(const std::string &name)
{
    return {name, [](const std::string &path) {
                tswriter::TsWriter ts;
                ts.raw({0x0D, 0x0A, 0x1A, 0x0A, 0x0D});
                ts.pat({{0x0A0A, 0x0A0A}});
                ts.pmt(0x0A0A, 0x0A0A, 0x0A1A, {{2, 0x0A1A, 0}, {4, 0x0A0D, 0}});
                for (unsigned tick = 0; tick <= 20; ++tick) {
                    ts.pcr(0x0A1A, 0x0A0A0A + uint64_t{tick} * 9000);
                    ts.raw({0x1A, 0x0D, 0x0A});
                    ts.payload(0x0A1A, 2);
                }
                ts.save(path);
            }};
}

std::vector<Row> reelhead_rows()
{
    RecordingSpec with_nit = recording(25, 0x300);
    with_nit.with_nit = true;
    RecordingSpec no_video = recording(7);
    no_video.streams = {{4, 0x280, 0}};
    tswriter::TsWriter no_tables;
    no_tables.payload(0x200, 40);
    const testimg::Bytes old_header(304, 0x5A);

    return {
        {"reelhead_help", Program::Reelhead, {"-h"}, "", {}, {}, 0, {}},
        {"reelhead_without_files", Program::Reelhead, {}, "", {}, {}, 1, {}},
        {"reelhead_wildcard_several_streams",
         Program::Reelhead,
         {"*.ts"},
         "",
         {stream_file("a.ts", recording(10)), stream_file("b.ts", with_nit),
          stream_file("c.ts", no_video), stream_file("d.mpg", recording(3))},
         {},
         0,
         {"a.hre", "b.hre", "c.hre"}},
        {"reelhead_wildcards_with_directory_and_marker",
         Program::Reelhead,
         {"--", "rec/?.ts", "rec/-x.ts", "*.mpg"},
         "",
         {stream_file("rec/a.ts", recording(4)), stream_file("rec/ab.ts", recording(5)),
          stream_file("rec/-x.ts", recording(6))},
         {},
         1,
         {"rec/a.hre", "rec/-x.hre"}},
        {"reelhead_header_exists_stream_without_pat",
         Program::Reelhead,
         {"taken.ts", "empty.ts", "nopat.ts", "good.ts"},
         "",
         {stream_file("taken.ts", recording(5)), bytes_file("taken.hre", old_header),
          bytes_file("empty.ts", {}), bytes_file("nopat.ts", no_tables.bytes()),
          stream_file("good.ts", recording(12))},
         {},
         1, // streams left without a header
         {"good.hre"}},
        {"reelhead_dates_from_names",
         Program::Reelhead,
         {"20130526 2030 Title.ts", "001_2013May26_2030_i7Other.ts", "recover_0042.ts"},
         "",
         {stream_file("20130526 2030 Title.ts", recording(8)),
          stream_file("001_2013May26_2030_i7Other.ts", recording(9)),
          stream_file("recover_0042.ts", recording(2))},
         {"TZ=EST5"},
         0,
         {"20130526 2030 Title.hre", "001_2013May26_2030_i7Other.hre", "recover_0042.hre"}},
        {"reelhead_names_outside_the_code_page",
         Program::Reelhead,
         {"*.ts"},
         "",
         {stream_file("20240101 2000 Фильм.ts", recording(6)), stream_file("映画.ts", recording(7)),
          stream_file("Ｆｉｌｍ.ts", recording(8)), stream_file("Film.ts", recording(9))},
         {UTF8_LOCALE},
         0,
         {"20240101 2000 Фильм.hre", "映画.hre", "Ｆｉｌｍ.hre", "Film.hre"}},
        {"reelhead_in_a_long_folder",
         Program::Reelhead,
         {long_folder("r") + "/*.ts"},
         "",
         {stream_file(long_folder("r") + "/a.ts", recording(5))},
         {},
         0,
         {long_folder("r") + "/a.hre"}},
        {"reelhead_bytes_a_text_mode_host_rewrites",
         Program::Reelhead,
         {"trap.ts"},
         "",
         {text_mode_trap("trap.ts")},
         {},
         0,
         {"trap.hre"}},
        {"reelhead_stream_larger_than_4_GiB",
         Program::Reelhead,
         {"large.ts"},
         "",
         {large_stream_file("large.ts", 3 * 3600 + 25 * 60 + 7)},
         {},
         0,
         {"large.hre"}},
    };
}

using testimg::Bytes;
using testimg::TestRecording;

// A recorder disk with three recordings: one fragmented, one protected whose title holds
// characters no host file name may, and one whose programme information is in the old
// 328-byte records that -E converts.
InputFile recorder_disk(const std::string &name)
{
    return image_file(
        name,
        [](testimg::DiskImage &image) {
            TestRecording news = testimg::full_recording(2, "Evening News", 100000);
            news.placement = testimg::Placement::Fragmented;
            TestRecording film = testimg::full_recording(3, "Film: Voyage/Home?", 70000);
            film.is_protected = true;
            TestRecording nature = testimg::full_recording(5, "Nature", 40000);
            nature.epg = testimg::make_epg({{testimg::SUNDAY_2100 + 2 * 86400, 3600, "Nature",
                                            "Wildlife of the isles."}},
                                           328);
            testimg::write_recordings(image, {news, film, nature});
        },
        testimg::fixture_spec());
}

// A second disk with one recording of its own, the destination of copies.
InputFile other_disk(const std::string &name)
{
    return image_file(
        name,
        [](testimg::DiskImage &image) {
            testimg::write_recordings(image, {testimg::full_recording(2, "Old News", 30000)});
        },
        testimg::fixture_spec());
}

// A disk without a record list: recovery mode finds its recordings by their .av files.
InputFile listless_disk(const std::string &name)
{
    return image_file(name, [](testimg::DiskImage &image) {
        image.add_file(0, "2.av", testimg::pattern_bytes(3 * 4096 + 123, 5), 0x1002,
                       testimg::Placement::Fragmented);
        image.add_file(0, "2.elu", testimg::pattern_bytes(700, 6));
        image.add_file(1, "2.epg", testimg::make_epg({{1000, 1800, "Alpha", "First."}}, 332));
        image.add_file(0, "4.av", testimg::pattern_bytes(2 * 4096, 8), 0x1002, testimg::Placement::Reversed);
    });
}

// The catalogue disk with one of the named corruptions.
InputFile damaged_disk(const std::string &name, const std::string &corruption)
{
    return {name, [corruption](const std::string &path) {
                testimg::build_catalogue_disk(path);
                testimg::DiskImage image(path);
                testimg::corruption(corruption).damage(image);
            }};
}

// The files of a recording on the host, as -g leaves them and -p takes them: STEM.ts,
// STEM.hre and, unless `companions` is false, STEM.elu and STEM.epg.
std::vector<InputFile> host_recording(const std::string &stem, const std::string &title,
                                      unsigned seed, bool companions = true)
{
    const uint32_t start = testimg::SUNDAY_2100 + seed * 3600;
    std::vector<InputFile> files = {
        bytes_file(stem + ".ts", testimg::pattern_bytes(90000 + seed * 777, seed)),
        bytes_file(stem + ".hre", testimg::make_entry(304, 0, start, start + 1800, title)),
    };
    if (companions) {
        files.push_back(bytes_file(stem + ".elu", testimg::pattern_bytes(500, 40 + seed)));
        files.push_back(bytes_file(stem + ".epg", testimg::make_epg({{start, 1800, title, "Put."}}, 332)));
    }
    return files;
}

std::vector<InputFile> joined(std::vector<std::vector<InputFile>> groups)
{
    std::vector<InputFile> all;
    for (auto &group : groups)
        all.insert(all.end(), group.begin(), group.end());
    return all;
}

std::vector<std::string> recording_files(const std::string &stem)
{
    return {stem + ".ts", stem + ".hre", stem + ".elu", stem + ".epg"};
}

const std::string NEWS = "20130526 2100 Evening News";
const std::string FILM = "20130527 2100 Film_ Voyage_Home_";
const std::string NATURE = "20130528 2100 Nature";
const std::string DIRECT = "DISKWARDEN_DIRECT=1";

std::vector<Row> diskwarden_rows()
{
    const Program dw = Program::Diskwarden;
    const std::vector<InputFile> disk = {recorder_disk("disk.img")};
    const std::vector<InputFile> two_disks = {recorder_disk("disk.img"), other_disk("other.img")};
    const std::vector<InputFile> put_set =
        joined({disk, host_recording("a", "Alpha", 1), host_recording("b", "Bravo", 2, false),
                {bytes_file("c.mpg", {1, 2, 3}), bytes_file("d.ts", {4, 5, 6})}});
    std::vector<std::string> all_got = recording_files(NEWS);
    for (const std::string &stem : {FILM, NATURE})
        for (const std::string &name : recording_files(stem))
            all_got.push_back(name);

    return {
        {"diskwarden_help", dw, {"-h"}, "", {}, {}, 0, {}},
        {"diskwarden_missing_image", dw, {"-l", "missing.img"}, "", {}, {}, 1, {}},
        {"diskwarden_list", dw, {"-l", "disk.img"}, "", disk, {}, 0, {}},
        {"diskwarden_list_extended", dw, {"-x", "-l", "disk.img"}, "", disk, {}, 0, {}},
        {"diskwarden_information", dw, {"-i", "1-3", "disk.img"}, "", disk, {}, 0, {}},
        {"diskwarden_get", dw, {"-g", "1-3", "disk.img"}, "", disk, {}, 0, all_got},
        {"diskwarden_get_replaces_after_yes", dw, {"-g", "1", "disk.img"}, "yes\n",
         joined({disk, {bytes_file(NEWS + ".ts", {9, 9, 9})}}), {}, 0, {NEWS + ".hre"}},
        {"diskwarden_backup", dw, {"-b", "disk.img"}, "", disk, {}, 0, all_got},
        // A short file under a stream's name is kept, and nothing more of it is written.
        {"diskwarden_backup_keeps_a_short_file", dw, {"-b", "disk.img"}, "",
         joined({disk, {bytes_file(NEWS + ".ts", {9, 9, 9})}}), {}, 1,
         {all_got.begin() + 4, all_got.end()}},
        // From a partial rescue image whose map marks everything unread: every piece of
        // the recording is zeros, with its map beside it.
        {"diskwarden_get_from_a_partial_image", dw, {"-g", "1", "--bad-map", "rescue.map", "disk.img"}, "",
         joined({disk, {bytes_file("rescue.map", {'0', 'x', '0', ' ', '+', '\n', '0', 'x', '0', ' ', '0', 'x',
                                                     '4', '0', '0', '0', '0', '0', '0', '0', ' ', '-', '\n'})}}), {}, 1,
         {NEWS + ".ts", NEWS + ".ts.map", NEWS + ".elu", NEWS + ".elu.map", NEWS + ".epg",
          NEWS + ".epg.map", NEWS + ".hre"}},
        {"diskwarden_headers", dw, {"-H", "1-3", "disk.img"}, "", disk, {}, 0,
         {NEWS + ".hre", FILM + ".hre", NATURE + ".hre"}},
        {"diskwarden_put_wildcard", dw, {"-p", "\"*.ts\"", "disk.img"}, "yes\n", put_set, {}, 0, {}},
        {"diskwarden_put_from_a_directory", dw, {"-y", "-p", "\"rec/?.ts\"", "disk.img"}, "",
         joined({disk, {bytes_file("rec/a.ts", testimg::pattern_bytes(5000, 3)),
                        bytes_file("rec/a.hre", testimg::make_entry(304, 0, 1400000000, 1400000600, "In Rec")),
                        bytes_file("rec/ab.ts", {1})}}),
         {}, 0, {}},
        // "Фильм" in the code page is "?????", a pattern that "Movie" matches; "Ｆｉｌｍ＊" is
        // "Film*" there.
        {"diskwarden_put_name_outside_the_code_page", dw, {"-y", "-p", "\"20240101 2000 Фильм.ts\"", "disk.img"},
         "",
         joined({disk, host_recording("20240101 2000 Фильм", "Film", 1),
                 host_recording("20240101 2000 Movie", "Movie", 2)}),
         {UTF8_LOCALE}, 0, {}},
        {"diskwarden_put_look_alike_names", dw, {"-y", "-p", "\"Ｆｉｌｍ＊.ts\"", "disk.img"}, "",
         joined({disk, host_recording("Ｆｉｌｍ＊", "Wide", 3), host_recording("Film 2", "Narrow", 4)}),
         {UTF8_LOCALE}, 0, {}},
        {"diskwarden_put_from_a_long_folder", dw,
         {"-y", "-p", "\"" + long_folder("d") + "/*.ts\"", long_folder("d") + "/disk.img"}, "",
         joined({{recorder_disk(long_folder("d") + "/disk.img")},
                 host_recording(long_folder("d") + "/20240101 2000 Long", "Long", 5)}),
         {}, 0, {}},
        {"diskwarden_put_nothing_matches", dw, {"-y", "-p", "\"*.ts\"", "disk.img"}, "", disk, {}, 1, {}},
        {"diskwarden_delete_protected", dw, {"-d", "2", "disk.img"}, "yes\n", disk, {}, 0, {}},
        {"diskwarden_delete_unprotected", dw, {"-d", "1,3", "disk.img"}, "yes\nyes\n", disk, {}, 0, {}},
        {"diskwarden_unprotect", dw, {"-u", "2", "disk.img"}, "", disk, {}, 0, {}},
        {"diskwarden_copy_between_disks", dw, {"-y", "-g", "1-3", "disk.img", "other.img"}, "",
         two_disks, {}, 0, {}},
        {"diskwarden_same_disk_refused", dw, {"-y", "-g", "1", "disk.img", "./disk.img"}, "", disk,
         {}, 1, {}},
        {"diskwarden_recovery_list", dw, {"-r", "-l", "listless.img"}, "", {listless_disk("listless.img")},
         {}, 0, {}},
        {"diskwarden_recovery_get", dw, {"-r", "-g", "1-2", "listless.img"}, "",
         {listless_disk("listless.img")}, {}, 0, {}},
        {"diskwarden_update_information", dw, {"-E", "disk.img"}, "", disk, {}, 0, {}},
        {"diskwarden_modify_entry", dw, {"-M", "2", "-O", "0x30", "-V", "0x41", "disk.img"}, "", disk,
         {}, 0, {}},
        {"diskwarden_check", dw, {"--check", "disk.img"}, "", {damaged_disk("disk.img", "orphan-chain")},
         {}, 4, {}},
        {"diskwarden_repair", dw, {"--repair", "-y", "disk.img"}, "", {damaged_disk("disk.img", "orphan-chain")},
         {}, 1, {"orphan-AV-5.ts"}},
        {"diskwarden_wait", dw, {"-w", "-l", "disk.img"}, "\n", disk, {}, 0, {}},
        // For scripts: the JSON documents, and progress lines on a descriptor (here 2).
        {"diskwarden_json_list_and_information", dw, {"--json", "-l", "-i", "1-3", "disk.img"}, "", disk, {}, 0,
         {}},
        {"diskwarden_json_repair", dw, {"--json", "--repair", "-y", "disk.img"}, "",
         {damaged_disk("disk.img", "orphan-chain")}, {}, 1, {"orphan-AV-5.ts"}},
        {"diskwarden_progress_lines", dw, {"-g", "1", "--progress-fd", "2", "disk.img"}, "", disk, {}, 0,
         recording_files(NEWS)},
        // The aligned path: the Windows backend refuses what a physical drive would.
        {"diskwarden_direct_get", dw, {"-g", "1-3", "disk.img"}, "", disk, {DIRECT}, 0, all_got},
        {"diskwarden_direct_put", dw, {"-p", "\"*.ts\"", "disk.img"}, "yes\n", put_set, {DIRECT}, 0, {}},
        {"diskwarden_direct_copy_between_disks", dw, {"-y", "-g", "1-3", "disk.img", "other.img"}, "",
         two_disks, {DIRECT}, 0, {}},
        {"diskwarden_direct_delete", dw, {"-d", "1,3", "disk.img"}, "yes\nyes\n", disk, {DIRECT}, 0, {}},
        {"diskwarden_direct_update_information", dw, {"-E", "disk.img"}, "", disk, {DIRECT}, 0, {}},
    };
}

} // namespace

const std::vector<Row> &differential_rows()
{
    static const std::vector<Row> rows = [] {
        std::vector<Row> all = reelhead_rows();
        for (Row &row : diskwarden_rows())
            all.push_back(std::move(row));
        return all;
    }();
    return rows;
}

} // namespace difftest
