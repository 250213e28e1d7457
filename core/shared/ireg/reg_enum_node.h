#ifndef IREG_REG_ENUM_NODE_H
#define IREG_REG_ENUM_NODE_H

// Enumeration nodes: a value of an enumeration E with a name table (istd::EnumMap<E>::items),
// read and written as int32_t, as int64_t and by name, with the names as domain values and the
// value type 9.
//
// The value lives in an ordinary node kind over E (the base kind): RegValueNode (owned values),
// RegReferenceNode (the caller's variable), RegFncNode (the caller's functions) or
// RegReferenceBitNode (a field of a register word). RegEnumMixin<E, Base> converts between the
// registry's types and E and passes every value on through the base kind's OnGet/OnSet of E.
//
//   read  int32_t     the value                 a value the table lacks: "invalid value"
//         int64_t     the value, widened        (sign-extended when E's underlying type is
//                                               signed, zero-extended otherwise)
//         string      the value's name
//   write int32_t     a value of the table      else "invalid value"
//         int64_t     the widened form of a value of the table; anything else, also a number
//                     whose low 32 bits would be one (2^32 + 238), is "invalid value"
//         string      a name (exact, case-sensitive), else a decimal integer (optional sign, no
//                     blanks, no "0x"): not an integer "Invalid integer value", not the widened
//                     form of a value of the table "Invalid enum value"
// A run of values is converted whole before anything is stored, so a refused value stores none.
//
// Every kind takes exactly the constructor arguments of its base kind. The base is a virtual
// base, so the most derived class constructs it; a class deriving from a kind (RegExecNode)
// constructs the base kind itself and passes the same arguments to the kind.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "ireg/reg_fnc_node.h"
#include "ireg/reg_reference_node.h"
#include "ireg/reg_value_node.h"
#include "istd/enum_map.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/types.h"

// The registry owns the table of its command enumeration ("Execute", 238).
ISTD_ENUM_TABLE_DECL(mci::enums::NodeCommand_e)

namespace ireg {

namespace detail {

// How an enumeration value travels as a 64-bit integer.
template <class E>
inline constexpr bool IsSignedEnum = std::is_signed_v<std::underlying_type_t<E>>;

template <class E>
constexpr int64_t WidenEnum(E value)
{
    if constexpr (IsSignedEnum<E>) {
        return static_cast<int32_t>(value);
    } else {
        return static_cast<uint32_t>(value);
    }
}

// The value of the table whose widened form is number; false for any other number.
template <class E>
bool FindWidenedEnum(int64_t number, E& value)
{
    constexpr int64_t low = IsSignedEnum<E> ? INT32_MIN : 0;
    constexpr int64_t high = IsSignedEnum<E> ? INT32_MAX : int64_t(UINT32_MAX);
    return number >= low && number <= high &&
           istd::EnumMap<E>::items.FindInt(static_cast<int32_t>(static_cast<uint32_t>(number)), value);
}

// A name of the table, else the decimal text of a value of the table.
template <class E>
E EnumFromText(const std::string& text)
{
    E value{};
    if (istd::EnumMap<E>::items.FindValue(text, value)) {
        return value;
    }
    int64_t number = 0;
    if (!istd::ParseDecimalInt64(text, number)) {
        throw istd::Exception("Invalid integer value", true);
    }
    if (!FindWidenedEnum(number, value)) {
        throw istd::Exception("Invalid enum value", true);
    }
    return value;
}

// Room for the values of one conversion: on the stack for the usual single value or short run.
template <class E>
class EnumBuffer {
public:
    explicit EnumBuffer(size_t count) : m_heap(count > c_local ? new E[count] : nullptr) {}
    E* Data() { return m_heap ? m_heap.get() : m_local; }

private:
    static constexpr size_t c_local = 8;
    E m_local[c_local];
    std::unique_ptr<E[]> m_heap;
};

} // namespace detail

template <class E, class Base>
class RegEnumMixin : public virtual Base {
    static_assert(std::is_enum_v<E> && sizeof(E) <= 4, "an enumeration node holds a 32-bit enumeration");

public:
    // Never constructs Base: the most derived class does (see above). The arguments only make
    // the mem-initializer well-formed.
    template <class... A>
    explicit RegEnumMixin(A&... args) : Base(args...)
    {
    }

    using Base::Set;

    // Passes the widened value through the 64-bit set (lock, checks, validator, notification).
    virtual void Set(const E& value, size_t pos, const mci::Path& path)
    {
        RegNode::Set(detail::WidenEnum(value), pos, path);
    }

    // Converts every text first (failures without the node's prefix, before any check of the
    // node), then sets the values as a list of 64-bit integers.
    void Set(const std::vector<std::string>& values, size_t pos, const mci::Path& path) override
    {
        ISTD_TRACE_FNC("void ireg::RegEnumMixin::Set(const std::vector<std::string>&, size_t, const mci::Path&)");
        std::vector<int64_t> numbers;
        numbers.reserve(values.size());
        for (const std::string& text : values) {
            numbers.push_back(detail::WidenEnum(detail::EnumFromText<E>(text)));
        }
        RegNode::Set(numbers, pos, path);
    }

    mci::enums::NodeValType_e OnGetValueType(const mci::Path&) const override { return mci::enums::eEnumeration; }

    // Appends the names in ascending order of value; the caller's entries stay in front.
    bool OnGetDomainValues(std::vector<std::string>& values, const mci::Path&) const override
    {
        const auto& table = istd::EnumMap<E>::items;
        values.reserve(values.size() + table.Size());
        for (const auto& row : table) {
            values.emplace_back(row.second);
        }
        return true;
    }

    using Base::OnGet;
    using Base::OnSet;

    size_t OnGet(int64_t* values, size_t pos, size_t count) const override
    {
        return _Read(values, pos, count, [](E value, const char*) { return detail::WidenEnum(value); });
    }
    size_t OnGet(int32_t* values, size_t pos, size_t count) const override
    {
        return _Read(values, pos, count, [](E value, const char*) { return static_cast<int32_t>(value); });
    }
    size_t OnGet(std::string* values, size_t pos, size_t count) const override
    {
        return _Read(values, pos, count, [](E, const char* name) { return std::string(name); });
    }

    void OnSet(const int64_t* values, size_t pos, size_t count) override
    {
        _Write(values, pos, count, [](int64_t number) {
            E value{};
            if (!detail::FindWidenedEnum(number, value)) {
                throw istd::Exception("invalid value", true);
            }
            return value;
        });
    }
    void OnSet(const int32_t* values, size_t pos, size_t count) override
    {
        _Write(values, pos, count, [](int32_t number) {
            E value{};
            if (!istd::EnumMap<E>::items.FindInt(number, value)) {
                throw istd::Exception("invalid value", true);
            }
            return value;
        });
    }
    void OnSet(const std::string* values, size_t pos, size_t count) override
    {
        _Write(values, pos, count, [](const std::string& text) { return detail::EnumFromText<E>(text); });
    }

protected:
    // Reads count values of E through the base kind, then converts those delivered; a value
    // the table lacks fails the whole read with "invalid value".
    template <class Out, class Convert>
    size_t _Read(Out* values, size_t pos, size_t count, Convert convert) const
    {
        detail::EnumBuffer<E> buffer(count);
        E* raw = buffer.Data();
        const size_t n = this->OnGet(raw, pos, count);
        for (size_t i = 0; i < n; ++i) {
            const char* name = istd::EnumMap<E>::items.FindName(raw[i]);
            if (name == nullptr) {
                throw istd::Exception("invalid value", true);
            }
            values[i] = convert(raw[i], name);
        }
        return n;
    }

    // Converts all count values, then stores them through the base kind in one call.
    template <class In, class Convert>
    void _Write(const In* values, size_t pos, size_t count, Convert convert)
    {
        detail::EnumBuffer<E> buffer(count);
        E* raw = buffer.Data();
        for (size_t i = 0; i < count; ++i) {
            raw[i] = convert(values[i]);
        }
        this->OnSet(static_cast<const E*>(raw), pos, count);
    }
};

// The node owns its values (RegValueNode<E>'s constructors).
template <class E>
class RegValueEnumNode : public RegEnumMixin<E, RegValueNode<E>>, public virtual RegValueNode<E> {
public:
    using Mixin = RegEnumMixin<E, RegValueNode<E>>;

    template <class... A>
    explicit RegValueEnumNode(A&&... args) : RegValueNode<E>(std::forward<A>(args)...), Mixin(args...)
    {
    }
};

// The values live in the caller's variable of type E (RegReferenceNode<E, E>'s constructors).
template <class E>
class RegReferenceEnumNode : public RegEnumMixin<E, RegReferenceNode<E, E>>, public virtual RegReferenceNode<E, E> {
public:
    using Mixin = RegEnumMixin<E, RegReferenceNode<E, E>>;

    template <class... A>
    explicit RegReferenceEnumNode(A&&... args) : RegReferenceNode<E, E>(std::forward<A>(args)...), Mixin(args...)
    {
    }
};

// The values come from and go to the caller's functions (RegFncNode<E>'s constructors).
template <class E>
class RegFncEnumNode : public RegEnumMixin<E, RegFncNode<E>>, public virtual RegFncNode<E> {
public:
    using Mixin = RegEnumMixin<E, RegFncNode<E>>;

    template <class... A>
    explicit RegFncEnumNode(A&&... args) : RegFncNode<E>(std::forward<A>(args)...), Mixin(args...)
    {
    }
};

} // namespace ireg

#endif
