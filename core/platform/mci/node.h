#ifndef MCI_NODE_H
#define MCI_NODE_H

// A handle on a tree node: a node pointer and a path below it. The path is resolved again on
// every call, so a handle whose node left the tree fails on its next use instead of reaching a
// stale node.

#include <cstddef>
#include <string>
#include <vector>

#include "istd/exception.h"
#include "mci/mci_export.h"
#include "mci/tree_node.h"

namespace mci {

class MCI_API Node {
public:
    // Longest value text of ToString() without an argument.
    static constexpr size_t c_defMaxValueLen = 64;

    // An empty handle: every call but GetTreeNode() throws.
    Node();
    Node(const TreeNodePtr& node, const Path& path);
    Node(TreeNodePtr&& node, const Path& path);

    // The node the handle names; an empty pointer for an empty handle. Throws when the path
    // names no node.
    TreeNodePtr GetTreeNode() const;

    // A handle on the node the path names below this one (with the empty path).
    Node GetNode(const Path& path) const;
    // The visible children, in order.
    Node GetNode(unsigned index) const;
    std::vector<Node> GetNodes() const;
    size_t GetNodeCount() const;

    bool IsLeaf() const;
    std::string GetName() const;
    size_t GetSize() const;
    enums::NodeValType_e GetValueType() const;
    bool IsArray() const;
    Flags GetFlags() const;
    bool GetDomainValues(std::vector<std::string>& values) const;
    bool GetValidatorExpression(std::string& text) const;

    // Typed access through the node's own entry points; exceptions pass through.
    template <class T>
    void Get(T& value, size_t pos = 0) const
    {
        _Target()->Get(value, pos, c_noRelPath);
    }
    template <class T>
    void Get(std::vector<T>& values, size_t pos, size_t count) const
    {
        _Target()->Get(values, pos, count, c_noRelPath);
    }
    template <class T>
    void Set(const T& value, size_t pos = 0) const
    {
        _Target()->Set(value, pos, c_noRelPath);
    }
    template <class T>
    void Set(const std::vector<T>& values, size_t pos = 0) const
    {
        _Target()->Set(values, pos, c_noRelPath);
    }

    // The typed set, answering false (and tracing the cause) instead of throwing.
    template <class T>
    bool SetValue(const T& value, size_t pos = 0) const
    {
        try {
            Set(value, pos);
            return true;
        } catch (const istd::Exception& e) {
            _TraceSetFailure(e);
            return false;
        }
    }

    // Writes the command "Execute" at position 0; the node's exception passes through.
    bool Execute() const;

    // The value as text: arrays as "[a, b]", enumerations by name, doubles with 15 and floats
    // with 6 significant digits; longer than max, it is cut and ends with "...". A node without
    // a value gives "", one whose value cannot be read "<unreadable>".
    std::string ToString(size_t max = c_defMaxValueLen) const;

    // The names from the root down to the node; skipRoot leaves the root's own name out.
    Path GetFullPath(bool skipRoot) const;

private:
    // The resolved node, never empty; throws for an empty handle or a path that names no node.
    TreeNodePtr _Target() const;
    static void _TraceSetFailure(const istd::Exception& e);

    TreeNodePtr m_node;
    Path m_path;
};

} // namespace mci

#endif
