#ifndef ISTD_ENUM_MAP_H
#define ISTD_ENUM_MAP_H

// Name tables of enumerations: BiMap, EnumMap<E>::items, and the print/parse helpers.
//
// The library that owns an enumeration E declares its table in E's header, at global scope:
//     ISTD_ENUM_TABLE_DECL(bmc::SensorLimit_e)
// and defines it once in its own source file, also at global scope:
//     ISTD_ENUM_TABLE(bmc::SensorLimit_e, {bmc::eLimitOk, "ok"}, {bmc::eLimitLnr, "lnr"});
// The table is built during the library's static initialisation and only read afterwards, so
// readers take no lock. A table whose distinct names and distinct values differ in number
// throws "invalid enum description table" while the library loads.
//
// Stream operators for E (in E's own namespace) are one line each:
//     ISTD_ENUM_OUTPUT_OPERATOR(SensorLimit_e)   // writes the name, "invalid value" without one
//     ISTD_ENUM_INPUT_OPERATOR(SensorLimit_e)    // reads a name or a decimal number

#include <charconv>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <istream>
#include <map>
#include <ostream>
#include <string>
#include <type_traits>

#include "istd/exception.h"
#include "istd/istd_export.h"

namespace istd {

template <class E>
class BiMap {
    static_assert(std::is_enum_v<E>, "BiMap is for enumerations");

    // Values compare as signed 32-bit integers, whatever the enumeration's underlying type.
    struct ValueLess {
        bool operator()(E a, E b) const { return AsInt(a) < AsInt(b); }
    };
    // Names compare byte by byte as zero-terminated strings.
    struct NameLess {
        bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
    };

public:
    struct Row {
        E value;
        const char* text;
    };
    using ValueMap = std::map<E, const char*, ValueLess>;
    using const_iterator = typename ValueMap::const_iterator;

    BiMap(std::initializer_list<Row> rows)
    {
        for (const Row& r : rows) {
            m_byValue.emplace(r.value, r.text ? r.text : "");
        }
        for (const Row& r : rows) {
            m_byName.emplace(r.text ? r.text : "", r.value);
            m_byInt.emplace(AsInt(r.value), r.text ? r.text : "");
        }
        if (m_byName.size() != m_byValue.size()) {
            throw Exception("invalid enum description table", true);
        }
    }

    static int32_t AsInt(E value) { return static_cast<int32_t>(value); }

    // The name of a value, or nullptr when the value has no row.
    const char* FindName(E value) const
    {
        auto it = m_byValue.find(value);
        return it == m_byValue.end() ? nullptr : it->second;
    }

    // Exact, case-sensitive name look-up; out changes only on success.
    bool FindValue(const char* name, E& out) const
    {
        auto it = m_byName.find(name);
        if (it == m_byName.end()) {
            return false;
        }
        out = it->second;
        return true;
    }
    // A text with a NUL inside names nothing (it must not match the name before the NUL).
    bool FindValue(const std::string& name, E& out) const
    {
        return name.find('\0') == std::string::npos && FindValue(name.c_str(), out);
    }

    // Look-up of a plain int; out changes only on success.
    bool FindInt(int32_t value, E& out) const
    {
        if (m_byInt.find(value) == m_byInt.end()) {
            return false;
        }
        out = static_cast<E>(value);
        return true;
    }

    size_t Size() const { return m_byValue.size(); }

    // Rows in ascending signed value order: it->first is the value, it->second the name.
    const_iterator begin() const { return m_byValue.begin(); }
    const_iterator end() const { return m_byValue.end(); }

private:
    ValueMap m_byValue;
    std::map<const char*, E, NameLess> m_byName;
    std::map<int32_t, const char*> m_byInt;
};

// No generic definition: the library that owns E defines the specialisation.
template <class E>
struct EnumMap {
    static const BiMap<E> items;
};

// Reads a whole text as a signed 64-bit decimal number (optional sign, digits only).
ISTD_API bool ParseDecimalInt64(const std::string& text, int64_t& out);

// The value a name or a decimal number stands for; the rule of every enumeration parser. A
// number outside [-2^31, 2^32 - 1] is "Invalid enum value".
template <class E>
E EnumCast(const std::string& text)
{
    const BiMap<E>& table = EnumMap<E>::items;
    E value{};
    if (table.FindValue(text, value)) {
        return value;
    }
    int64_t number = 0;
    if (!ParseDecimalInt64(text, number)) {
        throw Exception("Invalid integer value", true);
    }
    // A number is taken in either 32-bit reading ("4294967295" and "-1" name the same value),
    // but never cut to 32 bits: "4294967299" would otherwise name 3.
    if (number < INT32_MIN || number > int64_t(UINT32_MAX) ||
        !table.FindInt(static_cast<int32_t>(static_cast<uint32_t>(number)), value)) {
        throw Exception("Invalid enum value", true);
    }
    return value;
}

// The name of a value; "invalid value" when it has no row.
template <class E>
const char* EnumName(E value)
{
    const char* name = EnumMap<E>::items.FindName(value);
    if (name == nullptr) {
        throw Exception("invalid value", true);
    }
    return name;
}

template <class E>
std::string EnumToString(E value)
{
    return EnumName(value);
}

// Writes the value's name; throws "invalid value" and writes nothing when it has no row.
template <class E>
std::ostream& PrintEnum(std::ostream& os, E value)
{
    return os << EnumName(value);
}

// Reads one whitespace-delimited token as EnumCast does; the target changes only on success.
template <class E>
std::istream& ParseEnum(std::istream& is, E& value)
{
    std::string token;
    is >> token;
    value = EnumCast<E>(token);
    return is;
}

} // namespace istd

// The table is exported from the library that defines it (whatever that library's default
// visibility): the templates that read it are instantiated in every library and application.
#define ISTD_ENUM_TABLE_DECL(E) \
    template <>                 \
    ISTD_EXPORTED const ::istd::BiMap<E> istd::EnumMap<E>::items;

#define ISTD_ENUM_TABLE(E, ...) \
    template <>                 \
    const ::istd::BiMap<E> istd::EnumMap<E>::items{__VA_ARGS__}

#define ISTD_ENUM_OUTPUT_OPERATOR(E)                                   \
    inline std::ostream& operator<<(std::ostream& os, const E& value) \
    {                                                                  \
        return ::istd::PrintEnum(os, value);                          \
    }

#define ISTD_ENUM_INPUT_OPERATOR(E)                              \
    inline std::istream& operator>>(std::istream& is, E& value) \
    {                                                            \
        return ::istd::ParseEnum(is, value);                    \
    }

#endif
