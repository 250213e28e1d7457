#include "ireg/reg_reference_cstring_node.h"

#include <algorithm>
#include <cstring>

#include "istd/exception.h"
#include "istd/trace.h"

namespace ireg {

RegReferenceCStringNode::RegReferenceCStringNode(const std::string& name, size_t stringSize, char* base,
                                                 mci::Flags flags)
    : RegReferenceCStringNode(name, stringSize, base, flags, 1)
{
}

RegReferenceCStringNode::RegReferenceCStringNode(const std::string& name, size_t stringSize, char* base,
                                                 mci::Flags flags, size_t count)
    : RegTypeNode<std::string>(name, flags), m_base(base), m_stringSize(stringSize), m_count(count)
{
}

RegReferenceCStringNode::~RegReferenceCStringNode() = default;

bool RegReferenceCStringNode::operator==(const mci::TreeNode& other) const
{
    const auto* node = dynamic_cast<const RegReferenceCStringNode*>(&other);
    return node != nullptr && mci::TreeNode::operator==(other) && node->m_base == m_base;
}

size_t RegReferenceCStringNode::OnGetSize(const mci::Path&) const
{
    return m_count;
}

size_t RegReferenceCStringNode::OnGet(std::string* values, size_t pos, size_t count) const
{
    for (size_t i = 0; i < count; ++i) {
        const char* field = m_base + (pos + i) * m_stringSize;
        values[i].assign(field, strnlen(field, m_stringSize));
    }
    return count;
}

void RegReferenceCStringNode::OnSet(const std::string* values, size_t pos, size_t count)
{
    ISTD_TRACE_FNC("void ireg::RegReferenceCStringNode::OnSet(const std::string*, size_t, size_t)");
    // The characters up to the first NUL are the string, as a C reader of the field sees it.
    auto length = [](const std::string& value) { return std::min(value.find('\0'), value.size()); };
    for (size_t i = 0; i < count; ++i) {
        if (length(values[i]) >= m_stringSize) {
            throw istd::Exception("String too long.", true);
        }
    }
    for (size_t i = 0; i < count; ++i) {
        char* field = m_base + (pos + i) * m_stringSize;
        const size_t n = length(values[i]);
        std::memcpy(field, values[i].data(), n);
        field[n] = '\0';
    }
}

} // namespace ireg
