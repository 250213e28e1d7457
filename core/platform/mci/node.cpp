#include "mci/node.h"

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <utility>

#include "istd/trace.h"

namespace mci {

Node::Node() = default;

Node::Node(const TreeNodePtr& node, const Path& path) : m_node(node), m_path(path) {}

Node::Node(TreeNodePtr&& node, const Path& path) : m_node(std::move(node)), m_path(path) {}

TreeNodePtr Node::_Target() const
{
    if (!m_node) {
        throw istd::Exception("mci: empty node handle");
    }
    TreeNodePtr keep;
    m_node->_Resolve(m_path, keep);
    return keep ? keep : m_node;
}

TreeNodePtr Node::GetTreeNode() const
{
    return m_node ? _Target() : TreeNodePtr();
}

Node Node::GetNode(const Path& path) const
{
    ISTD_TRACE_FNC("Node mci::Node::GetNode(const Path&) const");
    TreeNodePtr target = _Target();
    TreeNodePtr keep;
    target->_Resolve(path, keep);
    return Node(keep ? keep : target, c_noRelPath);
}

Node Node::GetNode(unsigned index) const
{
    ISTD_TRACE_FNC("Node mci::Node::GetNode(unsigned) const");
    TreeNodePtr target = _Target();
    std::vector<TreeNodePtr> children = target->_VisibleChildren();
    if (index >= children.size()) {
        throw istd::Exception("mci: " + target->GetName() + ": no child at index " + std::to_string(index));
    }
    return Node(children[index], c_noRelPath);
}

std::vector<Node> Node::GetNodes() const
{
    ISTD_TRACE_FNC("std::vector<Node> mci::Node::GetNodes() const");
    std::vector<Node> nodes;
    for (const TreeNodePtr& child : _Target()->_VisibleChildren()) {
        nodes.emplace_back(child, c_noRelPath);
    }
    return nodes;
}

size_t Node::GetNodeCount() const
{
    return _Target()->GetNodeCount(c_noRelPath);
}

bool Node::IsLeaf() const
{
    return _Target()->IsLeaf(c_noRelPath);
}

std::string Node::GetName() const
{
    return _Target()->GetName();
}

size_t Node::GetSize() const
{
    return _Target()->GetSize(c_noRelPath);
}

enums::NodeValType_e Node::GetValueType() const
{
    return _Target()->GetValueType(c_noRelPath);
}

bool Node::IsArray() const
{
    return _Target()->IsArray(c_noRelPath);
}

Flags Node::GetFlags() const
{
    return _Target()->GetFlags(c_noRelPath);
}

bool Node::GetDomainValues(std::vector<std::string>& values) const
{
    return _Target()->GetDomainValues(values, c_noRelPath);
}

bool Node::GetValidatorExpression(std::string& text) const
{
    return _Target()->GetValidatorExpression(text, c_noRelPath);
}

bool Node::Execute() const
{
    Set(std::string("Execute"), 0);
    return true;
}

void Node::_TraceSetFailure(const istd::Exception& e)
{
    ISTD_TRACE(1, "mci: cannot set value: " << e.what());
}

namespace {

void WriteElement(std::ostream& os, const bool& value)
{
    os << (value ? "true" : "false");
}

template <class T>
void WriteElement(std::ostream& os, const T& value)
{
    if constexpr (std::is_same_v<T, double>) {
        os << std::setprecision(15) << value;
    } else if constexpr (std::is_same_v<T, float>) {
        os << std::setprecision(6) << value;
    } else {
        os << value;
    }
}

// A scalar as its text; an array as "[a, b", closed with "]" only when every element was read.
// An array is read only as far as a text of max characters can show: each element takes at
// least two characters with its separator, so the elements left out always make it longer.
template <class T>
std::string ValueText(const TreeNode& node, size_t max)
{
    std::ostringstream os;
    if (!node.IsArray(c_noRelPath)) {
        T value{};
        node.Get(value, 0, c_noRelPath);
        WriteElement(os, value);
        return os.str();
    }
    const size_t size = node.GetSize(c_noRelPath);
    const size_t count = std::min(size, max / 2 + 1);
    std::vector<T> values;
    if (count > 0) {
        node.Get(values, 0, count, c_noRelPath);
    }
    os << '[';
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            os << ", ";
        }
        WriteElement(os, static_cast<T>(values[i]));
    }
    if (values.size() >= size) {
        os << ']';
    }
    return os.str();
}

} // namespace

std::string Node::ToString(size_t max) const
{
    ISTD_TRACE_FNC("std::string mci::Node::ToString(size_t) const");
    TreeNodePtr target = _Target();
    std::string text;
    try {
        switch (target->GetValueType(c_noRelPath)) {
        case enums::eBool: text = ValueText<bool>(*target, max); break;
        case enums::eInt32: text = ValueText<int32_t>(*target, max); break;
        case enums::eUInt32: text = ValueText<uint32_t>(*target, max); break;
        case enums::eInt64: text = ValueText<int64_t>(*target, max); break;
        case enums::eUInt64: text = ValueText<uint64_t>(*target, max); break;
        case enums::eDouble: text = ValueText<double>(*target, max); break;
        case enums::eFloat: text = ValueText<float>(*target, max); break;
        case enums::eString:
        case enums::eEnumeration: text = ValueText<std::string>(*target, max); break;
        default: break;
        }
    } catch (const istd::Exception& e) {
        ISTD_TRACE(3, "mci: value of " << target->GetName() << " unreadable: " << e.what());
        text = "<unreadable>";
    }
    static const std::string c_ellipsis("...");
    if (text.size() > max) {
        text.resize(max > c_ellipsis.size() ? max - c_ellipsis.size() : 0);
        text += c_ellipsis;
    }
    return text;
}

Path Node::GetFullPath(bool skipRoot) const
{
    ISTD_TRACE_FNC("Path mci::Node::GetFullPath(bool) const");
    Path path;
    for (TreeNodePtr node = _Target(); node; node = node->GetParent()) {
        path.push_back(node->GetName());
    }
    if (skipRoot) {
        path.pop_back();
    }
    std::reverse(path.begin(), path.end());
    return path;
}

} // namespace mci
