#include "ireg/signal_node.h"

#include <vector>

#include "inet/orb_manager.h"
#include "ireg/reg_enum_node.h"
#include "ireg/reg_value_node.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/trace.h"
#include "mci/factory.h"

namespace ireg {

namespace detail {

namespace {

// Runs one step of the servant's release; a failure is traced and goes no further.
void ReleaseStep(const std::string& nodeName, const std::function<void()>& step)
{
    try {
        step();
    } catch (const std::exception& e) {
        ISTD_TRACE(1, "Signal node " << nodeName << ": deactivate error: " << e.what());
    } catch (const CORBA::Exception& e) {
        ISTD_TRACE(1, "Signal node " << nodeName << ": deactivate error: " << inet::ExceptionText(e));
    } catch (...) {
        ISTD_TRACE(1, "Signal node " << nodeName << ": unknown deactivate error.");
    }
}

} // namespace

void StopRemoteSignal(const std::string& nodeName, PortableServer::ServantBase* servant,
                      const std::function<void()>& shutDown)
{
    ISTD_TRACE_FNC("void ireg::detail::StopRemoteSignal(const std::string&, PortableServer::ServantBase*, const std::function<void()>&)");
    ReleaseStep(nodeName, shutDown);
    // Also after a failed shut-down: a servant left active would serve requests for a source
    // that may be gone.
    ReleaseStep(nodeName, [servant] { inet::OM().Deactivate(servant); });
}

} // namespace detail

SignalNode::SignalNode(const std::string& name, isig::SignalSource* source, mci::Flags flags)
    : RegNode(name, flags | c_signalFlags), m_source(source)
{
}

SignalNode::~SignalNode()
{
    ISTD_TRACE_FNC("ireg::SignalNode::~SignalNode()");
    if (m_servant == nullptr) {
        return;
    }
    isig::i_RemoteSignal_impl* servant = m_servant;
    detail::StopRemoteSignal(GetName(), servant, [servant] { servant->ShutDown(); });
    // The node's own reference: the servant goes when the ORB has let it go too.
    static_cast<PortableServer::ServantBase*>(servant)->_remove_ref();
}

bool SignalNode::Init()
{
    ISTD_TRACE_FNC("bool ireg::SignalNode::Init()");
    if (!RegNode::Init()) {
        return false;
    }
    if (m_source == nullptr) {
        istd::LogWarning("Failed to add child nodes for signal node: " + GetName());
        return false;
    }
    try {
        Add(mci::factory::Create<RegValueEnumNode<isig::AccessType_e>>(mci::c_accessType, m_source->AccessType(),
                                                                       c_childFlags));
        Add(mci::factory::Create<RegValueNode<uint32_t>>(mci::c_atomSize, uint32_t(m_source->AtomSize()),
                                                         c_childFlags));
        Add(mci::factory::Create<RegValueNode<uint32_t>>(mci::c_groupSize, uint32_t(m_source->GroupSize()),
                                                         c_childFlags));
        Add(mci::factory::Create<RegValueNode<std::string>>(mci::c_compNames, m_source->GetComponentNames(),
                                                            c_childFlags));
        Add(mci::factory::Create<RegValueNode<uint32_t>>(mci::c_compNum, uint32_t(m_source->Length()),
                                                         c_childFlags));
        Add(mci::factory::Create<RegValueEnumNode<isig::AtomType_e>>(mci::c_compType, m_source->BaseEnumType(),
                                                                     c_childFlags));
    } catch (const istd::Exception&) {
        istd::LogWarning("Failed to add child nodes for signal node: " + GetName());
        return false;
    }
    return true;
}

i_NET::RemoteSignal_ptr SignalNode::GetRemoteSignalRef()
{
    ISTD_TRACE_FNC("i_NET::RemoteSignal_ptr ireg::SignalNode::GetRemoteSignalRef()");
    std::lock_guard<std::mutex> lock(m_servantMutex);
    if (m_servant == nullptr) {
        auto* servant = new isig::i_RemoteSignal_impl(m_source);
        PortableServer::ServantBase* base = servant;
        base->_add_ref(); // the node's own, beside the one Activate hands to the ORB
        try {
            inet::OM().Activate(base);
        } catch (...) {
            // Not activated: both references are still ours.
            base->_remove_ref();
            base->_remove_ref();
            throw;
        }
        m_servant = servant;
    }
    return m_servant->_this();
}

} // namespace ireg
