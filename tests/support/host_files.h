#pragma once
// Files and directories on the host for the tests: a temporary directory that goes with
// its contents, and whole files read and written in one call. Failures throw
// std::runtime_error with the path and the system's reason.
#include <string>

#include "support/byte_helpers.h"

namespace testimg {

// Temporary directory (under $TMPDIR, else /tmp) removed with its contents when
// destroyed, even where a test took the write permission away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Reads and writes whole host files (write_host_file creates or truncates).
Bytes read_host_file(const std::string &path);
void write_host_file(const std::string &path, const Bytes &data);

} // namespace testimg
