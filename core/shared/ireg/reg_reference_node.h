#ifndef IREG_REG_REFERENCE_NODE_H
#define IREG_REG_REFERENCE_NODE_H

// RegReferenceNode<T, V>: a node over a variable or an array that somebody else owns.
//
// The node keeps only the address and the number of elements; every read copies out of the
// referent and every write copies into it, so the owner and the registry see one storage. V is T
// or volatile T: a volatile referent is mapped register memory, read and written element by
// element in ascending order, each element exactly once, through devio (so that a simulator can
// serve the range). Nothing outside pos .. pos + count - 1 is touched. A volatile referent may lie
// off T's alignment (a memory block laid out byte by byte): such elements move byte by byte, the
// aligned ones in one access of their width.
//
// The referent must outlive every read, write and comparison made through the node, and hold
// at least as many elements as the node's size (also after a Resize).

#include <algorithm>
#include <cstddef>
#include <string>
#include <type_traits>

#include "devio/reg_access.h"
#include "ireg/reg_value_node.h"

namespace ireg {

namespace detail {

// One element of a volatile referent: register words of 4 and 8 bytes go through devio; other
// sizes (a volatile bool of a memory block) are plain volatile accesses.
template <class T>
inline T ReadVolatile(const volatile T* element)
{
    if constexpr ((sizeof(T) == 4 || sizeof(T) == 8) && std::is_trivially_copyable_v<T>) {
        return devio::ReadUnaligned(element);
    } else {
        return *element;
    }
}

template <class T>
inline void WriteVolatile(volatile T* element, const T& value)
{
    if constexpr ((sizeof(T) == 4 || sizeof(T) == 8) && std::is_trivially_copyable_v<T>) {
        devio::WriteUnaligned(element, value);
    } else {
        *element = value;
    }
}

// A node kind whose size is only a recorded count: the storage behind it (a referent, functions,
// register words) is somebody else's, and whoever resizes the node makes sure it holds that many.
template <class T>
class RegCountedNode : public RegTypeNode<T> {
public:
    RegCountedNode(const std::string& name, mci::Flags flags, size_t count) : RegTypeNode<T>(name, flags), m_count(count)
    {
    }

    size_t OnGetSize(const mci::Path&) const override { return m_count; }

    // Records the count; the storage is not touched.
    bool OnResize(size_t count, const mci::Path&) override
    {
        m_count = count;
        return true;
    }

private:
    size_t m_count;
};

} // namespace detail

template <class T, class V = T>
class RegReferenceNode : public detail::QuickAccess<RegReferenceNode<T, V>, detail::RegCountedNode<T>, T> {
    static_assert(std::is_same_v<std::remove_volatile_t<V>, T>, "the referent is T or volatile T");
    static_assert(!std::is_const_v<V>, "a reference node writes its referent");
    using Base = detail::QuickAccess<RegReferenceNode<T, V>, detail::RegCountedNode<T>, T>;

public:
    // Over one variable; the flags as given.
    RegReferenceNode(const std::string& name, V& referent, mci::Flags flags = mci::TreeNode::c_defaultFlags)
        : Base(name, flags, 1), m_referent(&referent)
    {
    }
    // Over the one element at referent, which a volatile referent may hold at any address (a
    // reference to an element off its alignment would be undefined); the flags as given.
    RegReferenceNode(const std::string& name, V* referent, mci::Flags flags = mci::TreeNode::c_defaultFlags)
        : Base(name, flags, 1), m_referent(referent)
    {
    }
    // Over size elements from referent; an array node.
    RegReferenceNode(const std::string& name, size_t size, V* referent, mci::Flags flags = mci::TreeNode::c_defaultFlags)
        : Base(name, flags | mci::enums::eArray, size), m_referent(referent)
    {
    }

    // Equal to a reference node of the same T and V over the same address with the tree node's
    // own equality; the sizes are not compared.
    bool operator==(const mci::TreeNode& other) const override
    {
        const auto* node = dynamic_cast<const RegReferenceNode*>(&other);
        return node != nullptr && mci::TreeNode::operator==(other) && node->m_referent == m_referent;
    }

    using RegTypeNode<T>::OnGet;
    using RegTypeNode<T>::OnSet;

    // A single plain value is assigned directly: a block copy would cost a library call for it.
    size_t OnGet(T* values, size_t pos, size_t count) const override
    {
        if constexpr (std::is_volatile_v<V>) {
            for (size_t i = 0; i < count; ++i) {
                values[i] = detail::ReadVolatile(m_referent + pos + i);
            }
        } else if (count == 1) {
            values[0] = m_referent[pos];
        } else {
            std::copy_n(m_referent + pos, count, values);
        }
        return count;
    }

    void OnSet(const T* values, size_t pos, size_t count) override
    {
        if constexpr (std::is_volatile_v<V>) {
            for (size_t i = 0; i < count; ++i) {
                detail::WriteVolatile(m_referent + pos + i, values[i]);
            }
        } else if (count == 1) {
            m_referent[pos] = values[0];
        } else {
            std::copy_n(values, count, m_referent + pos);
        }
    }

    V* GetReferent() const { return m_referent; }

private:
    V* const m_referent;
};

} // namespace ireg

#endif
