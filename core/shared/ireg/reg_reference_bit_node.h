#ifndef IREG_REG_REFERENCE_BIT_NODE_H
#define IREG_REG_REFERENCE_BIT_NODE_H

// The registry's node templates over memory, functions and register words:
//   RegReferenceNode<T, V>           a variable or array of the caller (reg_reference_node.h)
//   RegFncNode<T>                    getter and setter functions (reg_fnc_node.h)
//   RegValueEnumNode<E>, RegReferenceEnumNode<E>, RegFncEnumNode<E>  enumerations (reg_enum_node.h)
//   RegReferenceBitNode<AT, RT>      a bit field of a register word (here)
//   RegReferenceEnumBitNode<E, RT>   a bit field holding the codes of an enumeration (here)
//
// A bit node covers the field at bit offset .. offset + size - 1 of a volatile 32- or 64-bit word
// (RT is volatile uint32_t or volatile uint64_t); an array node covers the same field in each of
// a run of consecutive words, element i in word i. AT is bool, an unsigned or signed integer of
// 32 or 64 bits, or an enumeration.
//
//   read   one read of each word; the field, shifted down and masked. bool: any bit set. Signed:
//          the field's top bit extended (1110 in a 4-bit field reads -2).
//   write  first every value is checked against the field (nothing is written when one fails),
//          then each word is read once and written once with only the field's bits changed.
//          bool writes 1 or 0. Values outside the field:
//            bool, unsigned, enumeration  "Too large value.<value> for node <name>"
//            signed                       "Value <value> is out of range for node <name>"
//          A value is checked as it is, not as the word type would cut it: a 64-bit value never
//          reaches a 32-bit word with its upper half dropped.
//
// Writes of different nodes over one word are serialised: the read-modify-write of a word holds
// a lock chosen by the word's address (WordLock), shared by every bit node of the process, so
// two fields written at once never lose an update. Writes to other words proceed in parallel
// (unless their addresses share a stripe). Changes the hardware or other code makes to the word
// are not ordered by it. Every word access goes through devio, so a simulator can serve it; a
// register model must not write bit nodes while it serves an access. A word off its alignment (a
// memory block laid out byte by byte) is read and written byte by byte.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <type_traits>

#include "devio/reg_access.h"
#include "ireg/ireg_export.h"
#include "ireg/reg_enum_node.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_reference_node.h"
#include "ireg/reg_value_node.h"
#include "istd/exception.h"
#include "istd/trace.h"

namespace ireg {

// The lock that orders read-modify-writes of the word at that address. One of a fixed set,
// chosen by the address: the same word always yields the same lock.
IREG_API std::mutex& WordLock(const volatile void* word);

template <class AT, class RT>
class RegReferenceBitNode : public detail::RegCountedNode<AT> {
public:
    using Word = std::remove_volatile_t<RT>;

    static_assert(std::is_volatile_v<RT> && (std::is_same_v<Word, uint32_t> || std::is_same_v<Word, uint64_t>),
                  "a bit field lies in a volatile 32- or 64-bit word");
    static_assert(std::is_same_v<AT, bool> || std::is_enum_v<AT> ||
                      (std::is_integral_v<AT> && (sizeof(AT) == 4 || sizeof(AT) == 8)),
                  "a bit field is read as bool, a 32- or 64-bit integer or an enumeration");

    // One field of one word; flags 6.
    RegReferenceBitNode(const std::string& name, RT& word, unsigned bitOffset, unsigned bitSize)
        : RegReferenceBitNode(name, word, bitOffset, bitSize, mci::TreeNode::c_defaultFlags)
    {
    }
    // One field of one word; the flags as given.
    RegReferenceBitNode(const std::string& name, RT& word, unsigned bitOffset, unsigned bitSize, mci::Flags flags)
        : detail::RegCountedNode<AT>(name, flags, 1), m_words(&word)
    {
        _Init(bitOffset, bitSize);
    }
    // One field of the one word at word, which may lie at any address (see above); the flags
    // as given.
    RegReferenceBitNode(const std::string& name, RT* word, unsigned bitOffset, unsigned bitSize, mci::Flags flags)
        : detail::RegCountedNode<AT>(name, flags, 1), m_words(word)
    {
        _Init(bitOffset, bitSize);
    }
    // The field in each of count words from words; an array node.
    RegReferenceBitNode(const std::string& name, size_t count, RT* words, unsigned bitOffset, unsigned bitSize,
                        mci::Flags flags = mci::TreeNode::c_defaultFlags)
        : detail::RegCountedNode<AT>(name, flags | mci::enums::eArray, count), m_words(words)
    {
        _Init(bitOffset, bitSize);
    }

    static constexpr unsigned c_wordBits = sizeof(Word) * 8;
    static constexpr unsigned c_valueBits = std::is_same_v<AT, bool> ? 8 : std::is_enum_v<AT> ? 32 : sizeof(AT) * 8;

    // The low bit-size bits set.
    uint64_t GetBitMask() const { return m_bitSize >= 64 ? ~uint64_t(0) : (uint64_t(1) << m_bitSize) - 1; }
    // Only the field's top bit set.
    uint64_t GetMSBMask() const { return uint64_t(1) << (m_bitSize - 1); }

    uint8_t GetBitOffset() const { return m_bitOffset; }
    uint8_t GetBitSize() const { return m_bitSize; }
    RT* GetWords() const { return m_words; }

    // The construction checks, in order: the field inside the word, not empty, not wider than
    // the value type.
    void SanityCheck() const { _Check(m_bitOffset, m_bitSize); }

    // Equal to a bit node of the same AT and RT over the same word and field with the tree
    // node's own equality; the counts are not compared.
    bool operator==(const mci::TreeNode& other) const override
    {
        const auto* node = dynamic_cast<const RegReferenceBitNode*>(&other);
        return node != nullptr && mci::TreeNode::operator==(other) && node->m_words == m_words &&
               node->m_bitOffset == m_bitOffset && node->m_bitSize == m_bitSize;
    }

    using detail::RegCountedNode<AT>::OnGet;
    using detail::RegCountedNode<AT>::OnSet;

    size_t OnGet(AT* values, size_t pos, size_t count) const override
    {
        GetValueBits(values, pos, count);
        return count;
    }

    void OnSet(const AT* values, size_t pos, size_t count) override { SetValueBits(values, pos, count); }

    // Reads the field of words pos .. pos + count - 1, each once, in ascending order.
    void GetValueBits(AT* values, size_t pos, size_t count) const
    {
        const uint64_t mask = GetBitMask();
        for (size_t i = 0; i < count; ++i) {
            const uint64_t raw = (uint64_t(devio::ReadUnaligned(m_words + pos + i)) >> m_bitOffset) & mask;
            values[i] = _FromRaw(raw, mask);
        }
    }

    // Checks every value, then writes the field of words pos .. pos + count - 1, each read once
    // and written once, in ascending order.
    void SetValueBits(const AT* values, size_t pos, size_t count)
    {
        for (size_t i = 0; i < count; ++i) {
            _CheckRange(values[i]);
        }
        const Word mask = static_cast<Word>(GetBitMask());
        const Word field = static_cast<Word>(mask << m_bitOffset);
        for (size_t i = 0; i < count; ++i) {
            RT* word = m_words + pos + i;
            const Word bits = static_cast<Word>((_ToRaw(values[i]) & mask) << m_bitOffset);
            std::lock_guard<std::mutex> lock(WordLock(word));
            devio::WriteUnaligned(word, static_cast<Word>((devio::ReadUnaligned(word) & ~field) | bits));
        }
    }

private:
    void _Init(unsigned bitOffset, unsigned bitSize)
    {
        ISTD_TRACE_FNC("void ireg::RegReferenceBitNode::_Init(unsigned, unsigned)");
        // Checked before narrowing, so an offset of 300 is refused rather than taken as 44.
        _Check(bitOffset, bitSize);
        m_bitOffset = static_cast<uint8_t>(bitOffset);
        m_bitSize = static_cast<uint8_t>(bitSize);
    }

    static void _Check(unsigned bitOffset, unsigned bitSize)
    {
        if (uint64_t(bitOffset) + bitSize > c_wordBits) {
            throw istd::Exception("size and offset are out of range", true);
        }
        if (bitSize == 0) {
            throw istd::Exception("size could not be zero", true);
        }
        if (bitSize > c_valueBits) {
            throw istd::Exception("size is of range", true);
        }
    }

    AT _FromRaw(uint64_t raw, uint64_t mask) const
    {
        if constexpr (std::is_same_v<AT, bool>) {
            return raw != 0;
        } else if constexpr (std::is_enum_v<AT>) {
            return static_cast<AT>(static_cast<uint32_t>(raw));
        } else if constexpr (std::is_signed_v<AT>) {
            return static_cast<AT>((raw & GetMSBMask()) != 0 ? (raw | ~mask) : raw);
        } else {
            return static_cast<AT>(raw);
        }
    }

    // The value as the field stores it: zero-extended, or sign-extended for signed types.
    static uint64_t _ToRaw(const AT& value)
    {
        if constexpr (std::is_same_v<AT, bool>) {
            return value ? 1 : 0;
        } else if constexpr (std::is_enum_v<AT>) {
            return static_cast<uint32_t>(value);
        } else {
            return static_cast<uint64_t>(static_cast<std::conditional_t<std::is_signed_v<AT>, int64_t, uint64_t>>(value));
        }
    }

    void _CheckRange(const AT& value) const
    {
        if constexpr (std::is_integral_v<AT> && std::is_signed_v<AT>) {
            if (m_bitSize < 64) {
                const int64_t high = (int64_t(1) << (m_bitSize - 1)) - 1;
                const int64_t low = -high - 1;
                if (int64_t(value) < low || int64_t(value) > high) {
                    _ThrowOutOfRange(std::to_string(value));
                }
            }
        } else if ((_ToRaw(value) & ~GetBitMask()) != 0) {
            if constexpr (std::is_enum_v<AT>) {
                _ThrowTooLarge(std::to_string(static_cast<int32_t>(value)));
            } else {
                _ThrowTooLarge(std::to_string(_ToRaw(value)));
            }
        }
    }

    [[noreturn]] void _ThrowTooLarge(const std::string& value) const
    {
        ISTD_TRACE_FNC("void ireg::RegReferenceBitNode::_ThrowTooLarge(const std::string&) const");
        throw istd::Exception("Too large value." + value + " for node " + this->GetName(), true);
    }

    [[noreturn]] void _ThrowOutOfRange(const std::string& value) const
    {
        ISTD_TRACE_FNC("void ireg::RegReferenceBitNode::_ThrowOutOfRange(const std::string&) const");
        throw istd::Exception("Value " + value + " is out of range for node " + this->GetName(), true);
    }

    RT* const m_words;
    uint8_t m_bitOffset = 0;
    uint8_t m_bitSize = 1;
};

// A bit field holding the codes of E, shown and set by name (RegReferenceBitNode<E, RT>'s
// constructors).
template <class E, class RT>
class RegReferenceEnumBitNode : public RegEnumMixin<E, RegReferenceBitNode<E, RT>>,
                                public virtual RegReferenceBitNode<E, RT> {
public:
    using Mixin = RegEnumMixin<E, RegReferenceBitNode<E, RT>>;

    template <class... A>
    explicit RegReferenceEnumBitNode(A&&... args)
        : RegReferenceBitNode<E, RT>(std::forward<A>(args)...), Mixin(args...)
    {
    }
};

} // namespace ireg

#endif
