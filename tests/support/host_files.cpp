#include "support/host_files.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "support/image_layout.h"

namespace testimg {

using layout::fail_errno;
using layout::ImageFile;

TempDir::TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/dwtest.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data()))
        fail_errno("mkdtemp " + pattern);
    path_ = name.data();
}

TempDir::~TempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    // A test may have taken the write permission away to provoke failures.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

Bytes read_host_file(const std::string &path) {
    ImageFile file(path, O_RDONLY);
    return file.read(0, file.size());
}

void write_host_file(const std::string &path, const Bytes &data) {
    ImageFile(path, O_WRONLY | O_CREAT | O_TRUNC).write(0, data);
}

} // namespace testimg
