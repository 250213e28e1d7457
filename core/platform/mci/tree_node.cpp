#include "mci/tree_node.h"

#include <shared_mutex>
#include <sstream>

#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/dispatcher.h"
#include "mci/node.h"
#include "mci/node_structure.h"
#include "mci/notification.h"

namespace mci {

namespace {

// Guards the children and parent of every node. Readers share it; Add, Merge and the
// detaching of DestroyNode hold it alone. It is never held while a hook runs or a node is
// released, so node code may browse the tree from anywhere. Leaked, so trees released during
// static destruction still find it.
std::shared_mutex& TreeMutex()
{
    static std::shared_mutex* const mutex = new std::shared_mutex();
    return *mutex;
}

std::atomic<bool> g_exposeHidden{false};

std::string PathText(const Path& path)
{
    std::ostringstream os;
    os << path;
    return os.str();
}

} // namespace

TreeNode::TreeNode() : TreeNode(std::string(), c_defaultFlags) {}

TreeNode::TreeNode(const std::string& name, Flags flags) : m_name(name), m_flags(flags), m_id() {}

TreeNode::~TreeNode() = default;

bool TreeNode::operator==(const TreeNode& other) const
{
    return m_name == other.m_name;
}

TreeNode* TreeNode::_Resolve(const Path& path, TreeNodePtr& keep) const
{
    if (path.empty()) {
        return const_cast<TreeNode*>(this);
    }
    ISTD_TRACE_FNC("TreeNode* mci::TreeNode::_Resolve(const Path&, TreeNodePtr&) const");
    TreeNodePtr current;
    {
        std::shared_lock<std::shared_mutex> lock(TreeMutex());
        const TreeNode* node = this;
        for (const std::string& name : path) {
            const NodeStructure* structure = node->m_structure.get();
            TreeNodePtr child = structure ? structure->Find(name) : TreeNodePtr();
            if (!child) {
                current.reset();
                break;
            }
            current = std::move(child);
            node = current.get();
        }
    }
    if (!current) {
        throw istd::Exception("mci: node not found: " + PathText(path));
    }
    keep = std::move(current);
    return keep.get();
}

TreeNode* TreeNode::_ForwardTarget(const Path& path, TreeNodePtr& keep) const
{
    if (path.empty()) {
        throw istd::Exception(m_name + ": unsupported operation");
    }
    return _Resolve(path, keep);
}

template <class F>
auto TreeNode::_OnLockedTarget(const Path& path, F&& f) const
{
    TreeNodePtr keep;
    TreeNode* target = _Resolve(path, keep);
    std::lock_guard<std::recursive_mutex> lock(target->m_mutex);
    return f(*target);
}

// The typed entry points of a node without values: forward along a path, else refuse.
#define MCI_TREE_NODE_TYPED_ACCESS(T)                                                        \
    void TreeNode::Get(T& value, size_t pos, const Path& path) const                         \
    {                                                                                        \
        TreeNodePtr keep;                                                                    \
        _ForwardTarget(path, keep)->Get(value, pos, c_noRelPath);                            \
    }                                                                                        \
    void TreeNode::Get(std::vector<T>& values, size_t pos, size_t count, const Path& path) const \
    {                                                                                        \
        TreeNodePtr keep;                                                                    \
        _ForwardTarget(path, keep)->Get(values, pos, count, c_noRelPath);                    \
    }                                                                                        \
    void TreeNode::Set(const T& value, size_t pos, const Path& path)                         \
    {                                                                                        \
        TreeNodePtr keep;                                                                    \
        _ForwardTarget(path, keep)->Set(value, pos, c_noRelPath);                            \
    }                                                                                        \
    void TreeNode::Set(const std::vector<T>& values, size_t pos, const Path& path)           \
    {                                                                                        \
        TreeNodePtr keep;                                                                    \
        _ForwardTarget(path, keep)->Set(values, pos, c_noRelPath);                           \
    }

MCI_TREE_NODE_TYPED_ACCESS(std::string)
MCI_TREE_NODE_TYPED_ACCESS(int64_t)
MCI_TREE_NODE_TYPED_ACCESS(uint64_t)
MCI_TREE_NODE_TYPED_ACCESS(int32_t)
MCI_TREE_NODE_TYPED_ACCESS(uint32_t)
MCI_TREE_NODE_TYPED_ACCESS(double)
MCI_TREE_NODE_TYPED_ACCESS(float)
MCI_TREE_NODE_TYPED_ACCESS(bool)

#undef MCI_TREE_NODE_TYPED_ACCESS

bool TreeNode::Emit()
{
    return false;
}

bool TreeNode::Init()
{
    return true;
}

Flags TreeNode::GetFlags(const Path& path) const
{
    TreeNodePtr keep;
    return _Resolve(path, keep)->OnGetFlags(c_noRelPath);
}

void TreeNode::SetFlags(Flags flags, const Path& path)
{
    TreeNodePtr keep;
    _Resolve(path, keep)->OnSetFlags(flags, c_noRelPath);
}

size_t TreeNode::GetSize(const Path& path) const
{
    return _OnLockedTarget(path, [](TreeNode& node) { return node.OnGetSize(c_noRelPath); });
}

bool TreeNode::Resize(size_t size, const Path& path)
{
    return _OnLockedTarget(path, [size](TreeNode& node) { return node.OnResize(size, c_noRelPath); });
}

enums::NodeValType_e TreeNode::GetValueType(const Path& path) const
{
    return _OnLockedTarget(path, [](TreeNode& node) { return node.OnGetValueType(c_noRelPath); });
}

bool TreeNode::GetDomainValues(std::vector<std::string>& values, const Path& path) const
{
    return _OnLockedTarget(path, [&values](TreeNode& node) { return node.OnGetDomainValues(values, c_noRelPath); });
}

bool TreeNode::GetValidatorExpression(std::string& text, const Path& path) const
{
    return _OnLockedTarget(path,
                           [&text](TreeNode& node) { return node.OnGetValidatorExpression(text, c_noRelPath); });
}

TreeNodePtr TreeNode::GetNode(const std::string& name, const Path& path) const
{
    TreeNodePtr keep;
    const TreeNode* target = _Resolve(path, keep);
    std::shared_lock<std::shared_mutex> lock(TreeMutex());
    const NodeStructure* structure = target->m_structure.get();
    return structure ? structure->Find(name) : TreeNodePtr();
}

std::vector<TreeNodePtr> TreeNode::GetAllNodes() const
{
    std::shared_lock<std::shared_mutex> lock(TreeMutex());
    const NodeStructure* structure = m_structure.get();
    return structure ? structure->GetChildren() : std::vector<TreeNodePtr>();
}

bool TreeNode::IsLeaf(const Path& path) const
{
    TreeNodePtr keep;
    const TreeNode* target = _Resolve(path, keep);
    std::shared_lock<std::shared_mutex> lock(TreeMutex());
    const NodeStructure* structure = target->m_structure.get();
    return structure == nullptr || structure->GetChildren().empty();
}

std::vector<TreeNodePtr> TreeNode::_VisibleChildren() const
{
    ISTD_TRACE_FNC("std::vector<TreeNodePtr> mci::TreeNode::_VisibleChildren() const");
    std::vector<TreeNodePtr> children = GetAllNodes();
    if (g_exposeHidden.load()) {
        return children;
    }
    std::vector<TreeNodePtr> visible;
    visible.reserve(children.size());
    for (TreeNodePtr& child : children) {
        if ((child->OnGetFlags(c_noRelPath) & enums::eHidden) == 0) {
            visible.push_back(std::move(child));
        }
    }
    return visible;
}

size_t TreeNode::GetNodeCount(const Path& path) const
{
    ISTD_TRACE_FNC("size_t mci::TreeNode::GetNodeCount(const Path&) const");
    TreeNodePtr keep;
    const TreeNode* target = _Resolve(path, keep);
    std::vector<TreeNodePtr> children = target->GetAllNodes();
    if (g_exposeHidden.load()) {
        return children.size();
    }
    size_t count = 0;
    for (const TreeNodePtr& child : children) {
        if ((child->OnGetFlags(c_noRelPath) & enums::eHidden) == 0) {
            ++count;
        }
    }
    return count;
}

TreeNodePtr TreeNode::GetParent() const
{
    std::shared_lock<std::shared_mutex> lock(TreeMutex());
    return m_structure ? m_structure->GetParent() : TreeNodePtr();
}

NodeStructure& TreeNode::_StructureLocked()
{
    if (!m_structure) {
        m_structure.reset(new LocalNodeStructure(this));
    }
    return *m_structure;
}

void TreeNode::_CheckAttachable(const TreeNodePtr& child) const
{
    ISTD_TRACE_FNC("void mci::TreeNode::_CheckAttachable(const TreeNodePtr&) const");
    if (!child) {
        throw istd::Exception("mci: " + m_name + ": cannot attach an empty node");
    }
    TreeNodePtr ancestor;
    for (const TreeNode* node = this; node != nullptr; node = ancestor.get()) {
        if (node == child.get()) {
            throw istd::Exception("mci: " + m_name + ": cannot attach " + child->m_name + ", it would contain itself");
        }
        const NodeStructure* structure = node->m_structure.get();
        ancestor = structure ? structure->GetParent() : TreeNodePtr();
    }
    const NodeStructure* structure = child->m_structure.get();
    TreeNodePtr parent = structure ? structure->GetParent() : TreeNodePtr();
    if (parent && parent.get() != this) {
        throw istd::Exception("mci: " + m_name + ": cannot attach " + child->m_name + ", it is a child of " +
                              parent->m_name);
    }
}

TreeNodePtr TreeNode::_AddLocked(const TreeNodePtr& child, std::vector<TreeNodePtr>& dropped)
{
    _CheckAttachable(child);
    TreeNodePtr old = _StructureLocked().Put(child);
    child->_StructureLocked().SetParent(weak_from_this());
    if (old && old != child) {
        ISTD_TRACE(2, "mci: " << m_name << ": child " << child->m_name << " replaced by a newer node");
        if (old->m_structure) {
            old->m_structure->SetParent(std::weak_ptr<TreeNode>());
        }
        dropped.push_back(std::move(old));
    }
    return child;
}

TreeNodePtr TreeNode::Add(const TreeNodePtr& child)
{
    ISTD_TRACE_FNC("TreeNodePtr mci::TreeNode::Add(const TreeNodePtr&)");
    // Replaced nodes are released after the structure lock, so their destructors may browse.
    std::vector<TreeNodePtr> dropped;
    std::unique_lock<std::shared_mutex> lock(TreeMutex());
    TreeNodePtr added = _AddLocked(child, dropped);
    lock.unlock();
    return added;
}

TreeNodePtr TreeNode::_MergeLocked(const TreeNodePtr& node, std::vector<TreeNodePtr>& dropped)
{
    _CheckAttachable(node);
    TreeNodePtr existing = _StructureLocked().Find(node->m_name);
    NodeStructure* incoming = node->m_structure.get();
    if (!existing || existing == node || incoming == nullptr || incoming->GetChildren().empty()) {
        return _AddLocked(node, dropped);
    }
    for (const TreeNodePtr& child : incoming->TakeAll()) {
        child->_StructureLocked().SetParent(std::weak_ptr<TreeNode>());
        existing->_MergeLocked(child, dropped);
    }
    return existing;
}

TreeNodePtr TreeNode::Merge(const TreeNodePtr& node)
{
    ISTD_TRACE_FNC("TreeNodePtr mci::TreeNode::Merge(const TreeNodePtr&)");
    std::vector<TreeNodePtr> dropped;
    std::unique_lock<std::shared_mutex> lock(TreeMutex());
    TreeNodePtr kept = _MergeLocked(node, dropped);
    lock.unlock();
    return kept;
}

void TreeNode::SetNodeStructure(NodeStructure* structure)
{
    ISTD_TRACE_FNC("void mci::TreeNode::SetNodeStructure(NodeStructure*)");
    std::unique_ptr<NodeStructure> incoming(structure);
    std::unique_ptr<NodeStructure> previous;
    std::unique_lock<std::shared_mutex> lock(TreeMutex());
    if (m_structure && incoming) {
        // Keep the place in the tree that the node already has.
        incoming->SetParent(m_structure->GetParent());
        for (const TreeNodePtr& child : m_structure->TakeAll()) {
            incoming->Put(child);
        }
    }
    previous = std::move(m_structure);
    m_structure = std::move(incoming);
}

bool TreeNode::Cleanup(const Path& path)
{
    TreeNodePtr keep;
    return _Resolve(path, keep)->OnCleanup(c_noRelPath);
}

bool TreeNode::Emit(const NotificationData& data)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return OnEmit(data);
}

bool TreeNode::Subscribe(const ClientId& client, const Path& path)
{
    return _OnLockedTarget(path, [&client](TreeNode& node) { return node.OnSubscribe(client, c_noRelPath); });
}

bool TreeNode::Unsubscribe(const ClientId& client, const Path& path, bool unregister)
{
    return _OnLockedTarget(path, [&client, unregister](TreeNode& node) {
        return node.OnUnsubscribe(client, c_noRelPath, unregister);
    });
}

bool TreeNode::OnCleanup(const Path&)
{
    ISTD_TRACE_FNC("bool mci::TreeNode::OnCleanup(const Path&)");
    bool ok = true;
    for (const TreeNodePtr& child : GetAllNodes()) {
        // Every child is cleaned up, also after one failed.
        ok = child->Cleanup(c_noRelPath) && ok;
    }
    return ok;
}

bool TreeNode::OnEmit(const NotificationData&)
{
    return false;
}

bool TreeNode::OnEmitValue(const istd::Any& value, const size_t& pos)
{
    ISTD_TRACE_FNC("bool mci::TreeNode::OnEmitValue(const istd::Any&, const size_t&)");
    // shared_from_this() throws std::bad_weak_ptr for a node that no shared pointer owns. Made
    // where the dispatcher queues it, so that handing it over copies nothing.
    const std::shared_ptr<NotificationData> data = Dispatcher::_MakeNotification();
    data->node = Node(shared_from_this(), c_noRelPath);
    data->type = enums::eValueChanged;
    data->value = value;
    data->position = pos;
    const Dispatcher::InPlace inPlace(data);
    return Emit(*data);
}

bool TreeNode::OnSubscribe(const ClientId&, const Path&)
{
    return false;
}

bool TreeNode::OnUnsubscribe(const ClientId&, const Path&, bool)
{
    return false;
}

Flags TreeNode::OnGetFlags(const Path&) const
{
    return m_flags.load();
}

void TreeNode::OnSetFlags(Flags flags, const Path&)
{
    m_flags.fetch_or(flags);
}

bool TreeNode::OnResize(size_t, const Path&)
{
    return false;
}

size_t TreeNode::OnGetSize(const Path&) const
{
    return 0;
}

enums::NodeValType_e TreeNode::OnGetValueType(const Path&) const
{
    return enums::eNone;
}

bool TreeNode::OnGetDomainValues(std::vector<std::string>&, const Path&) const
{
    return false;
}

bool TreeNode::OnGetValidatorExpression(std::string&, const Path&) const
{
    return false;
}

// Takes the children out level by level, so each node is released after its own children.
void TreeNode::_DetachSubtree(const TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void mci::TreeNode::_DetachSubtree(const TreeNodePtr&)");
    std::vector<TreeNodePtr> children;
    {
        std::unique_lock<std::shared_mutex> lock(TreeMutex());
        if (node->m_structure) {
            children = node->m_structure->TakeAll();
        }
        for (const TreeNodePtr& child : children) {
            if (child->m_structure) {
                child->m_structure->SetParent(std::weak_ptr<TreeNode>());
            }
        }
    }
    for (const TreeNodePtr& child : children) {
        _DetachSubtree(child);
    }
}

void DestroyNode(TreeNodePtr& root)
{
    ISTD_TRACE_FNC("void mci::DestroyNode(TreeNodePtr&)");
    if (!root) {
        return;
    }
    try {
        if (!root->Cleanup(c_noRelPath)) {
            ISTD_TRACE(2, "mci: clean-up of " << root->GetName() << " reported a failure");
        }
    } catch (const std::exception& e) {
        // The tree is released all the same: this runs once, at shutdown.
        ISTD_TRACE(1, "mci: clean-up of " << root->GetName() << " failed: " << e.what());
    }
    TreeNode::_DetachSubtree(root);
    root.reset();
}

void ExposeHiddenRegistry()
{
    g_exposeHidden.store(true);
}

bool IsHiddenRegistryExposed()
{
    return g_exposeHidden.load();
}

} // namespace mci
