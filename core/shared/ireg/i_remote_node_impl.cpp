#include "ireg/i_remote_node_impl.h"

#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "inet/corba_any.h"
#include "inet/orb_manager.h"
#include "inet/remote_path.h"
#include "ireg/corba_value.h"
#include "ireg/signal_node.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/log_limit.h"
#include "istd/outside_text.h"
#include "istd/trace.h"

ISTD_DEFINE_ID_COUNTER(ireg::i_RemoteNode_impl::IdIRemoteNodeImpl)

namespace ireg {

namespace {

std::string RemotePathText(const i_NET::NodePath& path)
{
    std::string text;
    for (CORBA::ULong i = 0; i < path.length(); ++i) {
        text += '/';
        text += path[i].in();
    }
    return text.empty() ? "/" : text;
}

// A refused remote call is named in the log (the call, the node and the reason) before the
// client hears of it unchanged, so that whoever runs the application sees what clients tried.
// The path is the client's text, and so is much of the reason (a look-up names the path, a
// refused value is quoted): both are escaped and cut, and the lines of each call are limited,
// so that a client can neither forge log lines nor fill the disk.
void LogRefusal(const char* call, const i_NET::NodePath& path, const char* reason)
{
    const std::string kind = std::string("ireg: remote ") + call + " refused";
    istd::LogWarningLimited(kind, std::string("ireg: remote ") + call + " of " + istd::OutsideText(RemotePathText(path)) +
                                      " refused: " + istd::OutsideText(reason));
}

template <class FNC>
auto LoggingRefusals(const char* call, const i_NET::NodePath& path, FNC&& fnc) -> decltype(fnc())
{
    try {
        return fnc();
    } catch (const i_NET::NotFound& e) {
        LogRefusal(call, path, e.message.in());
        throw;
    } catch (const i_NET::InvalidType& e) {
        LogRefusal(call, path, e.message.in());
        throw;
    } catch (const i_NET::ValueException& e) {
        LogRefusal(call, path, e.message.in());
        throw;
    }
}

} // namespace

mci::Node i_RemoteNode_impl::m_root;

void i_RemoteNode_impl::SetRootNode(const mci::Node& root)
{
    ISTD_TRACE_FNC("static void ireg::i_RemoteNode_impl::SetRootNode(const mci::Node&)");
    m_root = root;
}

const mci::Node& i_RemoteNode_impl::GetRootNode()
{
    return m_root;
}

i_RemoteNode_impl::i_RemoteNode_impl() = default;

i_RemoteNode_impl::i_RemoteNode_impl(i_NET::_objref_Notification* callback, std::function<void()> onDeliveryFailed)
    : m_onDeliveryFailed(std::move(onDeliveryFailed))
{
    ISTD_TRACE_FNC("ireg::i_RemoteNode_impl::i_RemoteNode_impl(i_NET::_objref_Notification*, std::function<void()>)");
    if (CORBA::is_nil(callback)) {
        ISTD_TRACE(2, "ireg: remote node " << GetInstanceId() << " made without a callback object");
        return;
    }
    m_callback = i_NET::Notification::_duplicate(callback);
    _NewNotificationClient();
}

void i_RemoteNode_impl::_NewNotificationClient()
{
    // The client refers to this servant without owning it: StopNotifications, which the
    // destructor runs too, ends its deliveries before the servant goes.
    const mci::Callback notify(mci::CallbackId(),
                               [this](const mci::NotificationData& data) { NotificationCallback(data); });
    m_notificationClient = mci::NotificationClient::Create(notify);
    m_broken = false;
}

i_RemoteNode_impl::~i_RemoteNode_impl()
{
    ISTD_TRACE_FNC("ireg::i_RemoteNode_impl::~i_RemoteNode_impl()");
    StopNotifications();
}

bool i_RemoteNode_impl::Equals(i_NET::_objref_Notification* other) const
{
    if (CORBA::is_nil(m_callback.in()) || CORBA::is_nil(other)) {
        return false;
    }
    return m_callback->_is_equivalent(other);
}

bool i_RemoteNode_impl::ClientAnswers() const
{
    ISTD_TRACE_FNC("bool ireg::i_RemoteNode_impl::ClientAnswers() const");
    if (CORBA::is_nil(m_callback.in())) {
        return false;
    }
    try {
        return !m_callback->_non_existent();
    } catch (const CORBA::Exception& e) {
        ISTD_TRACE(2, "ireg: remote node " << GetInstanceId() << ": the client does not answer: " << inet::ExceptionText(e));
    }
    return false;
}

mci::Node i_RemoteNode_impl::FindNode(const i_NET::NodeNames& path) const
{
    Touch();
    try {
        return m_root.GetNode(mci::RemoteNodeNamesToPath(path));
    } catch (const istd::Exception& e) {
        LogRefusal("look-up", path, e.what());
        throw i_NET::NotFound(e.what());
    } catch (...) {
        ISTD_TRACE(1, "ireg: remote node " << GetInstanceId() << ": path look-up failed");
        throw CORBA::BAD_OPERATION(0, CORBA::COMPLETED_NO);
    }
}

bool i_RemoteNode_impl::Execute(const i_NET::NodeNames& path) const
{
    ISTD_TRACE_FNC("bool ireg::i_RemoteNode_impl::Execute(const i_NET::NodeNames&) const");
    return FindNode(path).Execute();
}

bool i_RemoteNode_impl::IsConnected() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_notificationClient != nullptr;
}

bool i_RemoteNode_impl::IsBroken() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_broken.load() || (m_notificationClient && m_notificationClient->IsBroken());
}

void i_RemoteNode_impl::NotificationCallback(const mci::NotificationData& data)
{
    ISTD_TRACE_FNC("void ireg::i_RemoteNode_impl::NotificationCallback(const mci::NotificationData&)");
    i_NET::NotificationData out;
    mci::Path path = data.node.GetFullPath(false);
    if (!path.empty()) {
        path.erase(path.begin()); // the root's own name
    }
    out.path = mci::PathToRemoteNodeNames(path);
    out.type = static_cast<CORBA::Long>(data.type);
    inet::AnyToCorbaAny(data.value, out.value);
    out.position = static_cast<CORBA::ULong>(data.position);
    try {
        m_callback->Emit(out);
        Touch();
        return;
    } catch (const CORBA::Exception& e) {
        ISTD_TRACE(1, "Unable to send notifications remotely: " << inet::ExceptionText(e));
    } catch (...) {
        ISTD_TRACE(1, "Unable to send notifications remotely.");
    }
    m_broken = true;
    // Only a delivery calls this, and StopNotifications and Subscribe replace the client only
    // after its Shutdown waited for the delivery under way: the pointer is not changed under us.
    if (m_notificationClient) {
        m_notificationClient->MarkBroken();
    }
    if (m_onDeliveryFailed) {
        m_onDeliveryFailed();
    }
}

char* i_RemoteNode_impl::GetName(const i_NET::NodePath& path)
{
    ISTD_TRACE_FNC("char* ireg::i_RemoteNode_impl::GetName(const i_NET::NodePath&)");
    return CORBA::string_dup(FindNode(path).GetName().c_str());
}

char* i_RemoteNode_impl::GetNameByIndex(const i_NET::NodePath& path, CORBA::ULong index)
{
    ISTD_TRACE_FNC("char* ireg::i_RemoteNode_impl::GetNameByIndex(const i_NET::NodePath&, CORBA::ULong)");
    const mci::Node node = FindNode(path);
    if (index >= node.GetNodeCount()) {
        LogRefusal("GetNameByIndex", path, "ireg: Index out of range.");
        throw i_NET::NotFound("ireg: Index out of range.");
    }
    return CORBA::string_dup(node.GetNode(static_cast<unsigned>(index)).GetName().c_str());
}

i_NET::NodeNames* i_RemoteNode_impl::GetNodes(const i_NET::NodePath& path)
{
    ISTD_TRACE_FNC("i_NET::NodeNames* ireg::i_RemoteNode_impl::GetNodes(const i_NET::NodePath&)");
    const std::vector<mci::Node> children = FindNode(path).GetNodes();
    auto names = std::make_unique<i_NET::NodeNames>();
    names->length(static_cast<CORBA::ULong>(children.size()));
    for (size_t i = 0; i < children.size(); ++i) {
        (*names)[static_cast<CORBA::ULong>(i)] = children[i].GetName().c_str();
    }
    return names.release();
}

CORBA::ULong i_RemoteNode_impl::GetNodeCount(const i_NET::NodePath& path)
{
    ISTD_TRACE_FNC("CORBA::ULong ireg::i_RemoteNode_impl::GetNodeCount(const i_NET::NodePath&)");
    return static_cast<CORBA::ULong>(FindNode(path).GetNodeCount());
}

CORBA::Boolean i_RemoteNode_impl::IsLeaf(const i_NET::NodePath& path)
{
    ISTD_TRACE_FNC("CORBA::Boolean ireg::i_RemoteNode_impl::IsLeaf(const i_NET::NodePath&)");
    return FindNode(path).IsLeaf();
}

CORBA::ULong i_RemoteNode_impl::GetSize(const i_NET::NodePath& path)
{
    ISTD_TRACE_FNC("CORBA::ULong ireg::i_RemoteNode_impl::GetSize(const i_NET::NodePath&)");
    return static_cast<CORBA::ULong>(FindNode(path).GetSize());
}

CORBA::Long i_RemoteNode_impl::GetValueType(const i_NET::NodePath& path)
{
    ISTD_TRACE_FNC("CORBA::Long ireg::i_RemoteNode_impl::GetValueType(const i_NET::NodePath&)");
    return static_cast<CORBA::Long>(FindNode(path).GetValueType());
}

CORBA::Any* i_RemoteNode_impl::GetValue(const i_NET::NodePath& path, CORBA::ULong pos, CORBA::ULong count,
                                        CORBA::TypeCode_ptr type)
{
    ISTD_TRACE_FNC("CORBA::Any* ireg::i_RemoteNode_impl::GetValue(const i_NET::NodePath&, CORBA::ULong, CORBA::ULong, CORBA::TypeCode_ptr)");
    const mci::Node node = FindNode(path);
    auto value = std::make_unique<CORBA::Any>();
    LoggingRefusals("GetValue", path, [&] {
        GetCorbaValue(node, pos, count, CORBA::is_nil(type) ? CORBA::tk_null : type->kind(), *value);
    });
    return value.release();
}

void i_RemoteNode_impl::SetValue(const i_NET::NodePath& path, const CORBA::Any& value, CORBA::ULong pos)
{
    ISTD_TRACE_FNC("void ireg::i_RemoteNode_impl::SetValue(const i_NET::NodePath&, const CORBA::Any&, CORBA::ULong)");
    const mci::Node node = FindNode(path);
    LoggingRefusals("SetValue", path, [&] { SetCorbaValue(node, value, pos); });
}

CORBA::Boolean i_RemoteNode_impl::GetDomainValues(const i_NET::NodePath& path, i_NET::StringVec_out values)
{
    ISTD_TRACE_FNC("CORBA::Boolean ireg::i_RemoteNode_impl::GetDomainValues(const i_NET::NodePath&, i_NET::StringVec_out)");
    // Set before anything can fail: the ORB cannot send an out sequence that was never set.
    values = new i_NET::StringVec;
    std::vector<std::string> domain;
    const bool result = FindNode(path).GetDomainValues(domain);
    values->length(static_cast<CORBA::ULong>(domain.size()));
    for (size_t i = 0; i < domain.size(); ++i) {
        (*values)[static_cast<CORBA::ULong>(i)] = domain[i].c_str();
    }
    return result;
}

CORBA::Boolean i_RemoteNode_impl::GetValidatorExpression(const i_NET::NodePath& path,
                                                         CORBA::String_out expression)
{
    ISTD_TRACE_FNC("CORBA::Boolean ireg::i_RemoteNode_impl::GetValidatorExpression(const i_NET::NodePath&, CORBA::String_out)");
    std::string text;
    const bool result = FindNode(path).GetValidatorExpression(text);
    // Set also for false: the ORB cannot send an out string that was never set.
    expression = CORBA::string_dup(result ? text.c_str() : "");
    return result;
}

CORBA::ULongLong i_RemoteNode_impl::GetFlags(const i_NET::NodePath& path)
{
    ISTD_TRACE_FNC("CORBA::ULongLong ireg::i_RemoteNode_impl::GetFlags(const i_NET::NodePath&)");
    return FindNode(path).GetFlags();
}

CORBA::Boolean i_RemoteNode_impl::Subscribe(const i_NET::NodePath& path)
{
    ISTD_TRACE_FNC("CORBA::Boolean ireg::i_RemoteNode_impl::Subscribe(const i_NET::NodePath&)");
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_notificationClient) {
        return false;
    }
    const mci::Node node = FindNode(path);
    if (m_notificationClient->IsBroken()) {
        // It was dropped (its calls failed, or it fell too far behind) with its subscriptions:
        // the client subscribes afresh. Shutdown waits for a delivery under way.
        ISTD_TRACE(1, "ireg: remote node " << GetInstanceId() << " subscribes again after its notifications broke");
        m_notificationClient->Shutdown();
        _NewNotificationClient();
    }
    return m_notificationClient->Register(node);
}

CORBA::Boolean i_RemoteNode_impl::Unsubscribe(const i_NET::NodePath& path)
{
    ISTD_TRACE_FNC("CORBA::Boolean ireg::i_RemoteNode_impl::Unsubscribe(const i_NET::NodePath&)");
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_notificationClient && m_notificationClient->Unregister(FindNode(path));
}

void i_RemoteNode_impl::StopNotifications()
{
    ISTD_TRACE_FNC("void ireg::i_RemoteNode_impl::StopNotifications()");
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_notificationClient) {
        return;
    }
    // Waits for a delivery under way, so that the client is not dropped under it.
    m_notificationClient->Shutdown();
    m_notificationClient.reset();
}

i_NET::RemoteSignal_ptr i_RemoteNode_impl::GetRemoteSignal(const i_NET::NodePath& path)
{
    ISTD_TRACE_FNC("i_NET::RemoteSignal_ptr ireg::i_RemoteNode_impl::GetRemoteSignal(const i_NET::NodePath&)");
    const auto signal = std::dynamic_pointer_cast<SignalNode>(FindNode(path).GetTreeNode());
    if (!signal) {
        LogRefusal("GetRemoteSignal", path, "the node is no signal");
        return i_NET::RemoteSignal::_nil();
    }
    return signal->GetRemoteSignalRef();
}

} // namespace ireg
