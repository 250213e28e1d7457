#include "mci/node_structure.h"

#include "istd/trace.h"
#include "mci/tree_node.h"

namespace mci {

NodeStructure::~NodeStructure() = default;

LocalNodeStructure::LocalNodeStructure(TreeNode* owner) : m_owner(owner) {}

LocalNodeStructure::~LocalNodeStructure() = default;

TreeNodePtr LocalNodeStructure::Find(const std::string& name) const
{
    auto it = m_index.find(std::string_view(name));
    return it == m_index.end() ? TreeNodePtr() : m_children[it->second];
}

TreeNodePtr LocalNodeStructure::Put(const TreeNodePtr& child)
{
    ISTD_TRACE_FNC("TreeNodePtr mci::LocalNodeStructure::Put(const TreeNodePtr&)");
    auto it = m_index.find(std::string_view(child->GetName()));
    if (it == m_index.end()) {
        m_children.push_back(child);
        m_index.emplace(std::string_view(child->GetName()), m_children.size() - 1);
        return TreeNodePtr();
    }
    const size_t pos = it->second;
    TreeNodePtr old = std::move(m_children[pos]);
    m_children[pos] = child;
    // The key viewed the old child's name; view the new child's from now on.
    m_index.erase(it);
    m_index.emplace(std::string_view(child->GetName()), pos);
    return old;
}

std::vector<TreeNodePtr> LocalNodeStructure::TakeAll()
{
    m_index.clear();
    std::vector<TreeNodePtr> children;
    children.swap(m_children);
    return children;
}

} // namespace mci
