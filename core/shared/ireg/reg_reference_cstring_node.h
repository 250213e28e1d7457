#ifndef IREG_REG_REFERENCE_CSTRING_NODE_H
#define IREG_REG_REFERENCE_CSTRING_NODE_H

// RegReferenceCStringNode: a string node over fixed-size character fields in memory that
// somebody else owns (a block laid out by a C structure or an FPGA's memory).
//
// Field i occupies the stringSize bytes from base + i * stringSize and holds at most
// stringSize - 1 characters followed by a NUL byte. The node's size is the number of fields.
//
//   read   the characters of each field up to its first NUL; a field without one reads as all
//          of its bytes, never past its end.
//   write  a value counts up to its first NUL character. Every value is checked first: one of
//          stringSize characters or more throws "String too long." and no field is written.
//          Then each value is copied with one NUL after it; the bytes of the field behind that
//          NUL keep their old contents.
//
// The node cannot be resized (the memory is fixed). Two nodes are equal when the tree node's
// own comparison says so and they start at the same base; string size and count are not
// compared. The memory must outlive every read, write and comparison made through the node.

#include <cstddef>
#include <string>

#include "ireg/ireg_export.h"
#include "ireg/reg_value_node.h"

namespace ireg {

class IREG_API RegReferenceCStringNode : public RegTypeNode<std::string> {
public:
    // One field.
    RegReferenceCStringNode(const std::string& name, size_t stringSize, char* base,
                            mci::Flags flags = mci::TreeNode::c_defaultFlags);
    // count fields, one after another. The flags go to the node unchanged (no array flag is
    // added here).
    RegReferenceCStringNode(const std::string& name, size_t stringSize, char* base, mci::Flags flags, size_t count);
    ~RegReferenceCStringNode() override;

    bool operator==(const mci::TreeNode& other) const override;

    size_t OnGetSize(const mci::Path& path) const override;

    using RegTypeNode<std::string>::OnGet;
    using RegTypeNode<std::string>::OnSet;
    size_t OnGet(std::string* values, size_t pos, size_t count) const override;
    void OnSet(const std::string* values, size_t pos, size_t count) override;

    char* GetBase() const { return m_base; }
    size_t GetStringSize() const { return m_stringSize; }

private:
    char* const m_base;
    const size_t m_stringSize;
    const size_t m_count;
};

} // namespace ireg

#endif
