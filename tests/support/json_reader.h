#pragma once
// A strict JSON reader for the tests of --json: the documents are parsed, never compared
// as text. Strict as RFC 8259 is: no control character inside a string, only the escapes
// JSON knows, valid UTF-8 throughout (also inside strings), one value and nothing after
// it but white space, no key twice in an object. Anything else throws
// std::runtime_error naming the offset.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testjson {

struct Value {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    std::string text;    // a string's value (UTF-8), or a number as written
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> members; // in document order

    bool is_null() const { return type == Type::Null; }
    bool has(const std::string &key) const;
    // Throw when the value is of another type or the key or index is missing.
    const Value &operator[](const std::string &key) const;
    const Value &operator[](size_t index) const;
    const std::string &str() const;
    int64_t integer() const;
    bool flag() const;
    size_t size() const; // of an array or object
    std::vector<std::string> keys() const;
};

Value parse(const std::string &document);

} // namespace testjson
