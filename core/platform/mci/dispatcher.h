#ifndef MCI_DISPATCHER_H
#define MCI_DISPATCHER_H

// The notification dispatcher: nodes hand notifications to it with their lock held, and one
// thread of its own delivers them later, in emission order and outside every node lock.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "mci/mci_export.h"
#include "mci/notification.h"

namespace mci {

class MCI_API Dispatcher {
public:
    // The process-wide dispatcher. It is made on first use and never freed, so nodes that are
    // released during static destruction can still unregister. Its thread starts with the
    // first notification, not before (the application forks to become a daemon after loading).
    static Dispatcher& GetInstance();

    // Record that the client is subscribed to the node; false for an empty handle.
    bool Register(const ClientId& client, const Node& node);
    // Forget it; false when it was not recorded.
    bool Unregister(const ClientId& client, const Node& node);
    // Forget a node that is being destroyed for all the clients given. Touches nothing of the
    // node itself; true when any record was dropped.
    bool Unregister(const TreeNodeId& node, const Path& path, const std::set<ClientId>& clients);

    // Copies the notification into the queue for the clients given. Never blocks on a client,
    // never calls back and takes no node lock, so nodes call it with their lock held. False when
    // the set is empty or the dispatcher has been stopped.
    bool Emit(const std::set<ClientId>& clients, const NotificationData& data);

    // Ends and joins the thread and drops what is still queued (its node handles would keep the
    // tree alive). Emit() answers false afterwards. Refused on the dispatcher's own thread.
    // Call it without a node lock held: it waits for the callback under way.
    void Stop();
    // Accepts notifications again after Stop() and starts the thread.
    void Start();

    bool IsDispatcherThread() const;
    // Notifications queued and not yet taken for delivery.
    size_t GetQueueSize() const;

    // Client bookkeeping, used by NotificationClient.
    void _AddClient(const ClientId& client, const std::weak_ptr<NotificationClient>& object);
    void _RemoveClient(const ClientId& client);

private:
    Dispatcher();
    ~Dispatcher() = default;

    struct Item {
        std::vector<ClientId> clients;
        NotificationData data;
    };
    struct ClientEntry {
        std::weak_ptr<NotificationClient> object;
        std::set<uint64_t> nodes;
    };
    enum State_e { eIdle, eRunning, eStopped };

    void _StartLocked();
    void _Run();
    void _Deliver(const Item& item);

    // Queue and thread state. Never held while a client or a node is called.
    mutable std::mutex m_queueMutex;
    std::condition_variable m_wake;
    std::deque<Item> m_queue;
    State_e m_state = eIdle;
    std::atomic<bool> m_quit{false}; // also read between the deliveries of a batch
    std::thread m_thread;
    std::atomic<std::thread::id> m_threadId{};

    // Serialises Stop() and Start().
    std::mutex m_controlMutex;

    // Client table: taken after a node lock, never before one.
    std::mutex m_tableMutex;
    std::map<uint64_t, ClientEntry> m_clients;
};

} // namespace mci

#endif
