#include "istd/outside_text.h"

#include <cstdint>

namespace istd {

namespace {

// The length of the valid UTF-8 sequence at text[at], or 0 when the byte there starts none
// (a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF, or cut short).
size_t Utf8Length(const std::string& text, size_t at)
{
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(at);
    if (lead < 0x80) {
        return 1;
    }
    size_t length = 0;
    uint8_t low = 0x80; // the range of the second byte, which rules out overlong forms,
    uint8_t high = 0xbf; // surrogates and code points beyond U+10FFFF
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xbf) {
            return 0;
        }
    }
    return length;
}

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
        const size_t length = Utf8Length(text, at);
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

} // namespace istd
