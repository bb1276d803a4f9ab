#include "expect_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace testimg {

namespace {

void replace_all(std::string &text, const std::string &from, const std::string &to)
{
    if (from.empty())
        return;
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

bool read_file(const std::string &path, std::string *contents)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    *contents = text.str();
    return true;
}

void write_file(const std::string &path, const std::string &contents)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out.flush())
        ADD_FAILURE() << "cannot write " << path;
}

// Update mode: DW_UPDATE_EXPECT=1.
bool updating_expectations()
{
    const char *value = std::getenv("DW_UPDATE_EXPECT");
    return value != nullptr && std::string(value) == "1";
}

} // namespace

std::string expect_path(const std::string &name)
{
    return std::string(DW_SOURCE_DIR) + "/tests/" + name;
}

std::string read_expected(const std::string &name)
{
    std::string contents;
    if (!read_file(expect_path(name), &contents))
        ADD_FAILURE() << "no expected output " << expect_path(name) << " (DW_UPDATE_EXPECT=1 writes it)";
    return contents;
}

std::string expected_output(const std::string &name, const std::string &actual, const Placeholders &placeholders)
{
    std::string path = expect_path(name);
    std::string stored;
    bool found = read_file(path, &stored);
    if (updating_expectations()) {
        std::string generic = actual;
        for (const auto &[placeholder, value] : placeholders)
            replace_all(generic, value, placeholder);
        if (!found || generic != stored) {
            write_file(path, generic);
            std::cout << "updated " << path << "\n";
        }
        stored = generic;
    } else if (!found) {
        ADD_FAILURE() << "no expected output " << path << " (DW_UPDATE_EXPECT=1 writes it)";
        return {};
    }
    for (const auto &[placeholder, value] : placeholders)
        replace_all(stored, placeholder, value);
    return stored;
}

} // namespace testimg
