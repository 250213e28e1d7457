#include "iapp/i_kavrel_application_impl.h"

#include <omniORB4/omniORB.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <limits>
#include <string>
#include <utility>

#include "inet/orb_manager.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/log_limit.h"
#include "istd/outside_text.h"
#include "istd/trace.h"

namespace iapp {

namespace {

// Clients asked at once in one round.
constexpr size_t c_askingThreads = 8;

// The variable's value as a whole number from 1 to max, else value unchanged (with a warning
// when the variable is set).
template <class T>
void FromEnvironment(const char* variable, T max, T& value)
{
    const char* text = std::getenv(variable);
    if (text == nullptr) {
        return;
    }
    T number = 0;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, number);
    if (error != std::errc() || stop != end || number < 1 || number > max) {
        istd::LogWarning(std::string("Invalid value of ") + variable + ": " + istd::OutsideText(text) +
                         " (a whole number from 1 to " + std::to_string(max) + "); it stays " + std::to_string(value));
        return;
    }
    value = number;
}

} // namespace

RemoteNodeLimits RemoteNodeLimits::FromEnvironment()
{
    RemoteNodeLimits limits;
    iapp::FromEnvironment<size_t>("KAVREL_MAX_REMOTE_NODES", std::numeric_limits<uint32_t>::max(), limits.maxNodes);
    int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(limits.idlePeriod).count();
    // Up to about 100 years, which no clock addition overflows.
    iapp::FromEnvironment<int64_t>("KAVREL_REMOTE_NODE_IDLE_SECONDS", int64_t(3) << 30, seconds);
    limits.idlePeriod = std::chrono::seconds(seconds);
    return limits;
}

i_KavrelApplication_impl::i_KavrelApplication_impl() : i_KavrelApplication_impl(RemoteNodeLimits::FromEnvironment()) {}

i_KavrelApplication_impl::i_KavrelApplication_impl(const RemoteNodeLimits& limits) : m_limits(limits)
{
    ISTD_TRACE_FNC("iapp::i_KavrelApplication_impl::i_KavrelApplication_impl(const iapp::RemoteNodeLimits&)");
    ISTD_TRACE(2, "Remote nodes: at most " << m_limits.maxNodes << ", clients asked after "
                                           << m_limits.idlePeriod.count() << " ms without a sign of life");
    m_reaper = std::thread([this] { _Reap(); });
}

i_KavrelApplication_impl::~i_KavrelApplication_impl()
{
    ISTD_TRACE_FNC("iapp::i_KavrelApplication_impl::~i_KavrelApplication_impl()");
    {
        std::lock_guard<std::mutex> lock(m_reapMutex);
        m_stopReaping = true;
    }
    m_reapWake.notify_all();
    m_reaper.join();
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
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto found = Find(callback);
    if (found != m_remoteNodes.end()) {
        // A sign of life, which a reclaim under way sees before it ends the node.
        found->second->Touch();
        return found->second->_this();
    }
    if (m_remoteNodes.size() >= m_limits.maxNodes) {
        const size_t live = m_remoteNodes.size();
        lock.unlock();
        istd::LogWarningLimited("iapp: GetRemoteNode refused",
                                "iapp: GetRemoteNode refused: " + std::to_string(live) +
                                    " remote nodes are live, as many as allowed");
        throw CORBA::NO_RESOURCES(0, CORBA::COMPLETED_NO);
    }
    // The creation reference becomes the table's; Activate takes one of its own.
    auto* servant = new ireg::i_RemoteNode_impl(callback, [this] { _WakeReaper(); });
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

size_t i_KavrelApplication_impl::RemoteNodeCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_remoteNodes.size();
}

void i_KavrelApplication_impl::_WakeReaper()
{
    {
        std::lock_guard<std::mutex> lock(m_reapMutex);
        m_sweepNow = true;
    }
    m_reapWake.notify_all();
}

void i_KavrelApplication_impl::_Reap()
{
    // A quarter of the idle period between rounds: a client gone is asked within 1.25 periods.
    const auto interval = std::max<std::chrono::milliseconds>(m_limits.idlePeriod / 4, std::chrono::milliseconds(10));
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_reapMutex);
            m_reapWake.wait_for(lock, interval, [this] { return m_stopReaping || m_sweepNow; });
            if (m_stopReaping) {
                return;
            }
            m_sweepNow = false;
        }
        try {
            _Sweep();
        } catch (const std::exception& e) {
            ISTD_TRACE(1, "iapp: ending the remote nodes of clients that are gone failed: " << e.what());
        }
    }
}

void i_KavrelApplication_impl::_Sweep()
{
    ISTD_TRACE_FNC("void iapp::i_KavrelApplication_impl::_Sweep()");
    const auto now = ireg::i_RemoteNode_impl::Clock::now();
    std::vector<ireg::i_RemoteNode_impl*> failed;
    std::vector<Candidate> idle;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_remoteNodes.begin(); it != m_remoteNodes.end();) {
            ireg::i_RemoteNode_impl* servant = it->second;
            if (servant->DeliveryFailed()) {
                failed.push_back(servant); // the table's reference goes with it
                it = m_remoteNodes.erase(it);
                continue;
            }
            if (now - servant->LastUse() >= m_limits.idlePeriod) {
                servant->_add_ref();
                idle.push_back({it->first, servant, true});
            }
            ++it;
        }
    }
    for (ireg::i_RemoteNode_impl* servant : failed) {
        istd::LogInfoLimited("iapp: remote node released", "iapp: remote node " + std::to_string(servant->GetInstanceId()) +
                                                               " released: its client did not take a notification");
        _End(servant);
    }
    if (idle.empty()) {
        return;
    }

    _AskClients(idle);
    std::vector<ireg::i_RemoteNode_impl*> gone;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Candidate& candidate : idle) {
            // A client that called while it was asked (or had its node handed out again) is there.
            if (!candidate.answers && candidate.servant->LastUse() < now && _Remove(candidate.hash, candidate.servant)) {
                gone.push_back(candidate.servant);
            }
        }
    }
    for (ireg::i_RemoteNode_impl* servant : gone) {
        istd::LogInfoLimited("iapp: remote node released", "iapp: remote node " + std::to_string(servant->GetInstanceId()) +
                                                               " released: its client is gone");
        _End(servant);
    }
    for (const Candidate& candidate : idle) {
        if (candidate.answers) {
            candidate.servant->Touch();
        }
        candidate.servant->_remove_ref();
    }
}

void i_KavrelApplication_impl::_AskClients(std::vector<Candidate>& candidates) const
{
    std::atomic<size_t> next{0};
    const auto ask = [&] {
        // Each thread has its own call time-out, which only a thread the ORB knows can have.
        omni_thread::create_dummy();
        omniORB::setClientThreadCallTimeout(static_cast<CORBA::ULong>(m_limits.answerTimeOut.count()));
        for (size_t i = next++; i < candidates.size(); i = next++) {
            candidates[i].answers = candidates[i].servant->ClientAnswers();
        }
        omni_thread::release_dummy();
    };
    std::vector<std::thread> threads;
    const size_t count = std::min(c_askingThreads, candidates.size());
    try {
        for (size_t t = 0; t < count; ++t) {
            threads.emplace_back(ask);
        }
    } catch (const std::system_error& e) {
        // Fewer threads, or none: the clients not asked count as answering.
        ISTD_TRACE(1, "iapp: no thread to ask clients: " << e.what());
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

bool i_KavrelApplication_impl::_Remove(uint32_t hash, const ireg::i_RemoteNode_impl* servant)
{
    const auto range = m_remoteNodes.equal_range(hash);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == servant) {
            m_remoteNodes.erase(it);
            return true;
        }
    }
    return false;
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
