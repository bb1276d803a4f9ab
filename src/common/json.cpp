#include "common/json.h"

#include <cstdio>

#include "common/utf8.h"

namespace {

bool document_printed = false;

void append_escape(std::string &out, unsigned code)
{
    char text[8];
    snprintf(text, sizeof text, "\\u%04x", code);
    out += text;
}

// Characters written as escapes although JSON would take them as they are.
bool escaped_anyway(std::string_view sequence)
{
    auto b = [&](size_t i) { return static_cast<unsigned char>(sequence[i]); };
    if (sequence.size() == 1)
        return b(0) == 0x7F;
    if (sequence.size() == 2)
        return b(0) == 0xC2 && b(1) <= 0x9F; // U+0080-U+009F
    return sequence.size() == 3 && b(0) == 0xE2 && b(1) == 0x80 && (b(2) == 0xA8 || b(2) == 0xA9);
}

unsigned code_of(std::string_view sequence)
{
    auto b = [&](size_t i) { return static_cast<unsigned char>(sequence[i]); };
    if (sequence.size() == 1)
        return b(0);
    if (sequence.size() == 2)
        return (b(0) & 0x1Fu) << 6 | (b(1) & 0x3Fu);
    return (b(0) & 0x0Fu) << 12 | (b(1) & 0x3Fu) << 6 | (b(2) & 0x3Fu);
}

void append_string(std::string &out, std::string_view text)
{
    out += '"';
    while (!text.empty()) {
        size_t length = utf8_sequence_length(text);
        if (length == 0) {
            out += "\xEF\xBF\xBD"; // U+FFFD for a byte that starts no character
            text.remove_prefix(1);
            continue;
        }
        std::string_view sequence = text.substr(0, length);
        text.remove_prefix(length);
        char c = sequence[0];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\b') {
            out += "\\b";
        } else if (c == '\f') {
            out += "\\f";
        } else if ((length == 1 && static_cast<unsigned char>(c) < 0x20) || escaped_anyway(sequence)) {
            append_escape(out, code_of(sequence));
        } else {
            out += sequence;
        }
    }
    out += '"';
}

void indent(JsonWriter *json)
{
    json->text += '\n';
    json->text.append(2 * json->first.size(), ' ');
}

// Everything that goes before a value: a comma after an earlier one, a new line.
void before_value(JsonWriter *json)
{
    if (json->after_key) {
        json->after_key = false;
        return;
    }
    if (json->first.empty())
        return;
    if (!json->first.back())
        json->text += ',';
    json->first.back() = false;
    indent(json);
}

void open_container(JsonWriter *json, char bracket)
{
    before_value(json);
    json->text += bracket;
    json->first.push_back(true);
}

void close_container(JsonWriter *json, char bracket)
{
    bool empty = json->first.back();
    json->first.pop_back();
    if (!empty)
        indent(json);
    json->text += bracket;
}

} // namespace

void json_begin_object(JsonWriter *json) { open_container(json, '{'); }
void json_end_object(JsonWriter *json) { close_container(json, '}'); }
void json_begin_array(JsonWriter *json) { open_container(json, '['); }
void json_end_array(JsonWriter *json) { close_container(json, ']'); }

void json_key(JsonWriter *json, std::string_view key)
{
    before_value(json);
    append_string(json->text, key);
    json->text += ": ";
    json->after_key = true;
}

void json_string(JsonWriter *json, std::string_view utf8)
{
    before_value(json);
    append_string(json->text, utf8);
}

void json_uint(JsonWriter *json, uint64_t value)
{
    before_value(json);
    json->text += std::to_string(value);
}

void json_int(JsonWriter *json, int64_t value)
{
    before_value(json);
    json->text += std::to_string(value);
}

void json_bool(JsonWriter *json, bool value)
{
    before_value(json);
    json->text += value ? "true" : "false";
}

void json_null(JsonWriter *json)
{
    before_value(json);
    json->text += "null";
}

std::string json_finish(JsonWriter *json)
{
    return json->text + "\n";
}

void json_print(JsonWriter *json)
{
    std::string text = json_finish(json);
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
    document_printed = true;
}

bool json_printed()
{
    return document_printed;
}

void json_failure(JsonWriter *json, const std::string *disk, int status, std::string_view message)
{
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.remove_suffix(1);
    json_begin_object(json);
    json_key(json, "disk");
    if (disk != nullptr)
        json_string(json, *disk);
    else
        json_null(json);
    json_key(json, "status");
    json_int(json, status);
    json_key(json, "error");
    json_string(json, message);
    json_end_object(json);
}

std::string json_quoted(std::string_view utf8)
{
    std::string out;
    append_string(out, utf8);
    return out;
}

std::string json_hex(const uint8_t *bytes, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * size);
    for (size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}
