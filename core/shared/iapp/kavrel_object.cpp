#include "iapp/kavrel_object.h"

#include <algorithm>
#include <stdexcept>

#include "ireg/reg_node.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/factory.h"

namespace iapp {

// ---- application state ------------------------------------------------------------------

std::atomic<const ApplicationStateProvider*> ApplicationStateProvider::s_current{nullptr};

ApplicationStateProvider::~ApplicationStateProvider() = default;

void ApplicationStateProvider::SetCurrent(const ApplicationStateProvider* provider)
{
    s_current.store(provider);
}

void ApplicationStateProvider::ResetCurrent(const ApplicationStateProvider* provider)
{
    s_current.compare_exchange_strong(provider, nullptr);
}

const ApplicationStateProvider* ApplicationStateProvider::GetCurrent()
{
    return s_current.load();
}

// ---- ownership --------------------------------------------------------------------------

void dumyDeleter(KavrelObject* object)
{
    if (object == nullptr) {
        ISTD_TRACE(1, "Internal error: KavrelObject to be deleted is not specified.");
        return;
    }
    if (!object->m_deletionInhibited.load()) {
        delete object;
    }
}

KavrelObject::KavrelObject(KavrelObject& parent, const std::string& name) : m_name(name)
{
    ISTD_TRACE_FNC("iapp::KavrelObject::KavrelObject(KavrelObject&, const std::string&)");
    // Inhibited from the start: should the parent refuse a reference below, releasing the
    // temporary owner must not delete an object whose constructor is still running.
    m_deletionInhibited = true;
    KavrelObjectPtr self(this, dumyDeleter); // makes shared_from_this valid from here on
    ISTD_TRACE(3, "KavrelObject instantiation: " << m_name);
    if (&parent != this) {
        m_parent = parent.shared_from_this();
        parent.AddChild(this);
    }
    self.reset();
    m_deletionInhibited = false;
}

KavrelObject::~KavrelObject()
{
    ISTD_TRACE_FNC("iapp::KavrelObject::~KavrelObject()");
    m_deletionInhibited = true;
    try {
        // Still owned while being destroyed means that a derived constructor threw after this
        // base had joined the parent: the parent's entry is the one owner besides ours.
        if (KavrelObjectPtr self = weak_from_this().lock(); self && self.use_count() == 2) {
            if (KavrelObjectPtr parent = m_parent.lock()) {
                parent->DetachChild(this);
                ISTD_TRACE(1, "Detached child because of exception in the constructor of derived classes: "
                                  << m_name);
            }
        }
    } catch (...) {
        ISTD_TRACE(1, "Unexpected Exception in the destructor of " << m_name << " object.");
    }
    m_registryNode.reset();
    m_parent.reset();
    // The children go in insertion order, out of the list first, so that a child's destructor
    // never sees a list being taken apart.
    std::vector<KavrelObjectPtr> children;
    children.swap(m_children);
    for (KavrelObjectPtr& child : children) {
        child.reset();
    }
}

void KavrelObject::_CheckSeated(const KavrelObjectPtr& handle)
{
    const KavrelObjectPtr seated = weak_from_this().lock();
    if (!seated || seated.owner_before(handle) || handle.owner_before(seated)) {
        ISTD_TRACE(1, "Internal error: the root handle of " << m_name << " was not seated.");
        throw std::logic_error("iapp: the root handle of " + m_name + " was not seated");
    }
}

// ---- names and state --------------------------------------------------------------------

const std::string& KavrelObject::GetName() const
{
    return OnGetName();
}

std::string KavrelObject::GetDecoratedName(const std::string& suffix) const
{
    return GetName() + "." + suffix;
}

void KavrelObject::SetRegistryFlags(uint64_t flags)
{
    m_registryFlags = flags;
}

int KavrelObject::GetApplicationState() const
{
    const ApplicationStateProvider* provider = ApplicationStateProvider::GetCurrent();
    return provider == nullptr ? 0 : provider->GetState();
}

// ---- children and parent ----------------------------------------------------------------

void KavrelObject::QueryChild(KavrelObject* child)
{
    ISTD_TRACE_FNC("void iapp::KavrelObject::QueryChild(KavrelObject*)");
    if (OnQueryChild(*child)) {
        return;
    }
    const std::string childName = child->GetName();
    RemoveChild(child);
    throw istd::Exception(childName + " can not be instantiated as child of " + GetName(), true);
}

void KavrelObject::AddToParent(KavrelObject& parent)
{
    ISTD_TRACE_FNC("void iapp::KavrelObject::AddToParent(KavrelObject&)");
    if (!parent.OnQueryChild(*this)) {
        throw istd::Exception(m_name + " can not be instantiated as child of " + parent.m_name, true);
    }
    parent.AddChild(this);
}

void KavrelObject::AddChild(KavrelObject* child)
{
    KavrelObjectPtr reference = child->shared_from_this();
    if (std::find(m_children.begin(), m_children.end(), reference) == m_children.end()) {
        m_children.push_back(std::move(reference));
    }
}

void KavrelObject::RemoveChild(KavrelObject* child)
{
    // The reference leaves the list before it is released, so that the child's destructor
    // finds the list consistent.
    KavrelObjectPtr removed = DetachChild(child);
}

KavrelObjectPtr KavrelObject::DetachChild(KavrelObject* child)
{
    auto it = std::find_if(m_children.begin(), m_children.end(),
                           [child](const KavrelObjectPtr& entry) { return entry.get() == child; });
    if (it == m_children.end()) {
        return KavrelObjectPtr();
    }
    KavrelObjectPtr reference = std::move(*it);
    m_children.erase(it);
    return reference;
}

void KavrelObject::SetParent(KavrelObject& parent)
{
    m_parent = parent.shared_from_this();
    ISTD_TRACE(1, parent.m_name << " is parent of " << m_name);
}

void KavrelObject::_RepointChildren()
{
    for (const KavrelObjectPtr& child : m_children) {
        child->SetParent(*this);
    }
}

KavrelObjectPtr KavrelObject::GetParent() const
{
    return m_parent.lock();
}

bool KavrelObject::GetObjects(const std::type_info& type, std::vector<KavrelObjectPtr>& list)
{
    if (typeid(*this) == type) {
        list.push_back(shared_from_this());
    }
    for (const KavrelObjectPtr& child : m_children) {
        child->GetObjects(type, list);
    }
    return true;
}

KavrelObjectPtr KavrelObject::GetAncestor(const std::type_info& type) const
{
    for (KavrelObjectPtr ancestor = m_parent.lock(); ancestor; ancestor = ancestor->m_parent.lock()) {
        // Through a reference: clang warns of the shared pointer's operator* inside typeid.
        const KavrelObject& candidate = *ancestor;
        if (typeid(candidate) == type) {
            return ancestor;
        }
    }
    return KavrelObjectPtr();
}

// ---- phases -----------------------------------------------------------------------------

void KavrelObject::_Walk(const char* phase, Step walker, Step hook, bool reverse)
{
    ISTD_TRACE(2, phase << "(): " << GetName() << ".");
    // A copy: a hook may add or remove components; those added now take part in later phases.
    std::vector<KavrelObjectPtr> children = m_children;
    if (reverse) {
        std::reverse(children.begin(), children.end());
    }
    for (const KavrelObjectPtr& child : children) {
        ISTD_TRACE(2, "Calling " << phase << "() for " << child->GetName());
        ((*child).*walker)();
    }
    (this->*hook)();
}

void KavrelObject::PreInit()
{
    ISTD_TRACE_FNC("void iapp::KavrelObject::PreInit()");
    _Walk("PreInit", &KavrelObject::PreInit, &KavrelObject::OnPreInit, false);
}

void KavrelObject::PostInit()
{
    ISTD_TRACE_FNC("void iapp::KavrelObject::PostInit()");
    _Walk("PostInit", &KavrelObject::PostInit, &KavrelObject::OnPostInit, false);
}

void KavrelObject::PreConfig()
{
    ISTD_TRACE_FNC("void iapp::KavrelObject::PreConfig()");
    _Walk("PreConfig", &KavrelObject::PreConfig, &KavrelObject::OnPreConfig, false);
}

void KavrelObject::PostConfig()
{
    ISTD_TRACE_FNC("void iapp::KavrelObject::PostConfig()");
    _Walk("PostConfig", &KavrelObject::PostConfig, &KavrelObject::OnPostConfig, false);
}

void KavrelObject::StartRunning()
{
    ISTD_TRACE_FNC("void iapp::KavrelObject::StartRunning()");
    _Walk("StartRunning", &KavrelObject::StartRunning, &KavrelObject::OnStartRunning, false);
}

void KavrelObject::AcceptRequests()
{
    ISTD_TRACE_FNC("void iapp::KavrelObject::AcceptRequests()");
    _Walk("AcceptRequests", &KavrelObject::AcceptRequests, &KavrelObject::OnAcceptRequests, false);
}

void KavrelObject::Shutdown()
{
    ISTD_TRACE_FNC("void iapp::KavrelObject::Shutdown()");
    _Walk("Shutdown", &KavrelObject::Shutdown, &KavrelObject::OnShutdown, true);
}

// ---- registry ---------------------------------------------------------------------------

void KavrelObject::AddRegistry(mci::TreeNodePtr& parentNode, const char* name)
{
    ISTD_TRACE_FNC("void iapp::KavrelObject::AddRegistry(mci::TreeNodePtr&, const char*)");
    const std::string nodeName = name == nullptr ? GetName() : std::string(name);
    if (m_registryDefined) {
        ISTD_TRACE(2, "AddRegistry(): registry for " << nodeName << " object is already defined.");
        return;
    }
    if (!parentNode) {
        throw istd::Exception("AddRegistry(): no parent node for " + nodeName, true);
    }
    mci::TreeNodePtr node = mci::factory::Create<ireg::RegNode>(nodeName, mci::Flags(m_registryFlags));
    if (!node) {
        throw istd::Exception("AddRegistry(): cannot make the registry node of " + nodeName, true);
    }
    for (const KavrelObjectPtr& child : std::vector<KavrelObjectPtr>(m_children)) {
        ISTD_TRACE(2, "Calling AddRegistry() for " << child->GetName());
        child->AddRegistry(node, nullptr);
    }
    OnRegistryAdd(node);
    if (node->IsLeaf(mci::c_noRelPath)) {
        m_registryDefined = true;
        return;
    }
    if (node->GetNodeCount(mci::c_noRelPath) == 0) {
        node->SetFlags(mci::enums::eHidden, mci::c_noRelPath);
    }
    // Merge gives the node that stays in the tree: an existing node of that name takes the new
    // node's children, and is then the component's node.
    m_registryNode = parentNode->Merge(node);
    m_registryDefined = true;
}

// ---- hooks ------------------------------------------------------------------------------

void KavrelObject::OnRegistryAdd(mci::TreeNodePtr&) {}
void KavrelObject::OnPreInit() {}
void KavrelObject::OnPostInit() {}
void KavrelObject::OnPreConfig() {}
void KavrelObject::OnPostConfig() {}
void KavrelObject::OnStartRunning() {}
void KavrelObject::OnAcceptRequests() {}
void KavrelObject::OnShutdown() {}

bool KavrelObject::OnQueryChild(const KavrelObject&)
{
    return false;
}

const std::string& KavrelObject::OnGetName() const
{
    return m_name;
}

} // namespace iapp
