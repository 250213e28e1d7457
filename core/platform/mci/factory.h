#ifndef MCI_FACTORY_H
#define MCI_FACTORY_H

// The one way a tree node is made: construct it into a std::shared_ptr (which gives it its
// weak self-reference), attach a LocalNodeStructure, run Init(). The node comes back
// unattached; the caller Add()s it to its parent.

#include <memory>
#include <type_traits>
#include <utility>

#include "mci/node_structure.h"
#include "mci/tree_node.h"

namespace mci {
namespace factory {

template <class T>
struct IsSharedPtr : std::false_type {};
template <class T>
struct IsSharedPtr<std::shared_ptr<T>> : std::true_type {};

template <class... A>
struct FirstIsSharedPtr : std::false_type {};
template <class A0, class... A>
struct FirstIsSharedPtr<A0, A...> : IsSharedPtr<std::decay_t<A0>> {};

namespace detail {
template <class T, class... A>
std::shared_ptr<T> Make(A&&... args)
{
    static_assert(std::is_base_of_v<TreeNode, T>, "factory::Create makes tree nodes");
    std::shared_ptr<T> node(new T(std::forward<A>(args)...));
    node->SetNodeStructure(new LocalNodeStructure(node.get()));
    if (!node->Init()) {
        return std::shared_ptr<T>();
    }
    return node;
}
} // namespace detail

// Makes a T from the arguments (the name first). An empty pointer when Init() answers false;
// an exception of the constructor or of Init() passes to the caller.
//
// Arguments are forwarded, so a literal 0 arrives as an int: a constructor that takes a pointer
// to member in that place needs an overload for int or std::nullptr_t.
template <class T, class... A, std::enable_if_t<!FirstIsSharedPtr<A...>::value, int> = 0>
TreeNodePtr Create(A&&... args)
{
    return detail::Make<T>(std::forward<A>(args)...);
}

// The same, then the validator is given to the new node with its SetValidator(). Without the
// constraint above, a non-const validator variable would bind to the first overload's A&&.
template <class T, class V, class... A>
TreeNodePtr Create(const std::shared_ptr<V>& validator, A&&... args)
{
    std::shared_ptr<T> node = detail::Make<T>(std::forward<A>(args)...);
    if (node) {
        node->SetValidator(validator);
    }
    return node;
}

} // namespace factory
} // namespace mci

#endif
