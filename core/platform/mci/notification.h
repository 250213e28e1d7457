#ifndef MCI_NOTIFICATION_H
#define MCI_NOTIFICATION_H

// Change notifications and the clients that receive them.

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <memory_resource>
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

// The bytes a queued notification is counted with: the structure, the node handle's path and
// the value (the elements of a vector, the characters of strings).
MCI_API size_t NotificationSize(const NotificationData& data);

// A subscriber. The dispatcher's thread puts each notification for it into the client's own
// queue, and one sender thread of the dispatcher at a time runs the callback for the queued
// notifications in order. So a slow or stalled callback holds up its own client only, and the
// client receives what its nodes emitted in the order they emitted it.
// Shutdown() and MarkBroken() end the deliveries and drop the queue; the destructor unsubscribes
// what is left. A client whose queue reaches the dispatcher's bounds (DeliveryLimits) is marked
// broken, with a warning in the log, and unsubscribed: it is never sent a thinned sequence, and
// receives nothing more until its owner subscribes again with a new client.
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

    // Once it returns no callback of this client runs, except when it is called from the
    // client's own callback, where it cannot wait. (Called from another client's callback it
    // waits like any caller: two callbacks that shut each other's clients down wait for each
    // other.) Drops what is queued and unsubscribes every node the client registered. A second
    // call does nothing.
    void Shutdown();
    // Stops the deliveries without waiting for one under way and drops what is queued; used
    // when the receiver is gone. The next sender that takes the client up unsubscribes it.
    void MarkBroken();

    bool IsShutdown() const { return m_shutdown.load(); }
    bool IsBroken() const { return m_broken.load(); }
    // Notifications queued for the client and not yet taken for delivery.
    size_t GetPendingCount() const;

private:
    friend class Dispatcher;

    struct Queued {
        std::shared_ptr<const NotificationData> data;
        size_t bytes = 0;
    };
    // What the dispatcher's thread learns from handing a notification over.
    enum Enqueue_e {
        eEnqueued, // queued
        eRefused,  // shut down or broken: dropped
        eOverflow, // the queue reached a bound: the client is broken now, its queue dropped
    };

    // The memory the queues are made in: blocks reused across the threads that fill and empty
    // them, so that queueing allocates nothing once they circulate.
    static std::pmr::memory_resource* _QueueMemory();
    void _AttachToDispatcher();
    void _UnsubscribeAll();
    // Dispatcher's thread: queues the notifications in order, each unless the queue holds
    // maxCount or the bytes would pass maxBytes (one notification is taken whatever its size).
    // schedule is set when the client must be given to a sender (to deliver, or to unsubscribe a
    // broken client). On eOverflow, count and bytes tell what was pending.
    Enqueue_e _Enqueue(const std::vector<Queued>& items, size_t maxCount, size_t maxBytes, bool& schedule,
                       size_t& count, size_t& bytes);
    // A sender: delivers up to limit queued notifications in order, taking them from the queue
    // a few at a time into buffer (the sender's own, kept between calls), with busySince (steady
    // clock, ns) set while their callbacks run; stops early once stop is set. True when more are
    // pending: the client stays with the senders. False when the queue is empty or the client
    // ended (it then leaves them).
    bool _Serve(size_t limit, std::vector<Queued>& buffer, std::atomic<int64_t>& busySince,
                const std::atomic<bool>& stop);
    // Runs the callback for each, in order, while the client is neither shut down nor broken.
    void _Deliver(const std::vector<Queued>& items);
    // Empties the queue; the notifications are released after the queue lock.
    void _DropPending(bool unschedule);

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
    // The queue. m_scheduled is true while the client is on the senders' ready list or being
    // served, so that one sender at most serves it.
    mutable std::mutex m_queueMutex;
    std::pmr::deque<Queued> m_pending{_QueueMemory()};
    size_t m_pendingBytes = 0;
    bool m_scheduled = false;
    bool m_unsubscribedAfterBreak = false;
};

using NotificationClientPtr = std::shared_ptr<NotificationClient>;

} // namespace mci

#endif
