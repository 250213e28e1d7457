#include "ireg_config_util.h"

#include <algorithm>

namespace iregtest {

std::string ValueAttr(const icfg::ElementPtr& element)
{
    icfg::AttributePtr attribute;
    return element && element->FindAttr("value", attribute) ? attribute->GetValue() : "<none>";
}

TestEnumNode::TestEnumNode(const std::string& name, std::vector<int32_t> values, mci::Flags flags)
    : ireg::RegTypeNode<int32_t>(name, flags), m_values(std::move(values))
{
}

const std::map<int32_t, std::string>& TestEnumNode::Table()
{
    static const std::map<int32_t, std::string> table{{1, "low"}, {2, "high"}, {7, "auto"}};
    return table;
}

bool TestEnumNode::OnGetDomainValues(std::vector<std::string>& values, const mci::Path&) const
{
    for (const auto& row : Table()) {
        values.push_back(row.second);
    }
    return true;
}

size_t TestEnumNode::OnGet(int32_t* values, size_t pos, size_t count) const
{
    std::copy_n(m_values.begin() + static_cast<std::ptrdiff_t>(pos), count, values);
    return count;
}

size_t TestEnumNode::OnGet(std::string* values, size_t pos, size_t count) const
{
    for (size_t i = 0; i < count; ++i) {
        auto it = Table().find(m_values[pos + i]);
        if (it == Table().end()) {
            throw istd::Exception("invalid value", true);
        }
        values[i] = it->second;
    }
    return count;
}

void TestEnumNode::OnSet(const int32_t* values, size_t pos, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (Table().count(values[i]) == 0) {
            throw istd::Exception("invalid value", true);
        }
    }
    std::copy_n(values, count, m_values.begin() + static_cast<std::ptrdiff_t>(pos));
}

void TestEnumNode::OnSet(const std::string* values, size_t pos, size_t count)
{
    std::vector<int32_t> codes;
    for (size_t i = 0; i < count; ++i) {
        auto it = std::find_if(Table().begin(), Table().end(), [&](const auto& row) { return row.second == values[i]; });
        if (it == Table().end()) {
            throw istd::Exception("Invalid integer value", true);
        }
        codes.push_back(it->first);
    }
    std::copy(codes.begin(), codes.end(), m_values.begin() + static_cast<std::ptrdiff_t>(pos));
}

} // namespace iregtest
