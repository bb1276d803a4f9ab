#pragma once
// The programs' JSON documents, parsed by python3's json module through the program
// runner, strictly (valid UTF-8, no control character inside a string, no key twice, no
// NaN, whole numbers only), and read here as a tree: the tests never compare documents
// as text. parse() throws std::runtime_error with python's reason for a document it
// refuses; the accessors throw when a key, an item or the type is not there.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testjson {

// One value of the document: its path ("/recordings/0/title"), type and text.
struct Node {
    std::string path;
    char type = 'z'; // o object, a array, s string, n number, b true/false, z null
    std::string text; // a string's UTF-8, a number's digits, "1"/"0", a container's size
};

class Value {
  public:
    Value() = default;
    Value(std::shared_ptr<const std::vector<Node>> nodes, size_t index) : nodes_(std::move(nodes)), index_(index) {}

    bool is_null() const { return node('z', false).type == 'z'; }
    bool has(const std::string &key) const;
    Value operator[](const std::string &key) const;
    Value operator[](size_t index) const;
    const std::string &str() const { return node('s').text; }
    int64_t integer() const { return std::stoll(node('n').text); }
    const std::string &digits() const { return node('n').text; }
    bool flag() const { return node('b').text == "1"; }
    size_t size() const;
    std::vector<std::string> keys() const; // of an object, in document order

  private:
    std::shared_ptr<const std::vector<Node>> nodes_;
    size_t index_ = 0;
    const Node &node(char type, bool check = true) const;
    std::vector<size_t> children() const;
};

// python3 on the search path, or "" (the tests that parse documents skip without it).
const std::string &python();
#define SKIP_WITHOUT_PYTHON()                                                                        \
    if (testjson::python().empty())                                                                  \
    GTEST_SKIP() << "python3 is not installed: the JSON documents cannot be checked"

Value parse(const std::string &document);

} // namespace testjson
