#include "disk_fixture.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <utility>
#include <unistd.h>

#include "ts_writer.h"

namespace testimg {

namespace fs = std::filesystem;

TestRecording full_recording(unsigned file_number, const std::string &title, size_t av_size)
{
    TestRecording r;
    r.file_number = file_number;
    r.title = title;
    r.av = pattern_bytes(av_size, file_number);
    r.elu = pattern_bytes(777, 100 + file_number);
    r.epg = make_epg({{SUNDAY_2100, 5400, title, "About " + title}}, 332);
    return r;
}

LoopDevice::LoopDevice(const std::string &image)
{
    const std::string losetup = "/sbin/losetup";
    if (geteuid() != 0 || access(losetup.c_str(), X_OK) != 0) {
        why = "needs root and losetup for a loop device";
        return;
    }
    RunResult attach = run_program(losetup, {"-f", "--show", image});
    if (attach.status != 0) {
        why = "no loop device: " + attach.err;
        return;
    }
    device = attach.out.substr(0, attach.out.find('\n'));
}

LoopDevice::~LoopDevice()
{
    if (!device.empty())
        run_program("/sbin/losetup", {"-d", device});
}

TestRecording broadcast_recording(unsigned file_number, const std::string &title, unsigned seconds,
                                  uint32_t start, uint32_t seed)
{
    seed = seed != 0 ? seed : file_number;
    tswriter::RecordingSpec spec;
    spec.first_pcr = (900000 + uint64_t{seed} * 987654321) % (uint64_t{1} << 33);
    spec.seconds = seconds;
    spec.filler = 20;
    spec.audio_filler = 4;
    spec.payload_seed = 0x9E3779B9u * seed;
    spec.tables_every = 10;
    spec.service_name = "BBC ONE";
    spec.event_title = title;
    spec.event_start = start;
    spec.event_duration = seconds;
    spec.utc_start = start;
    TestRecording r;
    r.file_number = file_number;
    r.title = title;
    r.av = tswriter::make_recording(spec).bytes();
    r.elu = pattern_bytes(777, 100 + file_number);
    r.epg = make_epg({{start, seconds, title, "About " + title}}, 332);
    r.start = start;
    r.length = seconds;
    return r;
}

ImageSpec fixture_spec()
{
    ImageSpec s = default_spec();
    s.partitions[0].cluster_sectors = FIXTURE_CLUSTER / 512;
    s.partitions[0].cluster_count = 1024;
    return s;
}

std::vector<Bytes> write_recordings(DiskImage &image, const std::vector<TestRecording> &recordings,
                                    const std::vector<Bytes> &extra, unsigned record_length)
{
    std::vector<Bytes> entries;
    uint32_t start = SUNDAY_2100;
    for (const TestRecording &r : recordings) {
        std::string n = std::to_string(r.file_number);
        if (!r.av.empty() && !r.clusters.empty())
            image.add_file_at(0, n + ".av", r.av, r.clusters, 0x1002);
        else if (!r.av.empty())
            image.add_file(0, n + ".av", r.av, 0x1002, r.placement);
        if (!r.elu.empty())
            image.add_file(0, n + ".elu", r.elu);
        if (!r.epg.empty())
            image.add_file(1, n + ".epg", r.epg, 0x1000, r.epg_placement);
        uint32_t begins = r.start != 0 ? r.start : start;
        entries.push_back(make_entry(record_length, r.file_number, begins, begins + r.length,
                                     r.title, r.channel, r.is_protected));
        start += 86400;
    }
    entries.insert(entries.end(), extra.begin(), extra.end());
    image.write_record_list(entries, record_length);
    return entries;
}

void DiskFixture::SetUp()
{
    fs::create_directory(host);
    add_image(path);
}

void DiskFixture::add_image(const std::string &image_path, unsigned length)
{
    auto known = std::find_if(images_.begin(), images_.end(),
                              [&](const CheckedImage &image) { return image.path == image_path; });
    if (known == images_.end())
        images_.push_back({image_path, length});
    else if (length != 0)
        known->record_length = length;
}

void DiskFixture::expect_damaged(const std::string &image_path)
{
    add_image(image_path);
    for (CheckedImage &image : images_)
        image.damaged = image.damaged || image.path == image_path;
}

void DiskFixture::TearDown()
{
    if (!damaged_ && !HasFatalFailure())
        expect_consistent();
}

void DiskFixture::expect_consistent()
{
    for (const CheckedImage &image : images_) {
        if (!image.damaged && fs::exists(image.path)) {
            unsigned length = image.record_length != 0 ? image.record_length : record_length;
            EXPECT_THAT(check_image(image.path, length), ::testing::IsEmpty()) << image.path;
        }
    }
}

std::vector<Bytes> DiskFixture::make_disk(const std::vector<TestRecording> &recordings,
                                          const std::vector<Bytes> &extra, const ImageSpec &spec,
                                          const std::string &image_path)
{
    const std::string &where = image_path.empty() ? path : image_path;
    add_image(where);
    DiskImage image(where, spec);
    return write_recordings(image, recordings, extra, record_length);
}

RunResult DiskFixture::run(std::vector<std::string> args, const std::string &input,
                           std::vector<std::string> disks)
{
    return run_in(host, std::move(args), input, std::move(disks));
}

RunResult DiskFixture::run_in(const std::string &cwd, std::vector<std::string> args,
                              const std::string &input, std::vector<std::string> disks)
{
    return run_with(cwd, {}, std::move(args), input, std::move(disks));
}

RunResult DiskFixture::run_env(const std::vector<std::string> &env, std::vector<std::string> args,
                               const std::string &input, std::vector<std::string> disks)
{
    return run_with(host, env, std::move(args), input, std::move(disks));
}

RunResult DiskFixture::run_with(const std::string &cwd, const std::vector<std::string> &env,
                                std::vector<std::string> args, const std::string &input,
                                std::vector<std::string> disks)
{
    fs::create_directories(cwd);
    for (const std::string &disk : disks)
        args.push_back(disk.empty() ? path : disk);
    std::vector<std::string> all_env = env_;
    all_env.insert(all_env.end(), env.begin(), env.end());
    RunResult result = run_program(diskwarden_path(), args, input, cwd, all_env);
    if (!damaged_)
        expect_consistent();
    return result;
}

void DiskFixture::clear_host()
{
    fs::remove_all(host);
    fs::create_directory(host);
}

testjson::Value DiskFixture::run_json(std::vector<std::string> args, const std::string &input,
                                      RunResult *result, std::vector<std::string> disks)
{
    args.insert(args.begin(), "--json");
    RunResult r = run(args, input, disks);
    if (result != nullptr)
        *result = r;
    try {
        return testjson::parse(r.out);
    } catch (const std::exception &e) {
        ADD_FAILURE() << e.what() << " in:\n" << r.out << "\nstandard error:\n" << r.err;
        return {};
    }
}

void DiskFixture::fail_sectors(const std::string &sectors, const std::string &image_path)
{
    env_ = {"DW_FAULT_IMAGE=" + (image_path.empty() ? path : image_path),
            "DW_FAULT_UNREADABLE=" + sectors, "DW_FAULT_COUNT=" + dir.file("reads")};
}

uint64_t DiskFixture::file_sector(int part, const std::string &name, uint64_t offset,
                                  const std::string &image_path) const
{
    DiskImage image(image_path.empty() ? path : image_path);
    PartitionGeometry g = image.geometry(part);
    std::optional<FileInfo> file = image.find(part, name);
    uint64_t cluster = uint64_t{g.cluster_sectors} * 512;
    EXPECT_TRUE(file.has_value() && offset / cluster < file->clusters.size()) << name;
    if (!file || offset / cluster >= file->clusters.size())
        return 0;
    return g.data_sector + (file->clusters[offset / cluster] * cluster + offset % cluster) / 512;
}

std::vector<std::pair<uint64_t, uint64_t>>
DiskFixture::lost_areas(int part, const std::string &name, uint64_t size,
                        const std::vector<std::pair<uint64_t, uint64_t>> &bad) const
{
    const char *direct = getenv("DISKWARDEN_DIRECT");
    uint64_t unit = direct != nullptr && std::string(direct) == "1" ? 4096 : 512;
    std::vector<std::pair<uint64_t, uint64_t>> areas;
    for (uint64_t at = 0; at < size; at += 512) {
        uint64_t position = file_sector(part, name, at) * 512;
        uint64_t from = position / unit * unit, to = from + unit;
        bool lost = false;
        for (const auto &b : bad)
            lost = lost || (b.first < to && b.second > from);
        if (!lost)
            continue;
        uint64_t end = std::min<uint64_t>(at + 512, size);
        if (!areas.empty() && areas.back().second == at)
            areas.back().second = end;
        else
            areas.emplace_back(at, end);
    }
    return areas;
}

Bytes DiskFixture::with_zeros(Bytes contents, const std::vector<std::pair<uint64_t, uint64_t>> &areas)
{
    for (const auto &area : areas)
        std::fill(contents.begin() + static_cast<long>(area.first), contents.begin() + static_cast<long>(area.second), 0);
    return contents;
}

std::string DiskFixture::map_blocks(uint64_t size, const std::vector<std::pair<uint64_t, uint64_t>> &areas)
{
    std::string text;
    char line[80];
    auto block = [&](uint64_t begin, uint64_t end, char status) {
        if (begin < end) {
            snprintf(line, sizeof line, "0x%08llX  0x%08llX  %c\n", static_cast<unsigned long long>(begin),
                     static_cast<unsigned long long>(end - begin), status);
            text += line;
        }
    };
    uint64_t at = 0;
    for (const auto &area : areas) {
        block(at, area.first, '+');
        block(area.first, area.second, '-');
        at = area.second;
    }
    block(at, size, '+');
    return text;
}

std::pair<unsigned long, unsigned long> DiskFixture::fault_reads() const
{
    std::pair<unsigned long, unsigned long> reads;
    if (FILE *f = fopen(dir.file("reads").c_str(), "r")) {
        if (fscanf(f, "%lu %lu", &reads.first, &reads.second) != 2)
            reads = {};
        fclose(f);
    }
    return reads;
}

RunResult DiskFixture::run_limited(unsigned blocks, std::vector<std::string> args,
                                   const std::string &input)
{
    std::vector<std::string> shell = {"-c", "ulimit -f " + std::to_string(blocks) + "; exec \"$0\" \"$@\"",
                                      diskwarden_path()};
    shell.insert(shell.end(), args.begin(), args.end());
    shell.push_back(path);
    RunResult result = run_program("/bin/sh", shell, input, host);
    if (!damaged_)
        expect_consistent();
    return result;
}

void DiskFixture::fill_directory(int part, unsigned leave_free, const std::string &image_path)
{
    DiskImage image(image_path.empty() ? path : image_path);
    size_t slots = size_t{image.geometry(part).dir_sectors} * 4;
    size_t used = image.files(part).size();
    for (size_t i = 0; used + leave_free < slots; ++i, ++used)
        image.add_file(part, "fill" + std::to_string(i), {});
}

Bytes DiskFixture::table_bytes() const
{
    DiskImage image(path);
    Bytes tables;
    for (int part = 0; part < 3; ++part) {
        PartitionGeometry g = image.geometry(part);
        for (Bytes region : {image.read_sectors(g.start_sector, 1),
                             image.read_sectors(g.fat_sector, g.fat_sectors),
                             image.read_sectors(g.dir_sector, g.dir_sectors)})
            tables.insert(tables.end(), region.begin(), region.end());
    }
    return tables;
}

Bytes DiskFixture::host_file(const std::string &name) const
{
    return read_host_file(host + "/" + name);
}

std::vector<std::string> DiskFixture::host_names() const
{
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(host))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<Bytes> DiskFixture::stored_entries(const std::string &image_path) const
{
    return DiskImage(image_path.empty() ? path : image_path).record_list_entries(record_length);
}

Bytes DiskFixture::stored_entry(size_t i) const
{
    return stored_entries().at(i);
}

bool DiskFixture::on_disk(int part, const std::string &name) const
{
    return DiskImage(path).find(part, name).has_value();
}

std::optional<Bytes> DiskFixture::disk_file(int part, const std::string &name,
                                            const std::string &image_path) const
{
    DiskImage image(image_path.empty() ? path : image_path);
    if (!image.find(part, name))
        return std::nullopt;
    return image.read_file(part, name);
}

void DiskFixture::edit_entries(const std::function<void(std::vector<Bytes> &)> &edit)
{
    DiskImage image(path);
    std::vector<Bytes> entries = image.record_list_entries(record_length);
    edit(entries);
    image.write_record_list(entries, record_length);
}

std::string DiskFixture::host_stem(int day, const std::string &title)
{
    time_t when = SUNDAY_2100 + 86400 * day;
    struct tm parts {};
    gmtime_r(&when, &parts);
    char date[32];
    strftime(date, sizeof date, "%Y%m%d %H%M", &parts);
    return std::string(date) + " " + title;
}

} // namespace testimg
