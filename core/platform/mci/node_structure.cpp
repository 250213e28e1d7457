#include "mci/node_structure.h"

#include "istd/trace.h"
#include "mci/tree_node.h"

namespace mci {

NodeStructure::~NodeStructure() = default;

LocalNodeStructure::LocalNodeStructure(TreeNode* owner) : m_owner(owner) {}

LocalNodeStructure::~LocalNodeStructure() = default;

TreeNodePtr LocalNodeStructure::Find(const std::string& name) const
{
    auto it = m_index.find(name);
    return it == m_index.end() ? TreeNodePtr() : m_children[it->second];
}

TreeNodePtr LocalNodeStructure::Put(const TreeNodePtr& child)
{
    ISTD_TRACE_FNC("TreeNodePtr mci::LocalNodeStructure::Put(const TreeNodePtr&)");
    auto inserted = m_index.emplace(child->GetName(), m_children.size());
    if (inserted.second) {
        m_children.push_back(child);
        return TreeNodePtr();
    }
    TreeNodePtr old = std::move(m_children[inserted.first->second]);
    m_children[inserted.first->second] = child;
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
