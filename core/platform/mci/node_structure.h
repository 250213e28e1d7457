#ifndef MCI_NODE_STRUCTURE_H
#define MCI_NODE_STRUCTURE_H

// Where a tree node keeps its children and its parent. Every operation is called with the
// process-wide tree-structure lock held (shared for the const ones, exclusive for the others),
// so implementations take no lock of their own and call no node hook.

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mci/mci_export.h"
#include "mci/types.h"

namespace mci {

class MCI_API NodeStructure {
public:
    virtual ~NodeStructure();

    // The node this structure belongs to.
    virtual TreeNode* GetOwner() const = 0;

    virtual TreeNodePtr GetParent() const = 0;
    virtual void SetParent(const std::weak_ptr<TreeNode>& parent) = 0;

    // The child of that name, or an empty pointer.
    virtual TreeNodePtr Find(const std::string& name) const = 0;
    // The children in order.
    virtual const std::vector<TreeNodePtr>& GetChildren() const = 0;
    // Appends the child, or puts it in the place of the child of the same name, whose pointer
    // is returned (empty when there was none).
    virtual TreeNodePtr Put(const TreeNodePtr& child) = 0;
    // Takes all children out, in order.
    virtual std::vector<TreeNodePtr> TakeAll() = 0;
};

// The in-process structure: the ordered children and a name index beside them, so a look-up by
// name is O(log n) also for very wide nodes.
class MCI_API LocalNodeStructure : public NodeStructure {
public:
    explicit LocalNodeStructure(TreeNode* owner);
    ~LocalNodeStructure() override;

    TreeNode* GetOwner() const override { return m_owner; }
    TreeNodePtr GetParent() const override { return m_parent.lock(); }
    void SetParent(const std::weak_ptr<TreeNode>& parent) override { m_parent = parent; }

    TreeNodePtr Find(const std::string& name) const override;
    const std::vector<TreeNodePtr>& GetChildren() const override { return m_children; }
    TreeNodePtr Put(const TreeNodePtr& child) override;
    std::vector<TreeNodePtr> TakeAll() override;

private:
    TreeNode* m_owner;
    std::weak_ptr<TreeNode> m_parent;
    std::vector<TreeNodePtr> m_children;
    // Name -> position in m_children. The keys are copies: comparing against names kept in
    // the nodes themselves would touch one more object per step of a look-up.
    std::map<std::string, size_t, std::less<>> m_index;
};

} // namespace mci

#endif
