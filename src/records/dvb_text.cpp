#include "records/dvb_text.h"

#include <string_view>

#include "common/utf8.h"
#include "records/dvb_charsets.h"

namespace {

enum class Table { Iso6937, Iso8859, Ucs2, Utf8, Unknown };

struct Selected {
    Table table = Table::Iso6937;
    unsigned part = 0;  // of ISO 8859
    size_t skipped = 0; // bytes of the prefix
};

constexpr uint8_t EMPHASIS_ON = 0x86;
constexpr uint8_t EMPHASIS_OFF = 0x87;
constexpr uint8_t LINE_BREAK = 0x8A;
constexpr char32_t PRIVATE_CONTROLS = 0xE000; // the same controls in UCS-2 and UTF-8

Selected select_table(const uint8_t *field, size_t size)
{
    if (size == 0 || field[0] >= 0x20)
        return {};
    uint8_t first = field[0];
    if (first >= 0x01 && first <= 0x0B && first != 0x08)
        return {Table::Iso8859, first + 4u, 1};
    if (first == 0x10) {
        unsigned part = size >= 3 && field[1] == 0x00 ? field[2] : 0;
        if (dvb_iso8859_known(part))
            return {Table::Iso8859, part, 3};
        return {Table::Iso6937, 0, 3};
    }
    if (first == 0x11)
        return {Table::Ucs2, 0, 1};
    if (first == 0x15)
        return {Table::Utf8, 0, 1};
    if (first >= 0x12)
        return {Table::Unknown, 0, 1};
    return {Table::Iso6937, 0, 1};
}

// The controls shared by every table; true when `code` was one of them (and handled).
bool broadcast_control(char32_t code, std::string *out)
{
    if (code == EMPHASIS_ON || code == EMPHASIS_OFF)
        return true;
    if (code == LINE_BREAK) {
        out->push_back('\n');
        return true;
    }
    return false;
}

void single_byte(std::string_view text, const Selected &table, std::string *out)
{
    for (size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<uint8_t>(text[i]);
        if (broadcast_control(byte, out))
            continue;
        if (byte < 0xA0) {
            utf8_append(out, byte);
            continue;
        }
        if (table.table == Table::Iso8859) {
            uint16_t code = dvb_iso8859_upper(table.part, byte);
            utf8_append(out, code != 0 ? code : UTF8_REPLACEMENT);
            continue;
        }
        uint16_t mark = dvb_iso6937_mark(byte);
        if (mark == 0) {
            uint16_t code = dvb_iso6937_upper(byte);
            utf8_append(out, code != 0 ? code : UTF8_REPLACEMENT);
            continue;
        }
        // A diacritic modifies the letter that follows it; alone it is just the mark.
        char base = i + 1 < text.size() ? text[i + 1] : '\0';
        if (base < 0x20 || base > 0x7E) {
            utf8_append(out, mark);
            continue;
        }
        ++i;
        uint16_t composed = dvb_iso6937_compose(byte, base);
        if (composed != 0) {
            utf8_append(out, composed);
        } else {
            out->push_back(base);
            utf8_append(out, mark);
        }
    }
}

void ucs2(const uint8_t *text, size_t size, std::string *out)
{
    for (size_t i = 0; i < size; i += 2) {
        if (i + 1 >= size) {
            utf8_append(out, UTF8_REPLACEMENT); // half a character at the end of the field
            break;
        }
        char32_t code = char32_t{text[i]} << 8 | text[i + 1];
        if (code == 0)
            break;
        if (code >= 0xD800 && code <= 0xDBFF && i + 3 < size) {
            char32_t low = char32_t{text[i + 2]} << 8 | text[i + 3];
            if (low >= 0xDC00 && low <= 0xDFFF) {
                utf8_append(out, 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (code >= PRIVATE_CONTROLS + 0x80 && code <= PRIVATE_CONTROLS + 0x9F &&
            broadcast_control(code - PRIVATE_CONTROLS, out))
            continue;
        utf8_append(out, code); // a lone surrogate becomes U+FFFD here
    }
}

void utf8(std::string_view text, std::string *out)
{
    while (!text.empty()) {
        size_t length = utf8_sequence_length(text);
        if (length == 0) {
            utf8_append(out, UTF8_REPLACEMENT);
            text.remove_prefix(1);
            continue;
        }
        std::string_view sequence = text.substr(0, length);
        text.remove_prefix(length);
        // U+E086, U+E087, U+E08A: EE 82 86, EE 82 87, EE 82 8A.
        if (length == 3 && sequence[0] == '\xEE' && sequence[1] == '\x82' &&
            broadcast_control(static_cast<uint8_t>(sequence[2]), out))
            continue;
        out->append(sequence);
    }
}

// The text of a single-byte or UTF-8 field: up to its first zero byte.
std::string_view until_nul(const uint8_t *text, size_t size)
{
    size_t length = 0;
    while (length < size && text[length] != 0)
        ++length;
    return {reinterpret_cast<const char *>(text), length};
}

} // namespace

bool dvb_text_utf8(const uint8_t *field, size_t size, std::string *out)
{
    out->clear();
    Selected table = select_table(field, size);
    if (table.table == Table::Unknown)
        return false;
    size_t skipped = table.skipped < size ? table.skipped : size;
    const uint8_t *text = field + skipped;
    size_t left = size - skipped;
    switch (table.table) {
    case Table::Ucs2: ucs2(text, left, out); break;
    case Table::Utf8: utf8(until_nul(text, left), out); break;
    default: single_byte(until_nul(text, left), table, out); break;
    }
    return true;
}
