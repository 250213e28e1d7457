#ifndef BMC_BUS_HEX_H
#define BMC_BUS_HEX_H

// Internal to the bus layer: numbers in its messages and traces are lower-case hexadecimal
// without leading zeros.

#include <cstdint>
#include <string>

namespace bmc {
namespace detail {

inline std::string Hex(uint64_t value)
{
    static const char c_digits[] = "0123456789abcdef";
    char text[16];
    size_t n = 0;
    do {
        text[sizeof(text) - ++n] = c_digits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    return std::string(text + sizeof(text) - n, n);
}

} // namespace detail
} // namespace bmc

#endif
