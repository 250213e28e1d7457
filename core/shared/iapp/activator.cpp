#include "iapp/activator.h"

#include "devio/reg_access.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_reference_bit_node.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace iapp {

Activator::Activator(const std::string& name, const std::string& nodeName) : m_name(name), m_nodeName(nodeName) {}

Activator::~Activator()
{
    ISTD_TRACE(4, "Destroying " << m_name << " Activator");
}

mci::TreeNodePtr Activator::GetNode() const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_node;
}

bool Activator::IsLocked() const
{
    Guard guard = _Lock();
    return m_locked;
}

Activator::Guard Activator::_Lock() const
{
    std::unique_lock<std::recursive_mutex> own(m_mutex);
    if (!m_node) {
        return Guard{nullptr, std::move(own)};
    }
    // The own mutex is never held while a node lock is taken: a client write of the node
    // arrives with the node's lock held and then takes the own mutex briefly here.
    mci::TreeNodePtr node = m_node;
    own.unlock();
    std::unique_lock<std::recursive_mutex> lock = node->Lock();
    return Guard{std::move(node), std::move(lock)};
}

void Activator::AddRegistry(mci::TreeNodePtr& parent)
{
    ISTD_TRACE_FNC("void iapp::Activator::AddRegistry(mci::TreeNodePtr&)");
    mci::TreeNodePtr node = parent->Add(mci::factory::Create<ireg::RegFncNode<bool>>(
        m_nodeName, this, &Activator::_SetActive, &Activator::_GetActive, mci::TreeNode::c_defaultFlags));
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_node = std::move(node);
}

void Activator::Lock()
{
    ISTD_TRACE(3, "Locking " << m_name);
    Guard guard = _Lock();
    m_locked = true;
}

void Activator::Release()
{
    ISTD_TRACE(3, "Releasing " << m_name);
    Guard guard = _Lock();
    m_locked = false;
    ISTD_TRACE(3, "Modified " << (m_changed ? 1 : 0) << " value: " << (m_cachedActivation ? 1 : 0));
    if (m_changed) {
        Apply(m_cachedActivation);
        m_cachedActivation = false;
        m_changed = false;
    }
}

void Activator::Apply(bool active)
{
    ISTD_TRACE(3, "Activating (" << (active ? 1 : 0) << ") " << m_name);
    if (mci::TreeNodePtr node = GetNode()) {
        node->Set(active, 0, mci::c_noRelPath);
    } else {
        _SetActive(active);
    }
}

bool Activator::_SetActive(const bool& active)
{
    Guard guard = _Lock();
    if (m_locked && active) {
        throw istd::Exception("Activation is prevented in locked state", true);
    }
    Set(active);
    m_active.store(active);
    return true;
}

bool Activator::_GetActive(bool& active) const
{
    active = Get();
    return true;
}

void Activator::OnMasterChange(const Master&, Importance_e importance)
{
    Guard guard = _Lock();
    const bool activate = importance == eImportanceBlock;
    if (m_locked && activate) {
        m_changed = true;
        m_cachedActivation = true;
        ISTD_TRACE(3, "Activator::OnMasterChange Caching new activation " << (m_cachedActivation ? 1 : 0));
        Apply(false);
        return;
    }
    Apply(activate);
}

// ---------------------------------------------------------------------------------------------

namespace {

// The bit position, checked against the word before anything is kept.
template <class T>
uint32_t CheckedBit(unsigned bit)
{
    if (bit >= sizeof(T) * 8) {
        throw istd::Exception("UpdateBit: Invalid argument", true);
    }
    return bit;
}

} // namespace

template <class T>
ActivatorBit<T>::ActivatorBit(const std::string& name, volatile T& reg, unsigned bit, bool readBack,
                              const std::string& nodeName)
    : Activator(name, nodeName), m_register(reg), m_bit(CheckedBit<T>(bit)), m_readBack(readBack)
{
}

template <class T>
ActivatorBit<T>::~ActivatorBit() = default;

template <class T>
void ActivatorBit<T>::Set(bool on)
{
    const T mask = T(1) << m_bit;
    // The word's lock of the registry's bit nodes: a bit node over another field of the same
    // word cannot lose its write between our read and write.
    std::lock_guard<std::mutex> lock(ireg::WordLock(&m_register));
    const T word = devio::Read(&m_register);
    devio::Write(&m_register, static_cast<T>(on ? word | mask : word & ~mask));
}

template <class T>
bool ActivatorBit<T>::Get() const
{
    if (m_readBack) {
        return (devio::Read(&m_register) & (T(1) << m_bit)) != 0;
    }
    return _IsActive();
}

template <class T>
volatile T& ActivatorBit<T>::GetBitReference(T& mask) const
{
    mask = T(1) << m_bit;
    return m_register;
}

template class ActivatorBit<uint32_t>;
template class ActivatorBit<uint64_t>;

} // namespace iapp
