#include "istd/outside_text.h"

#include <cstdint>

namespace istd {

namespace {

void AppendEscaped(std::string& out, uint8_t byte)
{
    static const char c_digits[] = "0123456789abcdef";
    out += "\\x";
    out += c_digits[byte >> 4];
    out += c_digits[byte & 0x0f];
}

} // namespace

std::string OutsideText(const std::string& text, size_t maxBytes)
{
    std::string out;
    out.reserve(text.size() < maxBytes ? text.size() : maxBytes);
    size_t at = 0;
    while (at < text.size()) {
        size_t length = 0;
        if (DecodeUtf8(reinterpret_cast<const unsigned char*>(text.data()) + at, text.size() - at, length) < 0) {
            length = 0;
        }
        if (at + (length == 0 ? 1 : length) > maxBytes) {
            break;
        }
        const auto lead = static_cast<uint8_t>(text[at]);
        if (length == 0) {
            AppendEscaped(out, lead);
            ++at;
        } else if (length == 1) {
            if (lead < 0x20 || lead == 0x7f || lead == '\\') {
                AppendEscaped(out, lead);
            } else {
                out += text[at];
            }
            ++at;
        } else if (length == 2 && lead == 0xc2 && static_cast<uint8_t>(text[at + 1]) < 0xa0) {
            // A C1 control: some terminals take U+009B for the start of an escape sequence.
            AppendEscaped(out, lead);
            AppendEscaped(out, static_cast<uint8_t>(text[at + 1]));
            at += 2;
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    if (at < text.size()) {
        out += "... (" + std::to_string(text.size()) + " bytes)";
    }
    return out;
}

std::string OutsideText(const char* text, size_t maxBytes)
{
    return text == nullptr ? std::string() : OutsideText(std::string(text), maxBytes);
}

int DecodeUtf8(const unsigned char* p, size_t left, size_t& length)
{
    const unsigned char lead = p[0];
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    int value = 0;
    int shortest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
        shortest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        shortest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
        shortest = 0x10000;
    } else {
        return -1;
    }
    if (left < length) {
        return -1;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return -1;
        }
        value = value << 6 | (p[i] & 0x3F);
    }
    if (value < shortest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return -1;
    }
    return value;
}

} // namespace istd
