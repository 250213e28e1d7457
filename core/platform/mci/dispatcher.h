#ifndef MCI_DISPATCHER_H
#define MCI_DISPATCHER_H

// The notification dispatcher: nodes hand notifications to it with their lock held, and they
// reach the clients later, outside every node lock:
//
//   Emit (emitter, node lock held) puts the notification into the queue of every client it is
//   for -> a small pool of sender threads, each serving one client at a time, which run the
//   client's callback in queue order.
//
// A notification crosses threads once, from the emitter to a sender; a client that a sender
// is already serving is not signalled again. No callback runs on the emitter, so no client can
// hold it up; a client whose callback stalls holds up its own sender only, and when the senders
// that still make progress drop below DeliveryLimits::minSenders while clients wait, another
// sender is started (up to maxSenders). The dispatcher's own thread watches for such stalls and
// releases the queues of clients that fell behind. A client's queue is bounded by a count and
// a byte size: a client that reaches either is marked broken with a warning in the log (see
// NotificationClient).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <list>
#include <map>
#include <memory>
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

    // Copies the notification into the queues of the clients given. Never blocks on a client,
    // never calls back, takes no node lock and releases nothing that could take one, so nodes
    // call it with their lock held. False when the set is empty or the dispatcher has been
    // stopped. The copy is made in blocks that the dispatcher reuses, so that emitting allocates
    // nothing once they circulate.
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

    // The thread that watches the senders for stalls.
    bool IsDispatcherThread() const;
    // That thread or one of the senders.
    bool IsDeliveryThread() const;
    // Notifications in the clients' queues, not yet taken for delivery.
    size_t GetQueueSize() const;
    size_t GetSenderCount() const;

    // Client bookkeeping, used by NotificationClient.
    void _AddClient(const ClientId& client, const std::weak_ptr<NotificationClient>& object,
                    NotificationClient* raw);
    void _RemoveClient(const ClientId& client);

private:
    Dispatcher();
    ~Dispatcher() = default;

    // The notification to queue: the one made in place, else a copy in a reused block.
    static std::shared_ptr<const NotificationData> _Shared(const NotificationData& data);
    // Emit(): the notification into the queue of each client of ids, in that order.
    template <class Ids>
    bool _HandOver(const Ids& ids, const NotificationData& data);
    struct ClientEntry {
        std::weak_ptr<NotificationClient> object;
        // The object itself, valid under m_tableMutex: its destructor removes the entry before
        // it frees anything. Emit() uses it so that it never holds (and so never releases) the
        // last reference to a client, whose destructor takes node locks.
        NotificationClient* raw = nullptr;
        std::set<uint64_t> nodes;
    };
    // A client that fell behind: what the warning tells. Its queue is released on the
    // dispatcher's thread.
    struct Overflow {
        ClientId id;
        size_t count = 0;
        size_t bytes = 0;
    };
    using Dropped = std::vector<std::deque<NotificationClient::Queued>>;
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
    // Gives the clients to the senders, and notes whether clients wait without a free sender.
    void _Schedule(std::vector<ClientRef>& ready);
    // Under the pool lock: starts a sender when clients wait and too few senders progress.
    // True while clients wait without a free sender.
    bool _CheckSendersLocked();
    void _SpawnLocked();
    void _SenderLoop(Sender* self);

    // The dispatcher's thread and what it is handed. Never held while a client or a node is called.
    mutable std::mutex m_queueMutex;
    std::condition_variable m_wake;
    Dropped m_dropped;
    std::atomic<bool> m_quit{false}; // also read by the senders between callbacks
    std::thread m_thread;
    std::atomic<std::thread::id> m_threadId{};
    // Set (under m_poolMutex) while clients wait for a sender: the dispatcher's thread then
    // looks at the senders every stallTime.
    std::atomic<bool> m_clientsWaiting{false};

    // Serialises Stop() and Start().
    std::mutex m_controlMutex;

    // Client table and the state: taken after a node lock, never before one; Emit() hands
    // over under it, and Stop() takes it to know that no hand-over is under way.
    mutable std::mutex m_tableMutex;
    std::map<uint64_t, ClientEntry> m_clients;
    State_e m_state = eIdle;
    // The queue bounds of m_limits, read by every Emit() without the pool lock.
    std::atomic<size_t> m_queueCount{DeliveryLimits().queueCount};
    std::atomic<size_t> m_queueBytes{DeliveryLimits().queueBytes};

    // The senders. Taken before m_queueMutex when both are held; never held while a client is
    // served.
    mutable std::mutex m_poolMutex;
    std::condition_variable m_poolWake;
    std::deque<ClientRef> m_ready;
    std::list<std::unique_ptr<Sender>> m_senders;
    size_t m_freeSenders = 0; // waiting for a client, or starting
    bool m_poolQuit = false;
    DeliveryLimits m_limits;
};

} // namespace mci

#endif
