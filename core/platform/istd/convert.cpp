#include "istd/convert.h"

#include <cxxabi.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "istd/enum_map.h"
#include "istd/trace.h"

namespace istd {

namespace {

const char c_blanks[] = " \t\r\n\f\v";

void ReplaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size())) {
        text.replace(pos, from.size(), to);
    }
}

} // namespace

std::string CppName(const std::type_info& type)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
    std::string name = (status == 0 && demangled) ? demangled.get() : type.name();
    ReplaceAll(name, "std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >",
               "std::string");
    ReplaceAll(name, "std::string >", "std::string>"); // the space only kept "> >" apart
    ReplaceAll(name, "std::__cxx11::", "std::");
    return name;
}

std::string TrimString(const std::string& text)
{
    const size_t first = text.find_first_not_of(c_blanks);
    if (first == std::string::npos) {
        return std::string();
    }
    const size_t last = text.find_last_not_of(c_blanks);
    return text.substr(first, last - first + 1);
}

std::vector<std::string> TokenizeString(const char* text, const char* separators)
{
    std::vector<std::string> pieces;
    if (text == nullptr) {
        return pieces;
    }
    // One pass over the text with a table of the separators. strspn and strcspn per piece are
    // linear on their own, but the sanitizers check each call's whole string, the rest of the
    // text, which made a long script quadratic.
    bool separator[256] = {};
    for (const char* s = separators ? separators : ""; *s != '\0'; ++s) {
        separator[static_cast<unsigned char>(*s)] = true;
    }
    const char* p = text;
    while (*p != '\0') {
        if (separator[static_cast<unsigned char>(*p)]) {
            ++p;
            continue;
        }
        const char* start = p;
        while (*p != '\0' && !separator[static_cast<unsigned char>(*p)]) {
            ++p;
        }
        pieces.emplace_back(start, static_cast<size_t>(p - start));
    }
    return pieces;
}

std::vector<std::string> TokenizeString(const std::string& text, const std::string& separators)
{
    return TokenizeString(text.c_str(), separators.c_str());
}

std::string HexDump(const void* data, size_t size, unsigned perLine, bool withOffset)
{
    if (data == nullptr || size == 0) {
        return std::string();
    }
    if (perLine == 0) {
        perLine = 16;
    }
    static const char c_digits[] = "0123456789abcdef";
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(size * 3 + (size / perLine + 1) * 8);
    for (size_t i = 0; i < size; ++i) {
        const bool lineStart = (i % perLine) == 0;
        if (lineStart && i != 0) {
            out += '\n';
        }
        if (lineStart && withOffset) {
            char offset[24];
            std::snprintf(offset, sizeof offset, "%04zx: ", i);
            out += offset;
        } else if (!lineStart) {
            out += ' ';
        }
        out += c_digits[bytes[i] >> 4];
        out += c_digits[bytes[i] & 0xf];
    }
    return out;
}

bool ToBool(const std::string& text)
{
    std::string lower(text);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (lower == "true" || lower == "1" || lower == "yes" || lower == "on") {
        return true;
    }
    if (lower == "false" || lower == "0" || lower == "no" || lower == "off") {
        return false;
    }
    throw Exception("Invalid boolean text: " + text, true);
}

std::string NumericToTextual(const Literal_t* table, int value)
{
    for (const Literal_t* row = table; row != nullptr && row->text != nullptr; ++row) {
        if (row->value == value) {
            return row->text;
        }
    }
    return "UNKNOWN";
}

bool ParseDecimalInt64(const std::string& text, int64_t& out)
{
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') {
        ++first;
        if (first != last && *first == '-') {
            return false;
        }
    }
    if (first == last) {
        return false;
    }
    int64_t value = 0;
    const auto result = std::from_chars(first, last, value, 10);
    if (result.ec != std::errc() || result.ptr != last) {
        return false;
    }
    out = value;
    return true;
}

namespace detail {

void ThrowBadCast(const std::string& text, const std::type_info& type)
{
    throw Exception("Bad cast from " + text + " to " + CppName(type), true);
}

void ThrowBadHexCast(const std::string& text, const std::type_info& type)
{
    throw Exception("Bad hex cast from " + text + " to " + CppName(type), true);
}

bool ReadHex(const std::string& text, uint64_t& out)
{
    const size_t first = text.find_first_not_of(c_blanks);
    if (first == std::string::npos || text[first] == '-') {
        return false;
    }
    std::istringstream is(text);
    uint64_t value = 0;
    is >> std::hex >> value;
    if (is.fail()) {
        return false;
    }
    out = value;
    return true;
}

} // namespace detail

} // namespace istd
