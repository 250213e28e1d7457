#ifndef IREG_I_REMOTE_NODE_IMPL_H
#define IREG_I_REMOTE_NODE_IMPL_H

// The CORBA servant of i_NET::RemoteNode: the registry for one remote client. Every operation
// names a node by its path of names below the registry root (the root's own name is not part
// of it; the empty path is the root), resolved again on every call.
//
// Use (the application servant, one per client callback object):
//
//     ireg::i_RemoteNode_impl::SetRootNode(mci::Node(root, mci::c_noRelPath));  // before the ORB serves
//     auto* node = new ireg::i_RemoteNode_impl(callback);   // connected: may subscribe
//     inet::OM().Activate(node);                            // the ORB owns it now
//     i_NET::RemoteNode_var ref = node->_this();
//     ...
//     node->Equals(otherCallback);                          // the same client?
//     node->StopNotifications();                            // when the client releases it
//     inet::OM().Deactivate(node);                          // the ORB deletes it when its requests end
//
// Failures the client sees:
//   a path that names no node (istd::Exception of the look-up)   i_NET::NotFound with its text
//   any other failure of the look-up                             CORBA::BAD_OPERATION (minor 0, COMPLETED_NO)
//   GetNameByIndex with index >= GetNodeCount                    i_NET::NotFound "ireg: Index out of range."
//   GetValue / SetValue                                          see ireg/corba_value.h
//
// Notifications: Subscribe registers the node with the servant's notification client; a sender
// of the dispatcher then calls the client's Notification::Emit synchronously with the path
// (below the root), the type, the value (inet::AnyToCorbaAny) and the position, in the order
// the nodes emitted them. The client has a queue of its own, so a slow or frozen client holds
// up nobody but itself. A failed Emit (the ORB's call time-out included) is traced at level 1
// and marks the client broken, as does a queue that reaches the dispatcher's bounds (with a
// warning in the log): it receives nothing more and its subscriptions are dropped, never a
// sequence with holes. A Subscribe after that starts afresh with a new notification client and
// answers true, also for a node the client had subscribed before: so a client that finds its
// renewed subscription accepted knows that it missed notifications. StopNotifications (also
// run by the destructor) ends the deliveries, waiting for one under way, and unsubscribes
// everything; Subscribe and Unsubscribe then answer false.
//
// Ownership: a servant holds a reference of its own on nothing but the callback object. The
// registry nodes may go at any time (their paths then fail); the root handle must stay set.
//
// For its creator, which must not keep the servants of clients that are gone: LastUse is when the
// client last called (a look-up of a path) or took a notification; a failed delivery calls the
// creator's onDeliveryFailed (on the dispatcher's thread, after the client was marked broken:
// it must not block) and DeliveryFailed stays true until the client subscribes again;
// ClientAnswers asks the callback object whether it still exists.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "inet/counted_servant.h"
#include "inet/i_net.hh"
#include "ireg/ireg_export.h"
#include "istd/id.h"
#include "mci/node.h"
#include "mci/notification.h"

namespace ireg {

class IREG_API i_RemoteNode_impl : public inet::CountedServant<POA_i_NET::RemoteNode> {
public:
    // Tag of the servants' instance-id counter (the first servant of the process gets 1).
    struct IdIRemoteNodeImpl {};
    using InstanceId = istd::Id<IdIRemoteNodeImpl>;

    // The root all paths are resolved against. Set it once, before the ORB serves requests: it
    // is read without a lock.
    static void SetRootNode(const mci::Node& root);
    static const mci::Node& GetRootNode();

    // Disconnected: no callback object, no notification client (Subscribe answers false).
    i_RemoteNode_impl();
    // Connected: keeps a duplicate of the callback reference (the caller keeps its own) and
    // makes the notification client. A nil callback gives a disconnected servant.
    explicit i_RemoteNode_impl(i_NET::_objref_Notification* callback, std::function<void()> onDeliveryFailed = {});
    // Stops the notifications (waiting for a delivery under way), then releases the callback.
    ~i_RemoteNode_impl() override;

    i_RemoteNode_impl(const i_RemoteNode_impl&) = delete;
    i_RemoteNode_impl& operator=(const i_RemoteNode_impl&) = delete;

    // True when `other` designates the servant's callback object (nil allowed: false).
    bool Equals(i_NET::_objref_Notification* other) const;
    // The node the path names; throws as the table above says.
    mci::Node FindNode(const i_NET::NodeNames& path) const;
    // Runs the command node the path names (mci::Node::Execute).
    bool Execute(const i_NET::NodeNames& path) const;
    // Sends one notification to the client; the notification client's callback.
    void NotificationCallback(const mci::NotificationData& data);

    uint64_t GetInstanceId() const { return m_instanceId.Value(); }
    // True until StopNotifications (never for a servant made without a callback object).
    bool IsConnected() const;
    // True once a delivery to the client failed or its queue overflowed, until it subscribes
    // again.
    bool IsBroken() const;
    // True once a call of the client's Emit failed (or timed out), until it subscribes again.
    bool DeliveryFailed() const { return m_broken.load(); }

    using Clock = std::chrono::steady_clock;
    Clock::time_point LastUse() const { return Clock::time_point(Clock::duration(m_lastUse.load())); }
    void Touch() const { m_lastUse.store(Clock::now().time_since_epoch().count()); }
    // Whether the callback object still exists: false when its _non_existent says so or fails (the
    // client's process is gone, or does not answer within the calling thread's call time-out).
    // A remote call: never make it under a lock that others wait for.
    bool ClientAnswers() const;

    // i_NET::RemoteNode
    char* GetName(const i_NET::NodePath& path) override;
    char* GetNameByIndex(const i_NET::NodePath& path, CORBA::ULong index) override;
    i_NET::NodeNames* GetNodes(const i_NET::NodePath& path) override;
    CORBA::ULong GetNodeCount(const i_NET::NodePath& path) override;
    CORBA::Boolean IsLeaf(const i_NET::NodePath& path) override;
    CORBA::ULong GetSize(const i_NET::NodePath& path) override;
    CORBA::Long GetValueType(const i_NET::NodePath& path) override;
    CORBA::Any* GetValue(const i_NET::NodePath& path, CORBA::ULong pos, CORBA::ULong count,
                         CORBA::TypeCode_ptr type) override;
    void SetValue(const i_NET::NodePath& path, const CORBA::Any& value, CORBA::ULong pos) override;
    // The out sequence is always set (empty when the node gave none).
    CORBA::Boolean GetDomainValues(const i_NET::NodePath& path, i_NET::StringVec_out values) override;
    // The out string is always set ("" when the result is false).
    CORBA::Boolean GetValidatorExpression(const i_NET::NodePath& path, CORBA::String_out expression) override;
    CORBA::ULongLong GetFlags(const i_NET::NodePath& path) override;
    CORBA::Boolean Subscribe(const i_NET::NodePath& path) override;
    CORBA::Boolean Unsubscribe(const i_NET::NodePath& path) override;
    void StopNotifications() override;
    // A nil reference for a node that is no signal node.
    i_NET::RemoteSignal_ptr GetRemoteSignal(const i_NET::NodePath& path) override;

private:
    // A new notification client in place of the current one (under m_mutex).
    void _NewNotificationClient();

    static mci::Node m_root;

    mci::NotificationClientPtr m_notificationClient;
    i_NET::Notification_var m_callback;
    mutable std::mutex m_mutex; // m_notificationClient
    const InstanceId m_instanceId;
    std::atomic<bool> m_broken{false};
    const std::function<void()> m_onDeliveryFailed;
    mutable std::atomic<Clock::rep> m_lastUse{Clock::now().time_since_epoch().count()};
};

} // namespace ireg

ISTD_DECLARE_ID_COUNTER(ireg::i_RemoteNode_impl::IdIRemoteNodeImpl)

#endif
