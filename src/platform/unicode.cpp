#include "platform/unicode.h"

#include <cstdint>

namespace {

// The length of the sequence a lead byte starts and the range its second byte must lie in
// (which rules out overlong forms and values past U+10FFFF); length 0 for a byte that
// starts none. Surrogates (ED A0..BF) are let through: they are how a lone surrogate of
// a Windows name travels.
struct Lead {
    size_t length;
    unsigned char low, high;
};

Lead lead_of(unsigned char byte)
{
    if (byte < 0x80)
        return {1, 0, 0};
    if (byte >= 0xC2 && byte <= 0xDF)
        return {2, 0x80, 0xBF};
    if (byte == 0xE0)
        return {3, 0xA0, 0xBF};
    if (byte >= 0xE1 && byte <= 0xEF)
        return {3, 0x80, 0xBF};
    if (byte == 0xF0)
        return {4, 0x90, 0xBF};
    if (byte >= 0xF1 && byte <= 0xF3)
        return {4, 0x80, 0xBF};
    if (byte == 0xF4)
        return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

enum class Sequence { Whole, CutOff, Invalid };

Sequence sequence_at(const unsigned char *bytes, size_t available, size_t *length)
{
    const Lead lead = lead_of(bytes[0]);
    if (lead.length == 0)
        return Sequence::Invalid;
    for (size_t i = 1; i < lead.length; ++i) {
        if (i >= available)
            return Sequence::CutOff;
        const unsigned char low = i == 1 ? lead.low : 0x80, high = i == 1 ? lead.high : 0xBF;
        if (bytes[i] < low || bytes[i] > high)
            return Sequence::Invalid;
    }
    *length = lead.length;
    return Sequence::Whole;
}

uint32_t value_of(const unsigned char *bytes, size_t length)
{
    static const unsigned char LEAD_BITS[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t value = bytes[0] & LEAD_BITS[length];
    for (size_t i = 1; i < length; ++i)
        value = value << 6 | (bytes[i] & 0x3F);
    return value;
}

void append_utf16(uint32_t value, std::u16string *out)
{
    if (value < 0x10000) {
        out->push_back(static_cast<char16_t>(value));
        return;
    }
    value -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
}

// Decodes `bytes`; returns how many were used. Unless `final`, an unfinished sequence at
// the end is left unused.
size_t decode(const unsigned char *bytes, size_t length, bool final, std::u16string *out)
{
    size_t i = 0;
    while (i < length) {
        size_t whole = 0;
        const Sequence found = sequence_at(bytes + i, length - i, &whole);
        if (found == Sequence::CutOff && !final)
            break;
        if (found != Sequence::Whole) {
            out->push_back(bytes[i]); // the Latin-1 character of the byte
            ++i;
            continue;
        }
        append_utf16(value_of(bytes + i, whole), out);
        i += whole;
    }
    return i;
}

void append_utf8(uint32_t value, std::string *out)
{
    if (value < 0x80) {
        out->push_back(static_cast<char>(value));
    } else if (value < 0x800) {
        out->push_back(static_cast<char>(0xC0 | value >> 6));
        out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else if (value < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | value >> 12));
        out->push_back(static_cast<char>(0x80 | (value >> 6 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | value >> 18));
        out->push_back(static_cast<char>(0x80 | (value >> 12 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (value >> 6 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
    }
}

bool is_high_surrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low_surrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

} // namespace

std::u16string unicode_utf16(std::string_view utf8)
{
    std::u16string out;
    out.reserve(utf8.size());
    decode(reinterpret_cast<const unsigned char *>(utf8.data()), utf8.size(), true, &out);
    return out;
}

std::string unicode_utf8(std::u16string_view utf16)
{
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        const char16_t unit = utf16[i];
        if (is_high_surrogate(unit) && i + 1 < utf16.size() && is_low_surrogate(utf16[i + 1])) {
            append_utf8(0x10000 + ((uint32_t{unit} - 0xD800) << 10) + (utf16[i + 1] - 0xDC00u), &out);
            ++i;
        } else {
            append_utf8(unit, &out); // a lone surrogate too, as its own three bytes
        }
    }
    return out;
}

char32_t unicode_first(std::string_view text, size_t *length)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(text.data());
    size_t whole = 0;
    if (sequence_at(bytes, text.size(), &whole) != Sequence::Whole) {
        *length = 1;
        return bytes[0];
    }
    *length = whole;
    return value_of(bytes, whole);
}

void unicode_decode_piece(UnicodeDecoder *decoder, std::string_view bytes, std::u16string *out)
{
    // The held-back bytes go first: join them with the start of this piece.
    std::string joined(reinterpret_cast<const char *>(decoder->pending), decoder->count);
    joined.append(bytes);
    const auto *data = reinterpret_cast<const unsigned char *>(joined.data());
    const size_t used = decode(data, joined.size(), false, out);
    decoder->count = joined.size() - used; // fewer than 4: a cut-off sequence
    for (size_t i = 0; i < decoder->count; ++i)
        decoder->pending[i] = data[used + i];
}

void unicode_decode_end(UnicodeDecoder *decoder, std::u16string *out)
{
    decode(decoder->pending, decoder->count, true, out);
    decoder->count = 0;
}
