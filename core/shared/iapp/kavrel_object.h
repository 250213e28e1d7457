#ifndef IAPP_KAVREL_OBJECT_H
#define IAPP_KAVREL_OBJECT_H

// The component tree: every component of an application (the application itself, boards, FPGA
// objects, bus and chip wrappers, features, plug-ins) is a KavrelObject, a named node of one
// ownership tree rooted at the application object.
//
//     class Pll : public iapp::KavrelFeature {
//     public:
//         Pll(iapp::KavrelObject& parent, const std::string& name, unsigned index);
//         void OnRegistryAdd(mci::TreeNodePtr& node) override;   // attach the leaves
//         void OnStartRunning() override;
//     };
//     Pll* pll = iapp::Create<Pll>(board, "pll", 2u);   // board owns it; pll is borrowed
//
// Ownership. A component is allocated with new and owned by the KavrelObjectPtr in its parent's
// children list, whose deleter is dumyDeleter; removing that reference deletes it. A root (made
// with itself as parent) is not owned by the tree: its creator makes its owning reference with
// MakeRootHandle, and only then can components be constructed under it.
//
// Phases. The walkers (PreInit ... Shutdown) visit the children first, each whole subtree before
// the next sibling (Shutdown in reverse order), and call the component's own hook last. They
// catch nothing: an exception leaves the walk at once.
//
// Registry. AddRegistry makes the component's node, lets the children attach theirs into it,
// calls OnRegistryAdd, and merges the node under the given one; a node that stayed empty is
// dropped. It acts once per component.
//
// The tree has no lock: build and change it on one thread, and do not add or remove components
// while another thread walks it.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "iapp/iapp_export.h"
#include "mci/types.h"

namespace iapp {

class KavrelObject;
using KavrelObjectPtr = std::shared_ptr<KavrelObject>;

// The deleter of every reference through which a parent owns a child: deletes the object unless
// its deletion is inhibited (while it is being constructed or destroyed). A null object is
// traced as an internal error.
IAPP_API void dumyDeleter(KavrelObject* object);

// The narrow view of the application that components need: its life-cycle state. The
// application object registers itself as the current provider; tests of components install a
// fake of their own.
class IAPP_API ApplicationStateProvider {
public:
    virtual ~ApplicationStateProvider();
    // 0 constructed, 1 init, 2 components made, 3 configuring, 4 running, 5 shutting down,
    // 6 destroyed.
    virtual int GetState() const = 0;

    // Makes provider the one KavrelObject::GetApplicationState asks (nullptr: none).
    static void SetCurrent(const ApplicationStateProvider* provider);
    // Clears the current provider if it is provider (a destroyed application calls it, so that
    // a newer one stays registered).
    static void ResetCurrent(const ApplicationStateProvider* provider);
    static const ApplicationStateProvider* GetCurrent();

private:
    static std::atomic<const ApplicationStateProvider*> s_current;
};

class IAPP_API KavrelObject : public std::enable_shared_from_this<KavrelObject> {
public:
    // Constructs the component under parent, which owns it from then on; the parent is not
    // asked whether it accepts the child (QueryChild, which Create calls, does that). Passing the
    // object itself as parent makes a root. A parent without an owning reference fails with
    // std::bad_weak_ptr and leaves nothing in any list.
    KavrelObject(KavrelObject& parent, const std::string& name);
    // A half-built component (a derived constructor threw) removes itself from its parent.
    virtual ~KavrelObject();

    KavrelObject(const KavrelObject&) = delete;
    KavrelObject& operator=(const KavrelObject&) = delete;

    // The name as OnGetName gives it.
    const std::string& GetName() const;
    // GetName() + "." + suffix.
    std::string GetDecoratedName(const std::string& suffix) const;

    // Flags of the registry node that a later AddRegistry makes; 0 until set.
    void SetRegistryFlags(uint64_t flags);
    uint64_t GetRegistryFlags() const { return m_registryFlags; }

    // The application's state (ApplicationStateProvider::GetCurrent()); 0 when there is none.
    int GetApplicationState() const;

    // Asks OnQueryChild about child; a refused child is removed (which destroys it) and
    // istd::Exception "<child> can not be instantiated as child of <this>" is thrown.
    void QueryChild(KavrelObject* child);
    // Asks parent's OnQueryChild about this object and, when it accepts, appends this object to
    // its children; otherwise throws the text of QueryChild and changes nothing.
    void AddToParent(KavrelObject& parent);
    // Appends the child's own shared reference (std::bad_weak_ptr for a child that no owning
    // reference holds); a child already in the list is not added twice.
    void AddChild(KavrelObject* child);
    // Erases the child's entry, deleting the child when that was its last owner; a child that
    // is not in the list is ignored.
    void RemoveChild(KavrelObject* child);
    // Erases the child's entry and hands its reference to the caller; empty when not a child.
    KavrelObjectPtr DetachChild(KavrelObject* child);
    // The parent reference becomes a weak reference to parent (std::bad_weak_ptr for a parent
    // without an owning reference).
    void SetParent(KavrelObject& parent);

    // The parent, or an empty pointer for a root or when the parent is gone.
    KavrelObjectPtr GetParent() const;
    // The owned children in insertion order.
    const std::vector<KavrelObjectPtr>& GetChildren() const { return m_children; }
    // The registry node AddRegistry attached for this component (empty when none).
    mci::TreeNodePtr GetRegistryNode() const { return m_registryNode.lock(); }
    bool IsRegistryDefined() const { return m_registryDefined; }

    // Depth first, pre-order: appends every component of the subtree (this one included) whose
    // dynamic type is exactly type; a derived type does not match. The list is not cleared.
    // Always true.
    bool GetObjects(const std::type_info& type, std::vector<KavrelObjectPtr>& list);
    // The nearest ancestor whose dynamic type is exactly type; empty when none is.
    KavrelObjectPtr GetAncestor(const std::type_info& type) const;

    // For a root, which no parent owns: makes its creator's owning reference with the given
    // deleter and seats it as the object's own shared handle, so that components under it can
    // take references to it. While an owning reference exists that one is returned (and the
    // deleter is not used): an object never gets two owner groups. After the last owning
    // reference has gone, a new call seats a new handle; the children then need
    // _RepointChildren to find their parent again.
    template <class Deleter>
    KavrelObjectPtr MakeRootHandle(Deleter deleter)
    {
        if (KavrelObjectPtr current = weak_from_this().lock()) {
            return current;
        }
        // The shared_ptr constructor seats an expired weak self-reference on every standard
        // library since C++17; the check below makes sure the handle returned is the seated one.
        KavrelObjectPtr handle(this, std::move(deleter));
        _CheckSeated(handle);
        return handle;
    }

    // The phases: children first (Shutdown: in reverse insertion order), then the own hook.
    void PreInit();
    void PostInit();
    void PreConfig();
    void PostConfig();
    void StartRunning();
    void AcceptRequests();
    void Shutdown();

    // Attaches the component's registry node, named name (nullptr: GetName()), under parentNode
    // with its children's nodes inside and its own leaves (OnRegistryAdd); see the header note.
    void AddRegistry(mci::TreeNodePtr& parentNode, const char* name = nullptr);

    // Hooks; empty here.
    virtual void OnRegistryAdd(mci::TreeNodePtr& node);
    virtual void OnPreInit();
    virtual void OnPostInit();
    virtual void OnPreConfig();
    virtual void OnPostConfig();
    virtual void OnStartRunning();
    virtual void OnAcceptRequests();
    virtual void OnShutdown();
    // Whether child may stay under this component; a plain component accepts none.
    virtual bool OnQueryChild(const KavrelObject& child);
    // The name the walkers, QueryChild and AddRegistry use; the stored name here.
    virtual const std::string& OnGetName() const;

protected:
    // Points every child's parent reference at this object again, in order.
    void _RepointChildren();

private:
    friend IAPP_API void dumyDeleter(KavrelObject* object);

    using Step = void (KavrelObject::*)();
    // Traces the phase, runs walker on every child (reverse: last child first), then hook.
    void _Walk(const char* phase, Step walker, Step hook, bool reverse);
    void _CheckSeated(const KavrelObjectPtr& handle);

    const std::string m_name;
    uint64_t m_registryFlags = 0;
    std::vector<KavrelObjectPtr> m_children;
    std::weak_ptr<KavrelObject> m_parent;
    std::weak_ptr<mci::TreeNode> m_registryNode;
    bool m_registryDefined = false;
    // Read by dumyDeleter, which may run on whichever thread drops the last reference.
    std::atomic<bool> m_deletionInhibited{false};
};

// Makes a T under parent from the name and T's own arguments, then asks the parent's
// QueryChild: a refused T is destroyed and the istd::Exception of QueryChild thrown. A throwing
// constructor leaves the parent's children as they were. The pointer returned is borrowed: the
// parent owns the object.
template <class T, class P, class... A, std::enable_if_t<std::is_base_of_v<KavrelObject, T>, int> = 0>
T* Create(P& parent, const std::string& name, A&&... args)
{
    T* object = new T(parent, name, std::forward<A>(args)...);
    static_cast<KavrelObject&>(parent).QueryChild(object);
    return object;
}

} // namespace iapp

#endif
