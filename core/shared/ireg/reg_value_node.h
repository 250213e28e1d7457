#ifndef IREG_REG_VALUE_NODE_H
#define IREG_REG_VALUE_NODE_H

// RegTypeNode<T> fixes a node's value type; RegValueNode<T> keeps its values inside the node.
//
// T is one of the eight value types, or an enumeration: over an enumeration E, RegTypeNode adds
// the read and store hooks of E (which the enumeration node kinds convert from and to int32_t,
// int64_t and names) and reports the value type 0, which the enumeration node turns into 9.

#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

#include "ireg/reg_node.h"

namespace ireg {

namespace detail {

// The hooks a node over T adds to the registry node's: none for the eight value types.
template <class T, bool = std::is_enum_v<T>>
class RegTypeHooks : public RegNode {
public:
    using RegNode::RegNode;
};

template <class E>
class RegTypeHooks<E, true> : public RegNode {
public:
    using RegNode::RegNode;
    using RegNode::OnGet;
    using RegNode::OnSet;

    virtual size_t OnGet(E* /*values*/, size_t /*pos*/, size_t /*count*/) const { _ThrowUnsupportedGet(); }
    virtual void OnSet(const E* /*values*/, size_t /*pos*/, size_t /*count*/) { _ThrowUnsupportedSet(); }
};

// The short typed set and get of RegNode (_QuickSet, _QuickGet) for a node kind Self over
// Base that holds a scalar T; nothing for other types.
template <class T>
inline constexpr bool IsQuickType = IsRegValueType<T> && !std::is_same_v<T, std::string>;

template <class Self, class Base, class T, bool = IsQuickType<T>>
class QuickAccess : public Base {
public:
    using Base::Base;
};

template <class Self, class Base, class T>
class QuickAccess<Self, Base, T, true> : public Base {
public:
    using Base::Base;
    using Base::Get;
    using Base::Set;

    void Get(T& value, size_t pos, const mci::Path&) const override { this->template _QuickGet<Self>(value, pos); }
    void Set(const T& value, size_t pos, const mci::Path&) override { this->template _QuickSet<Self>(value, pos); }
};

} // namespace detail

template <class T>
class RegTypeNode : public detail::RegTypeHooks<T> {
public:
    explicit RegTypeNode(const std::string& name, mci::Flags flags = mci::TreeNode::c_defaultFlags)
        : detail::RegTypeHooks<T>(name, flags)
    {
    }

    mci::enums::NodeValType_e OnGetValueType(const mci::Path&) const override { return ValueTypeCode<T>(); }
};

template <class T>
class RegValueNode : public detail::QuickAccess<RegValueNode<T>, RegTypeNode<T>, T> {
    using Base = detail::QuickAccess<RegValueNode<T>, RegTypeNode<T>, T>;

public:
    // One value; the flags as given.
    RegValueNode(const std::string& name, const T& value, mci::Flags flags = mci::TreeNode::c_defaultFlags)
        : Base(name, flags), m_values(1, value)
    {
    }
    // size copies of value; an array node.
    RegValueNode(const std::string& name, size_t size, const T& value, mci::Flags flags)
        : Base(name, flags | mci::enums::eArray), m_values(size, value)
    {
    }
    // A copy of the values; an array node, also when values is empty.
    RegValueNode(const std::string& name, const std::vector<T>& values, mci::Flags flags)
        : Base(name, flags | mci::enums::eArray), m_values(values)
    {
    }

    size_t OnGetSize(const mci::Path&) const override { return m_values.size(); }

    // Drops values from size on, or appends zero (false, empty) values; the array flag stays
    // as the constructor set it.
    bool OnResize(size_t size, const mci::Path&) override
    {
        m_values.resize(size);
        return true;
    }

    using RegTypeNode<T>::OnGet;
    using RegTypeNode<T>::OnSet;

    // A single value is assigned directly: a block copy would cost a library call for it.
    size_t OnGet(T* values, size_t pos, size_t count) const override
    {
        if (count == 1) {
            values[0] = m_values[pos];
        } else {
            std::copy_n(m_values.begin() + static_cast<std::ptrdiff_t>(pos), count, values);
        }
        return count;
    }

    void OnSet(const T* values, size_t pos, size_t count) override
    {
        if (count == 1) {
            m_values[pos] = values[0];
        } else {
            std::copy_n(values, count, m_values.begin() + static_cast<std::ptrdiff_t>(pos));
        }
    }

private:
    // For bool the packed bit vector.
    std::vector<T> m_values;
};

} // namespace ireg

#endif
