#ifndef FUZZ_IAPP_RUNTIME_CHECK_H
#define FUZZ_IAPP_RUNTIME_CHECK_H

// What the runtime-builder targets check of every registry a description built: each node lies
// wholly inside the memory block, and reading each node and writing back what it read succeeds
// (the sanitizer sees any byte touched beyond the block, which is allocated to its exact size).
// Nodes at addresses their element type cannot be read from aligned are only checked for their
// place: a description with a small alignment may put them there, and that is the
// application's choice.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "ireg/reg_reference_bit_node.h"
#include "ireg/reg_reference_cstring_node.h"
#include "ireg/reg_reference_node.h"
#include "istd/exception.h"
#include "mci/tree_node.h"

namespace fuzzsupport {

class BlockCheck {
public:
    BlockCheck(const char* block, size_t size) : m_block(block), m_size(size) {}

    // Checks every node below the root; the number of nodes.
    size_t Walk(const mci::TreeNodePtr& node)
    {
        size_t count = 0;
        for (const mci::TreeNodePtr& child : node->GetAllNodes()) {
            _Check(child);
            count += 1 + Walk(child);
        }
        return count;
    }

private:
    void _Inside(const mci::TreeNodePtr& node, const volatile void* address, uint64_t bytes) const
    {
        const auto* first = static_cast<const volatile char*>(address);
        if (first < m_block || static_cast<uint64_t>(first - m_block) + bytes > m_size) {
            Finding("a node reaches outside the block",
                    node->GetName() + " at " + std::to_string(first - m_block) + " + " + std::to_string(bytes) +
                        " of " + std::to_string(m_size));
        }
    }

    static bool _Aligned(const volatile void* address, size_t alignment)
    {
        return reinterpret_cast<uintptr_t>(address) % alignment == 0;
    }

    // Reads the whole node and writes the values back; a refusal must be an istd::Exception.
    template <class T>
    static void _ReadWrite(const mci::TreeNodePtr& node)
    {
        std::vector<T> values;
        try {
            node->Get(values, 0, 0, mci::c_noRelPath);
            node->Set(values, 0, mci::c_noRelPath);
        } catch (const istd::Exception&) {
            // read-only or write-only flags, a constant, or a string the node cannot keep
        }
    }

    template <class T>
    bool _Reference(const mci::TreeNodePtr& node)
    {
        const auto* ref = dynamic_cast<const ireg::RegReferenceNode<T, volatile T>*>(node.get());
        if (ref != nullptr) {
            _Inside(node, ref->GetReferent(), uint64_t(sizeof(T)) * ref->GetSize());
            if (_Aligned(ref->GetReferent(), alignof(T))) {
                _ReadWrite<T>(node);
            }
        }
        return ref != nullptr;
    }

    template <class T>
    bool _Bits(const mci::TreeNodePtr& node)
    {
        const auto* bits = dynamic_cast<const ireg::RegReferenceBitNode<T, volatile uint32_t>*>(node.get());
        if (bits != nullptr) {
            _Inside(node, bits->GetWords(), 4 * uint64_t(bits->GetSize()));
            if (_Aligned(bits->GetWords(), 4)) {
                _ReadWrite<T>(node);
            }
        }
        return bits != nullptr;
    }

    void _Check(const mci::TreeNodePtr& node)
    {
        if (_Reference<bool>(node) || _Reference<int32_t>(node) || _Reference<uint32_t>(node) ||
            _Reference<int64_t>(node) || _Reference<uint64_t>(node) || _Reference<double>(node) ||
            _Reference<float>(node) || _Bits<bool>(node) || _Bits<int32_t>(node) || _Bits<uint32_t>(node) ||
            _Bits<int64_t>(node) || _Bits<uint64_t>(node)) {
            return;
        }
        if (const auto* text = dynamic_cast<const ireg::RegReferenceCStringNode*>(node.get())) {
            _Inside(node, text->GetBase(), uint64_t(text->GetStringSize()) * text->GetSize());
            _ReadWrite<std::string>(node);
            return;
        }
        if (node->GetValueType() != mci::enums::eNone) {
            Finding("a node of an unexpected kind", node->GetName());
        }
    }

    const char* m_block;
    size_t m_size;
};

} // namespace fuzzsupport

#endif
