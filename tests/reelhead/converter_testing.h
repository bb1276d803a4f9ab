#pragma once
// Helpers shared by the converter tests: running the analysis steps on a stream built in
// memory, and a time zone for the duration of a test.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "reelhead/stream_info.h"
#include "reelhead/ts_length.h"
#include "reelhead/ts_tables.h"
#include "support/disk_image.h"
#include "support/ts_writer.h"

namespace convtest {

struct Analysis {
    bool pat_found = false;
    bool pmt_found = false;
    StreamInfo info;
    uint64_t length = 0; // measured only when the PMT was found
    bool pcr_found = false;
};

// Runs the PAT search, the PMT search and the length measurement on `stream`, in the
// order reelhead runs them, on a file of its own.
inline Analysis analyse(const tswriter::Bytes &stream)
{
    testimg::TempDir dir;
    const std::string path = dir.file("stream.ts");
    testimg::write_host_file(path, stream);
    Analysis result;
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return result;
    }
    TsReader reader;
    ts_reader_init(&reader, fd);
    dvbpsi_pat_t *pat = ts_find_pat(&reader);
    result.pat_found = pat != nullptr;
    if (pat != nullptr) {
        result.pmt_found = ts_find_pmt(&reader, pat->p_first_program, &result.info);
        dvbpsi_pat_delete(pat);
        if (result.pmt_found) {
            std::optional<uint64_t> length =
                ts_recording_length(&reader, result.info.pcr_pid, result.info.pmt_end);
            result.pcr_found = length.has_value();
            result.length = length.value_or(0);
        }
    }
    close(fd);
    return result;
}

// Sets TZ for the lifetime of the object and restores the previous value after.
class TimeZone {
  public:
    explicit TimeZone(const char *zone)
    {
        if (const char *old = getenv("TZ"))
            saved_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone()
    {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    TimeZone(const TimeZone &) = delete;
    TimeZone &operator=(const TimeZone &) = delete;

  private:
    std::optional<std::string> saved_;
};

} // namespace convtest
