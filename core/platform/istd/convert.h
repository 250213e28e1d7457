#ifndef ISTD_CONVERT_H
#define ISTD_CONVERT_H

// Text utilities and conversions between text and values.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include <boost/lexical_cast.hpp>

#include "istd/exception.h"
#include "istd/istd_export.h"

namespace istd {

// The readable (demangled) name of a type: "int", "unsigned long", "std::string".
ISTD_API std::string CppName(const std::type_info& type);
template <class T>
std::string CppName()
{
    return CppName(typeid(T));
}

// The text without leading and trailing " \t\r\n\f\v".
ISTD_API std::string TrimString(const std::string& text);

// The pieces between any of the separator characters; empty pieces are dropped, so runs of
// separators count as one and a text of separators alone gives no pieces.
ISTD_API std::vector<std::string> TokenizeString(const char* text, const char* separators);
ISTD_API std::vector<std::string> TokenizeString(const std::string& text, const std::string& separators);

// Lower-case hexadecimal bytes separated by blanks, perLine bytes a line (0 means 16), lines
// joined by '\n' without a final line end. withOffset prefixes every line with its offset
// ("0010: ").
ISTD_API std::string HexDump(const void* data, size_t size, unsigned perLine, bool withOffset);

// "true", "false", "1", "0", "yes", "no", "on", "off" in any letter case;
// anything else throws "Invalid boolean text: " + text.
ISTD_API bool ToBool(const std::string& text);

// A row of a numeric name table; the table ends with {0, nullptr}.
struct ISTD_API Literal_t {
    int value;
    const char* text;
};

// The text of the first row holding value, or "UNKNOWN" when no row does.
ISTD_API std::string NumericToTextual(const Literal_t* table, int value);

namespace detail {
[[noreturn]] ISTD_API void ThrowBadCast(const std::string& text, const std::type_info& type);
[[noreturn]] ISTD_API void ThrowBadHexCast(const std::string& text, const std::type_info& type);
// Stream extraction of a hexadecimal number (optional "0x", trailing characters ignored);
// false when no number is read, it is negative or it does not fit in 64 bits.
ISTD_API bool ReadHex(const std::string& text, uint64_t& out);
} // namespace detail

// Hexadecimal text to an integer. A signed T is read as its unsigned twin and keeps the bits,
// so "ffffffff" gives -1 for int. A text without a number, or one that does not fit in T's
// width, throws "Bad hex cast from " + text + " to " + CppName<T>().
template <class T>
T HexTo(const std::string& text)
{
    static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool>, "HexTo reads integers");
    using U = std::make_unsigned_t<T>;
    uint64_t value = 0;
    if (!detail::ReadHex(text, value) || value > std::numeric_limits<U>::max()) {
        detail::ThrowBadHexCast(text, typeid(T));
    }
    return static_cast<T>(static_cast<U>(value));
}

// Text to a value:
// - integers: a text longer than 2 characters beginning with "0x" is read by HexTo; an
//   unsigned T refuses a leading '-'; anything else must be wholly a number of T's range;
// - bool: ToBool; std::string: the text itself; other types: boost::lexical_cast.
// A refusal throws "Bad cast from " + text + " to " + CppName<T>().
template <class T>
T FromString(const std::string& text)
{
    if constexpr (std::is_same_v<T, std::string>) {
        return text;
    } else if constexpr (std::is_same_v<T, bool>) {
        return ToBool(text);
    } else if constexpr (std::is_integral_v<T>) {
        if (text.size() > 2 && text[0] == '0' && text[1] == 'x') {
            return HexTo<T>(text);
        }
        if (std::is_unsigned_v<T> && !text.empty() && text[0] == '-') {
            detail::ThrowBadCast(text, typeid(T));
        }
        if constexpr (sizeof(T) < sizeof(int)) {
            // Character-sized integers would be read as one character; read them as int.
            int value = 0;
            if (!boost::conversion::try_lexical_convert(text, value) ||
                value < static_cast<int>(std::numeric_limits<T>::min()) ||
                value > static_cast<int>(std::numeric_limits<T>::max())) {
                detail::ThrowBadCast(text, typeid(T));
            }
            return static_cast<T>(value);
        } else {
            T value{};
            if (!boost::conversion::try_lexical_convert(text, value)) {
                detail::ThrowBadCast(text, typeid(T));
            }
            return value;
        }
    } else {
        T value{};
        if (!boost::conversion::try_lexical_convert(text, value)) {
            detail::ThrowBadCast(text, typeid(T));
        }
        return value;
    }
}

// A value as text, through a stream; an enumeration is written as its underlying integer in
// decimal, and character-sized integers as numbers.
template <class T>
std::string ToString(const T& value)
{
    std::ostringstream os;
    if constexpr (std::is_enum_v<T>) {
        os << +static_cast<std::underlying_type_t<T>>(value);
    } else if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool> && sizeof(T) == 1) {
        os << +value;
    } else {
        os << value;
    }
    return os.str();
}

} // namespace istd

#endif
