#ifndef IAPP_TESTS_COMMON_TREE_LISTING_H
#define IAPP_TESTS_COMMON_TREE_LISTING_H

// A registry subtree as lines, one a node, depth first: "<path> <value type> 0x<flags>", the
// path starting with the name given for the node. Golden listings of a component's nodes compare
// them. Header only.

#include <sstream>
#include <string>
#include <vector>

#include "mci/tree_node.h"

namespace iapptest {

inline void ListTree(const mci::TreeNodePtr& node, const std::string& path, std::vector<std::string>& lines)
{
    std::ostringstream line;
    line << path << " " << node->GetValueType() << " 0x" << std::hex << node->GetFlags();
    lines.push_back(line.str());
    for (const mci::TreeNodePtr& child : node->GetAllNodes()) {
        ListTree(child, path + "/" + child->GetName(), lines);
    }
}

} // namespace iapptest

#endif
