// Replays inputs through a fuzz target without libFuzzer: every regular file named on the
// command line, or found (recursively, in name order) in a directory named there, is fed
// to LLVMFuzzerTestOneInput once. Used by the test suite so that every input the fuzzers
// ever kept, and every crash they found, runs in the normal and the sanitizer builds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

namespace {

std::vector<std::filesystem::path> inputs_of(const std::filesystem::path &path)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    if (fs::is_directory(path)) {
        for (const auto &entry : fs::recursive_directory_iterator(path))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    } else if (fs::is_regular_file(path)) {
        files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize != nullptr)
        LLVMFuzzerInitialize(&argc, &argv);
    // The targets print listings and information; only survival matters here.
    if (freopen("/dev/null", "w", stdout) == nullptr)
        return 2;
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        // A target new to the tree has no kept inputs yet; its seeds still run.
        if (!std::filesystem::exists(argv[i])) {
            fprintf(stderr, "replay: no inputs kept in %s\n", argv[i]);
            continue;
        }
        // Absolute: a target may change the current directory.
        for (const auto &file : inputs_of(std::filesystem::absolute(argv[i]))) {
            std::ifstream in(file, std::ios::binary);
            std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
            fprintf(stderr, "replay: %s (%zu bytes)\n", file.c_str(), data.size());
            LLVMFuzzerTestOneInput(data.data(), data.size());
            ++count;
        }
    }
    fprintf(stderr, "replay: %zu inputs, no crash\n", count);
    return count > 0 ? 0 : 3;
}
