#include "json_reader.h"

#include <stdexcept>

namespace testjson {

namespace {

class Reader {
  public:
    explicit Reader(const std::string &text) : text_(text) {}

    Value document()
    {
        Value v = value();
        space();
        if (at_ < text_.size())
            fail("text after the document");
        return v;
    }

  private:
    const std::string &text_;
    size_t at_ = 0;

    [[noreturn]] void fail(const std::string &what) const
    {
        throw std::runtime_error("JSON at offset " + std::to_string(at_) + ": " + what);
    }

    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

    void space()
    {
        while (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')
            ++at_;
    }

    void expect(const char *word)
    {
        for (const char *p = word; *p; ++p, ++at_)
            if (peek() != *p)
                fail(std::string("expected ") + word);
    }

    Value value()
    {
        space();
        Value v;
        char c = peek();
        if (c == '{') {
            object(&v);
        } else if (c == '[') {
            array(&v);
        } else if (c == '"') {
            v.type = Value::Type::String;
            v.text = string();
        } else if (c == 't' || c == 'f') {
            v.type = Value::Type::Bool;
            v.boolean = c == 't';
            expect(v.boolean ? "true" : "false");
        } else if (c == 'n') {
            expect("null");
        } else {
            v.type = Value::Type::Number;
            v.text = number();
        }
        return v;
    }

    void object(Value *v)
    {
        v->type = Value::Type::Object;
        ++at_;
        space();
        if (peek() == '}') {
            ++at_;
            return;
        }
        for (;;) {
            space();
            if (peek() != '"')
                fail("expected a key");
            std::string key = string();
            if (v->has(key))
                fail("key \"" + key + "\" twice");
            space();
            if (peek() != ':')
                fail("expected ':'");
            ++at_;
            v->members.emplace_back(key, value());
            space();
            if (peek() == '}') {
                ++at_;
                return;
            }
            if (peek() != ',')
                fail("expected ',' or '}'");
            ++at_;
        }
    }

    void array(Value *v)
    {
        v->type = Value::Type::Array;
        ++at_;
        space();
        if (peek() == ']') {
            ++at_;
            return;
        }
        for (;;) {
            v->items.push_back(value());
            space();
            if (peek() == ']') {
                ++at_;
                return;
            }
            if (peek() != ',')
                fail("expected ',' or ']'");
            ++at_;
        }
    }

    std::string number()
    {
        size_t start = at_;
        if (peek() == '-')
            ++at_;
        if (peek() == '0') {
            ++at_;
        } else if (peek() >= '1' && peek() <= '9') {
            while (peek() >= '0' && peek() <= '9')
                ++at_;
        } else {
            fail("expected a value");
        }
        if (peek() == '.' || peek() == 'e' || peek() == 'E')
            fail("the documents hold whole numbers only");
        return text_.substr(start, at_ - start);
    }

    unsigned hex4()
    {
        unsigned value = 0;
        for (int i = 0; i < 4; ++i, ++at_) {
            char c = peek();
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<unsigned>(c - 'A' + 10);
            else
                fail("bad \\u escape");
        }
        return value;
    }

    static void append_utf8(std::string &out, unsigned code)
    {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    // One UTF-8 character as it stands in the text, checked.
    void utf8_character(std::string &out)
    {
        auto byte = [&](size_t i) { return at_ + i < text_.size() ? static_cast<unsigned char>(text_[at_ + i]) : 0u; };
        unsigned first = byte(0);
        size_t length = first < 0x80 ? 1 : first >= 0xC2 && first <= 0xDF ? 2 : first >= 0xE0 && first <= 0xEF ? 3
                        : first >= 0xF0 && first <= 0xF4 ? 4 : 0;
        if (length == 0)
            fail("invalid UTF-8");
        for (size_t i = 1; i < length; ++i)
            if ((byte(i) & 0xC0) != 0x80)
                fail("invalid UTF-8");
        bool overlong = (first == 0xE0 && byte(1) < 0xA0) || (first == 0xF0 && byte(1) < 0x90);
        bool out_of_range = (first == 0xED && byte(1) > 0x9F) || (first == 0xF4 && byte(1) > 0x8F);
        if (overlong || out_of_range)
            fail("invalid UTF-8");
        out.append(text_, at_, length);
        at_ += length;
    }

    std::string string()
    {
        ++at_; // the opening quote
        std::string out;
        for (;;) {
            if (at_ >= text_.size())
                fail("unterminated string");
            auto c = static_cast<unsigned char>(peek());
            if (c == '"') {
                ++at_;
                return out;
            }
            if (c < 0x20)
                fail("control character inside a string");
            if (c != '\\') {
                utf8_character(out);
                continue;
            }
            ++at_;
            char e = peek();
            ++at_;
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned code = hex4();
                if (code >= 0xD800 && code <= 0xDBFF && peek() == '\\') {
                    at_ += 2;
                    unsigned low = hex4();
                    if (low < 0xDC00 || low > 0xDFFF)
                        fail("a high surrogate without its low half");
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xD800 && code <= 0xDFFF) {
                    fail("a lone surrogate");
                }
                append_utf8(out, code);
                break;
            }
            default: fail("unknown escape");
            }
        }
    }
};

[[noreturn]] void wrong(const std::string &what)
{
    throw std::runtime_error("JSON value: " + what);
}

} // namespace

bool Value::has(const std::string &key) const
{
    for (const auto &member : members)
        if (member.first == key)
            return true;
    return false;
}

const Value &Value::operator[](const std::string &key) const
{
    if (type != Type::Object)
        wrong("not an object (looking for \"" + key + "\")");
    for (const auto &member : members)
        if (member.first == key)
            return member.second;
    wrong("no key \"" + key + "\"");
}

const Value &Value::operator[](size_t index) const
{
    if (type != Type::Array || index >= items.size())
        wrong("no item " + std::to_string(index));
    return items[index];
}

const std::string &Value::str() const
{
    if (type != Type::String)
        wrong("not a string");
    return text;
}

int64_t Value::integer() const
{
    if (type != Type::Number)
        wrong("not a number");
    return std::stoll(text);
}

bool Value::flag() const
{
    if (type != Type::Bool)
        wrong("not true or false");
    return boolean;
}

size_t Value::size() const
{
    if (type == Type::Array)
        return items.size();
    if (type == Type::Object)
        return members.size();
    wrong("neither an array nor an object");
}

std::vector<std::string> Value::keys() const
{
    std::vector<std::string> out;
    for (const auto &member : members)
        out.push_back(member.first);
    return out;
}

Value parse(const std::string &document)
{
    return Reader(document).document();
}

} // namespace testjson
