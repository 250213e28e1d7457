#include "iapp/kavrel_health_monitor.h"

#include <exception>
#include <utility>

#include "iapp/identification_block.h"
#include "iapp/open_stream_client.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_reference_node.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/node.h"
#include "mci/tree_node.h"

namespace iapp {

namespace {

constexpr mci::Flags c_enabledFlags = 14;
// Only the monitor thread writes the measured values: clients read them.
constexpr mci::Flags c_measuredFlags = 2;
constexpr int c_stateConfiguring = 3;
constexpr int c_stateShuttingDown = 5;

} // namespace

KavrelHealthMonitor::KavrelHealthMonitor(KavrelObject& parent, const std::string& name,
                                         isig::KavrelHealthStream* stream, uint32_t healthMask,
                                         std::function<void(uint64_t)> callback, IdentificationBlock* idBlock,
                                         bool enabled)
    : KavrelFeature(parent, name),
      m_stream(stream),
      m_healthMask(healthMask),
      m_callback(std::move(callback)),
      m_idBlock(idBlock),
      m_enabled(enabled)
{
    ISTD_TRACE_FNC("iapp::KavrelHealthMonitor::KavrelHealthMonitor(iapp::KavrelObject&, const std::string&, "
                   "isig::KavrelHealthStream*, uint32_t, std::function<void(uint64_t)>, IdentificationBlock*, bool)");
}

KavrelHealthMonitor::~KavrelHealthMonitor()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " KavrelHealthMonitor");
    std::lock_guard<std::mutex> lock(m_controlMutex);
    if (m_thread.joinable()) {
        _Stop();
    }
    m_enabledNode.reset();
    m_statusNode.reset();
    m_counterNode.reset();
}

void KavrelHealthMonitor::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("virtual void iapp::KavrelHealthMonitor::OnRegistryAdd(mci::TreeNodePtr&)");
    m_enabledNode = mci::factory::Create<ireg::RegFncNode<bool>>("enabled", this, &KavrelHealthMonitor::_SetEnabled,
                                                                 &KavrelHealthMonitor::_GetEnabled, c_enabledFlags);
    node->Add(m_enabledNode);
    m_counterNode = mci::factory::Create<ireg::RegReferenceNode<uint64_t>>("counter", m_counter, c_measuredFlags);
    node->Add(m_counterNode);
    m_statusNode = mci::factory::Create<ireg::RegReferenceNode<uint64_t>>("status", m_status, c_measuredFlags);
    node->Add(m_statusNode);
}

void KavrelHealthMonitor::SetEnabled(bool enabled)
{
    ISTD_TRACE_FNC("void iapp::KavrelHealthMonitor::SetEnabled(bool)");
    if (!m_enabledNode) {
        _SetEnabled(enabled);
        return;
    }
    try {
        m_enabledNode->Set(enabled, 0, mci::c_noRelPath);
    } catch (const std::exception& e) {
        ISTD_TRACE(1, GetName() << ": enabled: " << e.what());
    }
}

bool KavrelHealthMonitor::_SetEnabled(const bool& value)
{
    ISTD_TRACE_FNC("bool iapp::KavrelHealthMonitor::_SetEnabled(const bool&)");
    if (GetApplicationState() < c_stateConfiguring) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_controlMutex);
    if (value == m_enabled.load()) {
        return true;
    }
    if (value) {
        _Start();
    } else {
        _Stop();
    }
    m_enabled = value;
    return true;
}

bool KavrelHealthMonitor::_GetEnabled(bool& value) const
{
    value = m_enabled.load();
    return true;
}

void KavrelHealthMonitor::_Start()
{
    if (m_thread.joinable()) {
        m_thread.join(); // it ended by itself
    }
    {
        std::lock_guard<std::mutex> stop(m_stopMutex);
        m_stopRequested = false;
    }
    m_thread = std::thread(&KavrelHealthMonitor::MonitorFunction, this);
}

void KavrelHealthMonitor::_Stop()
{
    {
        std::lock_guard<std::mutex> stop(m_stopMutex);
        m_stopRequested = true;
    }
    // Ends a blocked read; a thread that has not opened yet finds the request after its open.
    if (isig::KavrelHealthStream* stream = m_stream.load()) {
        stream->Cancel(std::string(c_clientName));
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void KavrelHealthMonitor::OnStartRunning()
{
    ISTD_TRACE_FNC("virtual void iapp::KavrelHealthMonitor::OnStartRunning()");
    SetEnabled(m_enabled.load());
    std::lock_guard<std::mutex> lock(m_controlMutex);
    if (m_enabled.load() && !m_thread.joinable()) {
        _Start();
    }
}

void KavrelHealthMonitor::OnShutdown()
{
    ISTD_TRACE_FNC("virtual void iapp::KavrelHealthMonitor::OnShutdown()");
    const bool enabled = m_enabled.load();
    SetEnabled(false);
    m_enabled = enabled;
}

void KavrelHealthMonitor::_Store(const mci::TreeNodePtr& node, uint64_t& field, uint64_t value)
{
    if (node) {
        auto lock = node->Lock();
        field = value;
    } else {
        field = value;
    }
}

void KavrelHealthMonitor::_SetMask(uint32_t mask)
{
    if (m_idBlock != nullptr) {
        m_idBlock->SetHealthMask(mask);
    }
}

void KavrelHealthMonitor::MonitorFunction()
{
    ISTD_TRACE_FNC("void iapp::KavrelHealthMonitor::MonitorFunction()");
    isig::StreamClient<isig::HealthTraits> client(m_stream.load(), c_clientName, c_queueLength);
    isig::SuccessCode_e code = OpenStreamClient(client);
    if (code != isig::eSuccess) {
        client.Close();
        return;
    }
    bool stopped = false;
    {
        std::lock_guard<std::mutex> stop(m_stopMutex);
        stopped = m_stopRequested;
    }
    if (!stopped) {
        try {
            _SetMask(m_healthMask);
            for (;;) {
                isig::HealthStruct atom{};
                code = client.Read(atom);
                if (code != isig::eSuccess) {
                    break;
                }
                _Store(m_counterNode, m_counter, atom.counter);
                _Store(m_statusNode, m_status, atom.status);
                if (m_counterNode) {
                    m_counterNode->Emit();
                }
                if (m_statusNode) {
                    m_statusNode->Emit();
                }
                if (m_callback) {
                    try {
                        m_callback(atom.status);
                    } catch (const std::exception& e) {
                        ISTD_TRACE(1, GetName() << ": the health callback failed: " << e.what());
                    }
                }
                _SetMask(m_healthMask);
            }
        } catch (const std::exception& e) {
            ISTD_TRACE(1, client.GetName() << ": " << e.what());
            code = isig::eFailure;
        }
    }
    ISTD_TRACE(1, client.GetName()
                      << ": the health stream or monitor service has been closed/canceled from outside world.");
    // A stream that is shut down is about to go (and never takes a client again): no later
    // disable may reach it.
    if (GetApplicationState() == c_stateShuttingDown || code == isig::eTerminated) {
        m_stream.store(nullptr);
    }
    try {
        _SetMask(0);
    } catch (const std::exception& e) {
        ISTD_TRACE(1, GetName() << ": can't clear the health mask: " << e.what());
    }
    client.Close();
}

} // namespace iapp
