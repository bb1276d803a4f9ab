#include "mount_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "records/disk_open.h"

namespace testimg {

namespace {

BadSpot *bad_spot_of(DiskStream *stream) { return static_cast<BadSpot *>(stream->state); }

bool bad_spot_read(DiskStream *stream, uint64_t position, void *data, size_t length)
{
    BadSpot *spot = bad_spot_of(stream);
    if (spot->failing && position < spot->to && position + length > spot->from) {
        ++spot->failed;
        errno = spot->code;
        return false;
    }
    return disk_read_at(&spot->inner, position, data, length);
}

} // namespace

BadSpot *add_bad_spot(DiskStream *stream, uint64_t from, uint64_t to)
{
    static const DiskStreamOps ops = {
        bad_spot_read,
        [](DiskStream *s, uint64_t p, const void *d, size_t n) {
            return disk_write_at(&bad_spot_of(s)->inner, p, d, n);
        },
        [](const DiskStream *s) {
            return disk_stream_size(&static_cast<const BadSpot *>(s->state)->inner);
        },
        [](DiskStream *s) { return disk_sync(&bad_spot_of(s)->inner); },
        [](DiskStream *s) {
            disk_stream_close(&bad_spot_of(s)->inner);
            delete bad_spot_of(s);
            s->state = nullptr;
        },
        [](DiskStream *s, DiskLock mode) { return disk_stream_lock(&bad_spot_of(s)->inner, mode); },
        nullptr,
    };
    auto *spot = new BadSpot{*stream, from, to};
    stream->ops = &ops;
    stream->state = spot;
    return spot;
}

std::vector<std::string> MountFixture::log;

void MountFixture::TearDown()
{
    wfs_end_serving();
    mount_close(wfs);
    wfs = nullptr;
    if (!image_before.empty()) {
        EXPECT_TRUE(read_host_file(path) == image_before) << "the disk was changed";
    }
    DiskFixture::TearDown();
}

void MountFixture::snapshot()
{
    image_before = read_host_file(path);
}

std::vector<TestRecording> MountFixture::recordings()
{
    TestRecording news = full_recording(2, "Evening News", 100003);
    TestRecording film = full_recording(3, "Film: The Long Voyage Home", 5 * FIXTURE_CLUSTER + 6);
    film.placement = Placement::Fragmented;
    film.epg = make_epg({{SUNDAY_2100, 600, "Trailers", "Coming soon."},
                         {SUNDAY_2100 + 600, 4800, "The Long Voyage Home", "A classic drama."}},
                        332);
    TestRecording nature = full_recording(4, "Nature/Wild Isles", 3 * FIXTURE_CLUSTER);
    nature.placement = Placement::Reversed;
    nature.elu = pattern_bytes(2 * FIXTURE_CLUSTER + 1, 44);
    TestRecording lost = full_recording(5, "Lost Stream");
    lost.av.clear(); // listed, but its stream is gone
    TestRecording kept = full_recording(6, "Kept", 4097);
    kept.is_protected = true;
    TestRecording again = full_recording(7, "EVENING NEWS", 5000); // -g makes its name unique
    again.start = SUNDAY_2100;
    return {news, film, nature, lost, kept, again};
}

void MountFixture::make_mount_disk(const ImageSpec &spec)
{
    make_disk(recordings(), {}, spec);
    expect_damaged();
    snapshot();
}

FileSet MountFixture::files_in(const std::string &dir, const std::string &prefix)
{
    FileSet files;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        files[prefix + e.path().filename().string()] = read_host_file(e.path());
    return files;
}

FileSet MountFixture::program_files(size_t listed)
{
    FileSet expected;
    for (size_t n = 1; n <= listed; ++n) {
        std::string number = std::to_string(n);
        std::string dir = host + "/rec" + number;
        EXPECT_EQ(run_in(dir + "h", {"-H", number}).status, 0);
        FileSet header = files_in(dir + "h", "/");
        EXPECT_EQ(header.size(), 1u);
        std::string stem = header.begin()->first.substr(0, header.begin()->first.size() - 4);
        RunResult info = run_in(dir, {"-i", number});
        expected[stem + ".txt"] = Bytes(info.out.begin(), info.out.end());
        if (run_in(dir, {"-g", number}).status == 0) {
            expected.merge(files_in(dir, "/"));
            continue;
        }
        expected.merge(header);
        TestRecording r = recordings().at(n - 1);
        if (!r.elu.empty())
            expected[stem + ".elu"] = r.elu;
        if (!r.epg.empty())
            expected[stem + ".epg"] = r.epg;
    }
    EXPECT_EQ(run_in(host + "/recovery", {"-r", "-g", "1-" + std::to_string(recovered())}).status, 0);
    expected.merge(files_in(host + "/recovery", "/recovery/"));
    // Beside each with programme information, what -r -i shows of it.
    for (size_t k = 1; k <= recovered(); ++k) {
        char stem[32];
        snprintf(stem, sizeof stem, "/recovery/recover_%04zu", k);
        if (expected.count(std::string(stem) + ".epg") == 0)
            continue;
        std::string text = run_in(host + "/recovery-info", {"-r", "-i", std::to_string(k)}).out;
        expected[std::string(stem) + ".txt"] = Bytes(text.begin(), text.end());
    }
    const char *directories[] = {"AV", "EPG", "MPEG_JPEG"};
    DiskImage image(path);
    for (int part = 0; part < 3; ++part) {
        for (const FileInfo &file : image.files(part))
            expected[std::string("/partitions/") + directories[part] + "/" + file.name] =
                image.read_file(part, file.name);
    }
    return expected;
}

size_t MountFixture::recovered() const
{
    size_t count = 0;
    for (const FileInfo &file : DiskImage(path).files(0))
        count += file.name.size() > 3 && file.name.ends_with(".av") ? 1 : 0;
    return count;
}

void MountFixture::capture_log(const char *text) { log.emplace_back(text); }

Wfs *MountFixture::serve(HumaxDisk *disk)
{
    log.clear();
    wfs = mount_create(disk, 0);
    wfs->log = capture_log;
    wfs_begin_serving(wfs);
    return wfs;
}

Wfs *MountFixture::open_wfs()
{
    Error error;
    EXPECT_TRUE(mount_open(path.c_str(), DiskOpenOptions{}, MountScope::Whole, &wfs, &error)) << error.text;
    log.clear();
    wfs->log = capture_log;
    wfs_begin_serving(wfs);
    return wfs;
}

BadSpot *MountFixture::open_wfs_with_bad_spot(uint64_t from, uint64_t to, Error *list_error)
{
    BadSpot *spot = nullptr;
    DiskOpenOptions options = mount_open_options({});
    options.wrap_stream = [&](DiskStream *stream) { spot = add_bad_spot(stream, from, to); };
    HumaxDisk *disk = nullptr;
    Error error;
    EXPECT_TRUE(disk_open({path}, options, &disk, &error)) << error.text;
    if (list_error != nullptr)
        *list_error = disk->list_error;
    serve(disk);
    return spot;
}

uint64_t MountFixture::cluster_position(int part, const std::string &name, size_t index) const
{
    DiskImage image(path);
    FileInfo file = image.find(part, name).value();
    return uint64_t{image.data_sector(part)} * 512 +
           uint64_t{file.clusters.at(index)} * image.cluster_length(part);
}

Bytes MountFixture::read_file(Wfs *fs, const std::string &file_path, size_t piece)
{
    uint64_t handle = 0;
    int opened = wfs_open(fs, file_path.c_str(), O_RDONLY, &handle);
    EXPECT_EQ(opened, 0) << file_path;
    if (opened != 0)
        return {};
    Bytes contents;
    Bytes buffer(piece);
    for (int n; (n = wfs_read(fs, handle, reinterpret_cast<char *>(buffer.data()), piece,
                              static_cast<off_t>(contents.size()))) > 0;)
        contents.insert(contents.end(), buffer.begin(), buffer.begin() + n);
    wfs_release(fs, handle);
    return contents;
}

std::vector<std::string> MountFixture::names_in(Wfs *fs, const std::string &dir)
{
    std::vector<std::string> names;
    EXPECT_EQ(wfs_readdir(
                  fs, dir.c_str(),
                  [](void *context, const char *name) {
                      static_cast<std::vector<std::string> *>(context)->push_back(name);
                      return true;
                  },
                  &names),
              0);
    return names;
}

FileSet MountFixture::read_tree(Wfs *fs, const std::string &dir)
{
    FileSet files;
    for (const std::string &name : names_in(fs, dir)) {
        if (name == "." || name == "..")
            continue;
        std::string child = (dir == "/" ? "" : dir) + "/" + name;
        struct stat status;
        EXPECT_EQ(wfs_getattr(fs, child.c_str(), &status), 0) << child;
        if (S_ISDIR(status.st_mode)) {
            files.merge(read_tree(fs, child));
            continue;
        }
        files[child] = read_file(fs, child);
        EXPECT_EQ(files[child].size(), static_cast<size_t>(status.st_size)) << child;
    }
    return files;
}

std::vector<std::string> names_of(const FileSet &files)
{
    std::vector<std::string> names;
    for (const auto &entry : files)
        names.push_back(entry.first);
    return names;
}

} // namespace testimg
