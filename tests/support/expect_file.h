#pragma once
// Expected outputs kept in files beside the tests (tests/<module>/expect/...), compared
// byte for byte. With DW_UPDATE_EXPECT=1 in the environment the tests write what the
// programs printed into those files instead, so that a deliberate change of a message is
// one run and a `git diff` to review (README.md, "Developing").
#include <string>
#include <utility>
#include <vector>

namespace testimg {

// Text that differs from run to run (the path of a program, of a temporary image) and
// the placeholder that stands for it in a file: {"@PROGRAM@", "/build/bin/diskwarden"}.
using Placeholders = std::vector<std::pair<std::string, std::string>>;

// The path of an expected-output file, `name` relative to the source tree's tests/.
std::string expect_path(const std::string &name);

// What the file `name` expects, its placeholders replaced by their values, for comparing
// with `actual`. In update mode the file is first rewritten with `actual` (each value
// replaced by its placeholder) when they differ, so the comparison passes. A missing file
// outside update mode is a test failure, and its expectation the empty string.
std::string expected_output(const std::string &name, const std::string &actual,
                            const Placeholders &placeholders = {});

// The file's contents as they are (a test that reads an expectation without a run of its own).
std::string read_expected(const std::string &name);

} // namespace testimg
