#ifndef MCI_DISPATCHER_H
#define MCI_DISPATCHER_H

// The notification dispatcher: nodes hand notifications to it with their lock held, and they
// reach the clients later, outside every node lock:
//
//   Emit (emitter, node lock held) -> one queue -> the dispatcher's thread, which puts each
//   notification into the queue of every client it is for -> a small pool of sender threads,
//   each serving one client at a time, which run the client's callback in queue order.
//
// The dispatcher's thread never runs a callback, so no client can hold it up; a client whose
// callback stalls holds up its own sender only, and when the senders that still make progress
// drop below DeliveryLimits::minSenders while clients wait, another sender is started (up to
// maxSenders). A client's queue is bounded by a count and a byte size: a client that reaches
// either is marked broken with a warning in the log (see NotificationClient).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

#include "mci/mci_export.h"
#include "mci/notification.h"

namespace mci {

// Bounds of the delivery to clients.
struct MCI_API DeliveryLimits {
    // Notifications queued for one client at most; one client falling this far behind
    // (a minute of 1 000 changes a second) is broken.
    size_t queueCount = 65536;
    // Bytes queued for one client at most (NotificationSize); one notification is always taken,
    // whatever its size.
    size_t queueBytes = size_t{32} << 20;
    // Senders that keep making progress while clients wait for one.
    size_t minSenders = 2;
    // Senders at most, stalled ones included.
    size_t maxSenders = 64;
    // A sender whose callbacks run longer than this (those of the few notifications it took
    // from one client's queue) counts as stalled: it makes no progress.
    std::chrono::milliseconds stallTime{20};
};

class MCI_API Dispatcher {
public:
    // The process-wide dispatcher. It is made on first use and never freed, so nodes that are
    // released during static destruction can still unregister. Its threads start with the
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
    // the set is empty or the dispatcher has been stopped. The copy is made in blocks that the
    // dispatcher reuses, so that emitting allocates nothing once they circulate.
    bool Emit(const std::set<ClientId>& clients, const NotificationData& data);
    // The same for a list of clients that the node keeps and the queue shares, so that no copy
    // of it is made: the node makes a new list whenever its clients change.
    bool EmitShared(const std::shared_ptr<const std::vector<ClientId>>& clients, const NotificationData& data);

    // For TreeNode::OnEmitValue: an empty notification in those blocks. While an InPlace object
    // for it lives on the calling thread, an emission of that very notification (from the
    // node's OnEmit) shares it with the queue instead of copying it.
    static std::shared_ptr<NotificationData> _MakeNotification();
    class MCI_API InPlace {
    public:
        explicit InPlace(const std::shared_ptr<NotificationData>& data);
        ~InPlace();
        InPlace(const InPlace&) = delete;
        InPlace& operator=(const InPlace&) = delete;

    private:
        const std::shared_ptr<NotificationData>* m_outer;
    };

    // Ends and joins the dispatcher's thread and the senders, and drops what is still queued
    // (its node handles would keep the tree alive). Emit() answers false afterwards. Refused on
    // the dispatcher's threads. Call it without a node lock held: it waits for the callbacks
    // under way.
    void Stop();
    // Accepts notifications again after Stop() and starts the thread.
    void Start();

    // Applies to notifications handed over from now on; a minimum below 1 counts as 1.
    void SetLimits(const DeliveryLimits& limits);
    DeliveryLimits GetLimits() const;

    // The thread that hands notifications to the clients' queues.
    bool IsDispatcherThread() const;
    // That thread or one of the senders.
    bool IsDeliveryThread() const;
    // Notifications queued and not yet taken for delivery: those the dispatcher's thread has
    // not handed over yet, and those in the clients' queues.
    size_t GetQueueSize() const;
    size_t GetSenderCount() const;

    // Client bookkeeping, used by NotificationClient.
    void _AddClient(const ClientId& client, const std::weak_ptr<NotificationClient>& object);
    void _RemoveClient(const ClientId& client);

private:
    Dispatcher();
    ~Dispatcher() = default;

    struct Item {
        std::shared_ptr<const std::vector<ClientId>> clients;
        std::shared_ptr<const NotificationData> data;
    };
    bool _Push(Item& item);
    // The notification to queue: the one made in place, else a copy in a reused block.
    static std::shared_ptr<const NotificationData> _Shared(const NotificationData& data);
    struct ClientEntry {
        std::weak_ptr<NotificationClient> object;
        std::set<uint64_t> nodes;
    };
    struct Sender {
        std::thread thread;
        // Start of the callbacks under way (steady clock, ns), 0 between them.
        std::atomic<int64_t> busySince{0};
        // The notifications taken from a client's queue for delivery.
        std::vector<NotificationClient::Queued> buffer;
    };
    enum State_e { eIdle, eRunning, eStopped };
    using ClientRef = std::weak_ptr<NotificationClient>;

    void _StartLocked();
    void _Run();
    // What a batch holds for one client, in order.
    struct ClientBatch {
        ClientId id;
        std::vector<NotificationClient::Queued> items;
    };
    // Hands a batch of notifications to the queues of their clients (each client's share under
    // one lock); those that need a sender go to ready.
    void _HandOver(const std::vector<Item>& batch, const DeliveryLimits& limits, std::vector<ClientRef>& ready);
    // Gives the clients to the senders, and notes whether clients wait without a free sender.
    void _Schedule(std::vector<ClientRef>& ready);
    // Under the pool lock: starts a sender when clients wait and too few senders progress.
    // True while clients wait without a free sender.
    bool _CheckSendersLocked();
    void _SpawnLocked();
    void _SenderLoop(Sender* self);

    // Queue and thread state. Never held while a client or a node is called.
    mutable std::mutex m_queueMutex;
    std::condition_variable m_wake;
    std::vector<Item> m_queue;
    State_e m_state = eIdle;
    std::atomic<bool> m_quit{false}; // also read between the hand-overs of a batch
    std::thread m_thread;
    std::atomic<std::thread::id> m_threadId{};
    // Set (under m_poolMutex) while clients wait for a sender: the dispatcher's thread then
    // looks at the senders every stallTime.
    std::atomic<bool> m_clientsWaiting{false};

    // Serialises Stop() and Start().
    std::mutex m_controlMutex;

    // Client table: taken after a node lock, never before one.
    mutable std::mutex m_tableMutex;
    std::map<uint64_t, ClientEntry> m_clients;

    // The senders. Taken before m_queueMutex when both are held; never held while a client is
    // served.
    mutable std::mutex m_poolMutex;
    std::condition_variable m_poolWake;
    // In the clients' queue memory: scheduling allocates nothing once its blocks circulate.
    std::pmr::deque<ClientRef> m_ready{NotificationClient::_QueueMemory()};
    // The dispatcher's thread's own: the clients of the batch under way.
    std::vector<ClientBatch> m_byClient;
    std::unordered_map<uint64_t, size_t> m_clientSlot;
    std::vector<std::shared_ptr<NotificationClient>> m_handedTo;
    std::list<std::unique_ptr<Sender>> m_senders;
    size_t m_freeSenders = 0; // waiting for a client, or starting
    bool m_poolQuit = false;
    DeliveryLimits m_limits;
};

} // namespace mci

#endif
