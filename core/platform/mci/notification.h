#ifndef MCI_NOTIFICATION_H
#define MCI_NOTIFICATION_H

// Change notifications and the clients that receive them.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "istd/any.h"
#include "mci/mci_export.h"
#include "mci/node.h"

namespace mci {

// One notification: the emitting node, the kind, the value (a T or a std::vector of T) and the
// position of the value's first element.
struct MCI_API NotificationData {
    NotificationData() = default;
    NotificationData(const Node& node, enums::NotificationType_e type, const istd::Any& value, size_t position)
        : node(node), type(type), value(value), position(position)
    {
    }

    Node node;
    enums::NotificationType_e type = enums::eValueChanged;
    istd::Any value;
    size_t position = 0;
};

// What a client runs for each notification.
class MCI_API Callback {
public:
    using Function = std::function<void(const NotificationData&)>;

    Callback(const CallbackId& id, Function function);

    const CallbackId& GetId() const { return m_id; }
    void operator()(const NotificationData& data) const;

private:
    CallbackId m_id;
    Function m_function;
};

// A subscriber. The dispatcher delivers to it on its own thread, one notification at a time.
// Shutdown() and MarkBroken() end the deliveries; the destructor unsubscribes what is left.
class MCI_API NotificationClient : public std::enable_shared_from_this<NotificationClient> {
public:
    static std::shared_ptr<NotificationClient> Create(const Callback& callback);

    // Prefer Create(); a client made otherwise must be held by a std::shared_ptr before it
    // registers a node.
    explicit NotificationClient(const Callback& callback);
    NotificationClient(const NotificationClient&) = delete;
    NotificationClient& operator=(const NotificationClient&) = delete;
    ~NotificationClient();

    const ClientId& GetId() const { return m_id; }

    // Subscribes the client to the node the handle names; false when the node refused or the
    // client is shut down or broken.
    bool Register(const Node& node);
    // Unsubscribes it; false when it was not subscribed.
    bool Unregister(const Node& node);

    // Once it returns no callback of this client runs, except when it is called on the
    // dispatcher's thread (from a callback), where it cannot wait. Then unsubscribes every node
    // the client registered. A second call does nothing.
    void Shutdown();
    // Stops the deliveries without waiting for one under way; used when the receiver is gone.
    void MarkBroken();

    bool IsShutdown() const { return m_shutdown.load(); }
    bool IsBroken() const { return m_broken.load(); }

    // Runs the callback unless the client is shut down or broken. Called by the dispatcher.
    void _Deliver(const NotificationData& data);

private:
    void _AttachToDispatcher();
    void _UnsubscribeAll();

    const ClientId m_id;
    const Callback m_callback;
    std::atomic<bool> m_shutdown{false};
    std::atomic<bool> m_broken{false};
    bool m_attached = false;
    // Held while the callback runs; Shutdown() takes it to wait for a delivery under way.
    std::mutex m_deliveryMutex;
    // Guards m_nodes and m_attached.
    std::mutex m_mutex;
    std::vector<std::weak_ptr<TreeNode>> m_nodes;
};

using NotificationClientPtr = std::shared_ptr<NotificationClient>;

} // namespace mci

#endif
