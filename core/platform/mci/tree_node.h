#ifndef MCI_TREE_NODE_H
#define MCI_TREE_NODE_H

// The tree node every registry node derives from: name, flags, id, children and one recursive
// lock, the typed value entry points and the hooks that node kinds override.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "istd/any.h"
#include "mci/mci_export.h"
#include "mci/types.h"

namespace mci {

class NodeStructure;
struct NotificationData;

class MCI_API TreeNode : public std::enable_shared_from_this<TreeNode> {
public:
    // Flags of a node made without any: readable and writable.
    static constexpr Flags c_defaultFlags = enums::eReadable | enums::eWritable;

    TreeNode();
    TreeNode(const std::string& name, Flags flags);
    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;

    // The tree node's own equality: the same name. Node kinds extend it.
    virtual bool operator==(const TreeNode& other) const;

    // Typed value access. The defaults forward to the node that a non-empty path names and
    // otherwise throw name + ": unsupported operation"; node kinds that hold values override
    // them and address the node itself.
    virtual void Get(std::string& value, size_t pos, const Path& path) const;
    virtual void Get(int64_t& value, size_t pos, const Path& path) const;
    virtual void Get(uint64_t& value, size_t pos, const Path& path) const;
    virtual void Get(int32_t& value, size_t pos, const Path& path) const;
    virtual void Get(uint32_t& value, size_t pos, const Path& path) const;
    virtual void Get(double& value, size_t pos, const Path& path) const;
    virtual void Get(float& value, size_t pos, const Path& path) const;
    virtual void Get(bool& value, size_t pos, const Path& path) const;

    virtual void Get(std::vector<std::string>& values, size_t pos, size_t count, const Path& path) const;
    virtual void Get(std::vector<int64_t>& values, size_t pos, size_t count, const Path& path) const;
    virtual void Get(std::vector<uint64_t>& values, size_t pos, size_t count, const Path& path) const;
    virtual void Get(std::vector<int32_t>& values, size_t pos, size_t count, const Path& path) const;
    virtual void Get(std::vector<uint32_t>& values, size_t pos, size_t count, const Path& path) const;
    virtual void Get(std::vector<double>& values, size_t pos, size_t count, const Path& path) const;
    virtual void Get(std::vector<float>& values, size_t pos, size_t count, const Path& path) const;
    virtual void Get(std::vector<bool>& values, size_t pos, size_t count, const Path& path) const;

    virtual void Set(const std::string& value, size_t pos, const Path& path);
    virtual void Set(const int64_t& value, size_t pos, const Path& path);
    virtual void Set(const uint64_t& value, size_t pos, const Path& path);
    virtual void Set(const int32_t& value, size_t pos, const Path& path);
    virtual void Set(const uint32_t& value, size_t pos, const Path& path);
    virtual void Set(const double& value, size_t pos, const Path& path);
    virtual void Set(const float& value, size_t pos, const Path& path);
    virtual void Set(const bool& value, size_t pos, const Path& path);

    virtual void Set(const std::vector<std::string>& values, size_t pos, const Path& path);
    virtual void Set(const std::vector<int64_t>& values, size_t pos, const Path& path);
    virtual void Set(const std::vector<uint64_t>& values, size_t pos, const Path& path);
    virtual void Set(const std::vector<int32_t>& values, size_t pos, const Path& path);
    virtual void Set(const std::vector<uint32_t>& values, size_t pos, const Path& path);
    virtual void Set(const std::vector<double>& values, size_t pos, const Path& path);
    virtual void Set(const std::vector<float>& values, size_t pos, const Path& path);
    virtual void Set(const std::vector<bool>& values, size_t pos, const Path& path);

    // A text literal is a string, never a bool (which the pointer would otherwise become).
    void Set(const char* value, size_t pos, const Path& path) { Set(std::string(value), pos, path); }

    // Pushes the node's current value to its subscribers; a plain tree node has none.
    virtual bool Emit();

    virtual ~TreeNode();

    // Called once by factory::Create after the node structure is attached; false drops the node.
    virtual bool Init();

    // Locks on the node's one recursive lock; LockRead takes the same lock. Inline: a typed set
    // or get takes it once, and a call into this library for it would cost as much as the rest.
    std::unique_lock<std::recursive_mutex> Lock() const { return std::unique_lock<std::recursive_mutex>(m_mutex); }
    std::unique_lock<std::recursive_mutex> LockRead() const { return Lock(); }

    bool IsReadable(const Path& path = c_noRelPath) const { return (GetFlags(path) & enums::eReadable) != 0; }
    bool IsWritable(const Path& path = c_noRelPath) const { return (GetFlags(path) & enums::eWritable) != 0; }
    bool IsConstant(const Path& path = c_noRelPath) const { return (GetFlags(path) & enums::eConstant) != 0; }
    bool IsArray(const Path& path = c_noRelPath) const { return (GetFlags(path) & enums::eArray) != 0; }
    bool IsPersistent(const Path& path = c_noRelPath) const { return (GetFlags(path) & enums::ePersistent) != 0; }
    bool IsHidden(const Path& path = c_noRelPath) const { return (GetFlags(path) & enums::eHidden) != 0; }

    // The flags are an atomic word, read and ORed without the node lock: a flag test inside a
    // set that holds the lock, or while counting another node's children, never waits.
    Flags GetFlags(const Path& path = c_noRelPath) const;
    // ORs the bits into the node's flags.
    void SetFlags(Flags flags, const Path& path = c_noRelPath);

    size_t GetSize(const Path& path = c_noRelPath) const;
    bool Resize(size_t size, const Path& path = c_noRelPath);
    enums::NodeValType_e GetValueType(const Path& path = c_noRelPath) const;
    bool GetDomainValues(std::vector<std::string>& values, const Path& path = c_noRelPath) const;
    bool GetValidatorExpression(std::string& text, const Path& path = c_noRelPath) const;

    const std::string& GetName() const { return m_name; }
    const TreeNodeId& GetId() const { return m_id; }

    // The first child of that name below the node the path names, or an empty pointer.
    TreeNodePtr GetNode(const std::string& name, const Path& path = c_noRelPath) const;
    // All children in order, hidden ones included.
    std::vector<TreeNodePtr> GetAllNodes() const;
    // True when the node has no children at all.
    bool IsLeaf(const Path& path = c_noRelPath) const;
    // The number of children that are not hidden (all of them after ExposeHiddenRegistry()).
    size_t GetNodeCount(const Path& path = c_noRelPath) const;
    // The parent, or an empty pointer for a root or a detached node.
    TreeNodePtr GetParent() const;

    // Appends the child and makes this node its parent. A child of the same name is replaced
    // in its position. Returns the attached child.
    TreeNodePtr Add(const TreeNodePtr& child);
    // Puts the node with its subtree under this node: a new name is added; an existing name
    // takes the newcomer's children (merged level by level) when it has any, and is replaced by
    // the newcomer when it has none. Returns the node that stays in the tree.
    TreeNodePtr Merge(const TreeNodePtr& node);

    // Runs OnCleanup on the node the path names.
    bool Cleanup(const Path& path = c_noRelPath);
    // Runs OnEmit under the node lock.
    bool Emit(const NotificationData& data);

    // Run OnSubscribe / OnUnsubscribe of the node the path names, under its lock.
    bool Subscribe(const ClientId& client, const Path& path = c_noRelPath);
    bool Unsubscribe(const ClientId& client, const Path& path = c_noRelPath, bool unregister = true);

    // Takes ownership; replaces (and frees) a structure attached before.
    void SetNodeStructure(NodeStructure* structure);

    // Hooks. They always receive c_noRelPath: paths are resolved before a hook is reached.
    // The public operations run OnEmit, OnSubscribe, OnUnsubscribe and the size, value-type,
    // domain and validator hooks under the node lock; OnGetFlags and OnSetFlags without it (the
    // flags are atomic); OnCleanup without it (a node that writes its subtree locks what it
    // needs, parent before child).
    virtual bool OnCleanup(const Path& path);
    virtual bool OnEmit(const NotificationData& data);
    virtual bool OnEmitValue(const istd::Any& value, const size_t& pos);
    virtual bool OnSubscribe(const ClientId& client, const Path& path);
    virtual bool OnUnsubscribe(const ClientId& client, const Path& path, bool unregister);
    virtual Flags OnGetFlags(const Path& path) const;
    virtual void OnSetFlags(Flags flags, const Path& path);
    virtual bool OnResize(size_t size, const Path& path);
    virtual size_t OnGetSize(const Path& path) const;
    virtual enums::NodeValType_e OnGetValueType(const Path& path) const;
    virtual bool OnGetDomainValues(std::vector<std::string>& values, const Path& path) const;
    virtual bool OnGetValidatorExpression(std::string& text, const Path& path) const;

protected:
    // The flags word itself, as the default OnGetFlags answers it, without a virtual call.
    Flags _OwnFlags() const noexcept { return m_flags.load(); }

private:
    friend class Node;
    friend void DestroyNode(TreeNodePtr& root);

    // The node the path names: this node for the empty path, else a descendant kept alive by
    // keep. Throws "mci: node not found: /a/b" when the path names none.
    TreeNode* _Resolve(const Path& path, TreeNodePtr& keep) const;
    // The node a typed entry point forwards to: the one a non-empty path names. Throws
    // name + ": unsupported operation" for the empty path.
    TreeNode* _ForwardTarget(const Path& path, TreeNodePtr& keep) const;
    // Resolves the path, locks the node found and runs f on it.
    template <class F>
    auto _OnLockedTarget(const Path& path, F&& f) const;
    // The children that GetNodeCount() counts, in order.
    std::vector<TreeNodePtr> _VisibleChildren() const;
    TreeNodePtr _AddLocked(const TreeNodePtr& child, std::vector<TreeNodePtr>& dropped);
    TreeNodePtr _MergeLocked(const TreeNodePtr& node, std::vector<TreeNodePtr>& dropped);
    NodeStructure& _StructureLocked();
    void _CheckAttachable(const TreeNodePtr& child) const;
    static void _DetachSubtree(const TreeNodePtr& node);

    const std::string m_name;
    std::atomic<Flags> m_flags;
    const TreeNodeId m_id;
    std::unique_ptr<NodeStructure> m_structure;
    mutable std::recursive_mutex m_mutex;
};

// Cleans the tree up (every node's OnCleanup runs), detaches every node depth first and
// releases root.
MCI_API void DestroyNode(TreeNodePtr& root);

// From now on hidden children are counted and listed like the others. Process-wide.
MCI_API void ExposeHiddenRegistry();
MCI_API bool IsHiddenRegistryExposed();

} // namespace mci

#endif
