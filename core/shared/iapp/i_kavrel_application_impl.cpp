#include "iapp/i_kavrel_application_impl.h"

#include <exception>
#include <iterator>
#include <utility>

#include "inet/orb_manager.h"
#include "istd/exception.h"
#include "istd/trace.h"

namespace iapp {

i_KavrelApplication_impl::i_KavrelApplication_impl()
{
    ISTD_TRACE_FNC("iapp::i_KavrelApplication_impl::i_KavrelApplication_impl()");
}

i_KavrelApplication_impl::~i_KavrelApplication_impl()
{
    ISTD_TRACE_FNC("iapp::i_KavrelApplication_impl::~i_KavrelApplication_impl()");
    NodeTable remaining;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        remaining.swap(m_remoteNodes);
    }
    for (const auto& entry : remaining) {
        _End(entry.second);
    }
}

uint32_t i_KavrelApplication_impl::_Hash(i_NET::_objref_Notification* callback)
{
    return callback->_hash(0xFFFFFFFFu);
}

i_KavrelApplication_impl::NodeTable::iterator i_KavrelApplication_impl::Find(i_NET::_objref_Notification* callback)
{
    ISTD_TRACE_FNC("iapp::i_KavrelApplication_impl::Find(i_NET::_objref_Notification*)");
    const uint32_t hash = _Hash(callback);
    const auto range = m_remoteNodes.equal_range(hash);
    size_t position = 0;
    for (auto it = range.first; it != range.second; ++it) {
        ++position;
        if (it->second->Equals(callback)) {
            ISTD_TRACE(2, "Registry proxy interface with hash " << hash << " found at " << position << "/"
                                                                 << std::distance(range.first, range.second));
            return it;
        }
    }
    ISTD_TRACE(2, " New Registry proxy interface with hash " << hash);
    return m_remoteNodes.end();
}

char* i_KavrelApplication_impl::GetInterfaceVersion()
{
    ISTD_TRACE_FNC("char* iapp::i_KavrelApplication_impl::GetInterfaceVersion()");
    return CORBA::string_dup(c_interfaceVersion);
}

i_NET::RemoteNode_ptr i_KavrelApplication_impl::GetRemoteNode(i_NET::Notification_ptr callback)
{
    ISTD_TRACE_FNC("i_NET::RemoteNode_ptr iapp::i_KavrelApplication_impl::GetRemoteNode(i_NET::Notification_ptr)");
    if (CORBA::is_nil(callback)) {
        ISTD_TRACE(1, "GetRemoteNode refused: no callback object");
        throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
    }
    // Held while the servant is made and activated, so that concurrent first requests of one
    // client make one servant.
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = Find(callback);
    if (found != m_remoteNodes.end()) {
        return found->second->_this();
    }
    // The creation reference becomes the table's; Activate takes one of its own.
    auto* servant = new ireg::i_RemoteNode_impl(callback);
    NodeTable::iterator entry;
    try {
        entry = m_remoteNodes.emplace(_Hash(callback), servant);
    } catch (...) {
        servant->_remove_ref();
        throw;
    }
    servant->_add_ref(); // handed to Activate, which drops it once the ORB holds the servant
    try {
        inet::OM().Activate(servant);
    } catch (...) {
        // Stored before activation: the entry goes, and with both references the servant.
        m_remoteNodes.erase(entry);
        servant->_remove_ref();
        servant->_remove_ref();
        throw;
    }
    return servant->_this();
}

void i_KavrelApplication_impl::ReleaseRemoteNode(i_NET::Notification_ptr callback)
{
    ISTD_TRACE_FNC("void iapp::i_KavrelApplication_impl::ReleaseRemoteNode(i_NET::Notification_ptr)");
    if (CORBA::is_nil(callback)) {
        return;
    }
    ireg::i_RemoteNode_impl* servant = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = Find(callback);
        if (found == m_remoteNodes.end()) {
            return;
        }
        servant = found->second;
        m_remoteNodes.erase(found);
    }
    // Outside the lock: stopping waits for a delivery under way, which a slow client may drag
    // out, and no other client should wait for that.
    _End(servant);
}

void i_KavrelApplication_impl::_End(ireg::i_RemoteNode_impl* servant)
{
    ISTD_TRACE_FNC("static void iapp::i_KavrelApplication_impl::_End(ireg::i_RemoteNode_impl*)");
    try {
        servant->StopNotifications();
    } catch (const std::exception& e) {
        ISTD_TRACE(1, "Remote node " << servant->GetInstanceId() << ": stopping notifications failed: " << e.what());
    } catch (...) {
        ISTD_TRACE(1, "Remote node " << servant->GetInstanceId() << ": stopping notifications failed.");
    }
    try {
        inet::OM().Deactivate(servant);
    } catch (const std::exception& e) {
        ISTD_TRACE(1, "Remote node " << servant->GetInstanceId() << ": deactivation failed: " << e.what());
    } catch (...) {
        ISTD_TRACE(1, "Remote node " << servant->GetInstanceId() << ": deactivation failed.");
    }
    servant->_remove_ref();
}

} // namespace iapp
