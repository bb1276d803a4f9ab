#pragma once
// A small JSON writer for the programs' machine-readable output (--json): one document
// built in memory, printed once it is complete, so that a run that fails half-way leaves
// nothing half-written on standard output.
//
// Values are written in document order. Inside an object each value is preceded by
// json_key; inside an array (or at the top) values follow each other. The writer places
// commas, indentation (two spaces) and the final newline itself. Calls out of that order
// are programming errors and are not diagnosed.
//
// Strings are UTF-8. Whatever bytes a string holds, the document is valid UTF-8 and
// valid JSON: a byte that starts no valid UTF-8 sequence becomes U+FFFD, '"' and '\'
// are escaped, and so is every control character by JSON's own rules (\n, \t, ...,
// \u001b), together with DEL, the C1 controls U+0080-U+009F (a terminal may act on
// them) and U+2028/U+2029 (line ends to JavaScript).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct JsonWriter {
    std::string text;
    std::vector<bool> first; // per open object or array: no value written in it yet
    bool after_key = false;
};

void json_begin_object(JsonWriter *json);
void json_end_object(JsonWriter *json);
void json_begin_array(JsonWriter *json);
void json_end_array(JsonWriter *json);

// The name of the next value of the open object.
void json_key(JsonWriter *json, std::string_view key);

void json_string(JsonWriter *json, std::string_view utf8);
void json_uint(JsonWriter *json, uint64_t value);
void json_int(JsonWriter *json, int64_t value);
void json_bool(JsonWriter *json, bool value);
void json_null(JsonWriter *json);

// The document's text with its closing newline (call when every object is closed).
std::string json_finish(JsonWriter *json);

// Writes the finished document to standard output and flushes it. A run prints one
// document: json_printed() tells whether it has been.
void json_print(JsonWriter *json);
bool json_printed();

// The document of a run that failed: {"disk": `disk` (null when none was named),
// "status": `status`, "error": `message` without its final newline}.
void json_failure(JsonWriter *json, const std::string *disk, int status, std::string_view message);

// `utf8` as a JSON string literal, quotes included (the escaping described above).
std::string json_quoted(std::string_view utf8);

// Bytes as lower-case hexadecimal digits, two per byte ("10693746").
std::string json_hex(const uint8_t *bytes, size_t size);
