#include "mount/mount_text.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "records/info.h"
#include "records/listing.h"

namespace {

// Takes what the listing and information display print on standard output into memory
// for as long as it lives. (Until those displays write to a caller's stream.) Callers hold
// the mount's lock, and nothing else of the mount writes to standard output.
class StdoutCapture {
  public:
    StdoutCapture()
    {
        fflush(stdout);
        memory_ = open_memstream(&data_, &size_);
        if (memory_ == nullptr)
            throw std::bad_alloc();
        saved_ = stdout;
        stdout = memory_;
    }
    ~StdoutCapture()
    {
        stdout = saved_;
        fclose(memory_);
        free(data_);
    }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    std::string text()
    {
        fflush(memory_);
        return std::string(data_, size_);
    }

  private:
    FILE *saved_ = nullptr;
    FILE *memory_ = nullptr;
    char *data_ = nullptr;
    size_t size_ = 0;
};

constexpr char STREAM_EXTENSION[] = ".ts";

} // namespace

std::vector<std::string> mount_recording_stems(HumaxDisk *disk)
{
    std::vector<std::string> stems;
    StdoutCapture capture;
    char host_name[HOST_NAME_SIZE];
    for (int n = 1; reclist_walk_to(disk, n, host_name) != nullptr; ++n) {
        // -g writes the stream under this name and puts each companion's extension in
        // place of ".ts".
        std::string name = host_name;
        if (name.size() >= sizeof STREAM_EXTENSION - 1)
            name.resize(name.size() - (sizeof STREAM_EXTENSION - 1));
        stems.push_back(name);
    }
    return stems;
}

bool mount_recording_text(HumaxDisk *disk, int number, std::string *text)
{
    if (number < 1 || reclist_find(&disk->records, number, 0) == nullptr)
        return false;
    StdoutCapture capture;
    cmd_info(disk, number);
    *text = capture.text();
    return !text->empty();
}
