#include "mci/dispatcher.h"

#include <csignal>
#include <pthread.h>

#include <algorithm>
#include <string>

#include "istd/log.h"
#include "istd/log_limit.h"
#include "istd/trace.h"

namespace mci {

namespace {

// Set on the dispatcher's thread and on the senders.
thread_local bool t_deliveryThread = false;

// Notifications a sender delivers to one client before it lets the next waiting client have
// its turn.
constexpr size_t c_turn = 256;

int64_t SteadyNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The termination signals belong to the signal-handler thread.
void BlockTerminationSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (int sig : {SIGINT, SIGTERM, SIGQUIT, SIGHUP}) {
        sigaddset(&signals, sig);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

// The blocks that queued notifications (with their reference counts) are made in. A
// notification is made on the emitter's thread and released on a sender's, where the C
// library's per-thread caches would keep its memory from the emitter: here the senders give
// the blocks back to a shared list, which an emitter takes whole once its own list ran dry.
class NotificationBlocks {
public:
    static constexpr size_t c_blockSize = 256;
    static constexpr size_t c_maxShared = 4096; // kept for reuse at most; more go to the heap
    // Blocks a thread keeps of those it released itself (a notification that found no client
    // is released by its emitter at once): a sender, which makes none, keeps no more than this.
    static constexpr size_t c_maxOwnReleased = 64;
#ifdef __SANITIZE_ADDRESS__
    // Every notification on the heap, where AddressSanitizer sees a use after its release.
    static constexpr bool c_heapOnly = true;
#else
    static constexpr bool c_heapOnly = false;
#endif

    static void* Allocate(size_t size)
    {
        if (size > c_blockSize || c_heapOnly) {
            return ::operator new(size);
        }
        std::vector<void*>& own = (t_own != nullptr ? *t_own : Own()).blocks;
        if (own.empty()) {
            Shared& shared = GetShared();
            std::lock_guard<std::mutex> lock(shared.mutex);
            own.swap(shared.blocks);
        }
        if (own.empty()) {
            return ::operator new(c_blockSize);
        }
        void* block = own.back();
        own.pop_back();
        return block;
    }

    static void Deallocate(void* block, size_t size)
    {
        if (size > c_blockSize || c_heapOnly) {
            ::operator delete(block);
        } else if (t_own != nullptr && t_own->blocks.size() < c_maxOwnReleased) {
            t_own->blocks.push_back(block);
        } else {
            _ToShared(block);
        }
    }

private:
    struct Shared {
        std::mutex mutex;
        std::vector<void*> blocks;
    };
    // A thread's own list; what is left when the thread ends goes back to the shared one.
    struct OwnList {
        std::vector<void*> blocks;
        OwnList() { t_own = this; }
        ~OwnList()
        {
            t_own = nullptr; // a notification released later on this thread goes to the shared list
            for (void* block : blocks) {
                _ToShared(block);
            }
        }
    };
    static void _ToShared(void* block)
    {
        Shared& shared = GetShared();
        {
            std::lock_guard<std::mutex> lock(shared.mutex);
            if (shared.blocks.size() < c_maxShared) {
                shared.blocks.push_back(block);
                return;
            }
        }
        ::operator delete(block);
    }
    // Leaked, like the dispatcher, so that threads ending during static destruction find it.
    static Shared& GetShared()
    {
        static Shared* const shared = new Shared();
        return *shared;
    }
    static OwnList& Own()
    {
        thread_local OwnList own;
        return own;
    }
    // The calling thread's list while it lives (a plain pointer, valid also during the thread's
    // end, when the list itself may be gone).
    static thread_local OwnList* t_own;
};

// Initial-exec, as the trace scopes' pointer: a plain thread-pointer access on every emission.
__attribute__((tls_model("initial-exec"))) thread_local NotificationBlocks::OwnList* NotificationBlocks::t_own = nullptr;

template <class T>
struct BlockAllocator {
    using value_type = T;
    BlockAllocator() = default;
    template <class U>
    BlockAllocator(const BlockAllocator<U>&) noexcept
    {
    }
    T* allocate(size_t n) { return static_cast<T*>(NotificationBlocks::Allocate(n * sizeof(T))); }
    void deallocate(T* p, size_t n) noexcept { NotificationBlocks::Deallocate(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const BlockAllocator<U>&) const noexcept
    {
        return true;
    }
    template <class U>
    bool operator!=(const BlockAllocator<U>&) const noexcept
    {
        return false;
    }
};

// The notification made in place by the innermost InPlace of the thread.
__attribute__((tls_model("initial-exec"))) thread_local const std::shared_ptr<NotificationData>* t_inPlace =
    nullptr;

} // namespace

std::shared_ptr<NotificationData> Dispatcher::_MakeNotification()
{
    return std::allocate_shared<NotificationData>(BlockAllocator<NotificationData>());
}

Dispatcher::InPlace::InPlace(const std::shared_ptr<NotificationData>& data) : m_outer(t_inPlace)
{
    t_inPlace = &data;
}

Dispatcher::InPlace::~InPlace()
{
    t_inPlace = m_outer;
}

std::shared_ptr<const NotificationData> Dispatcher::_Shared(const NotificationData& data)
{
    if (t_inPlace != nullptr && t_inPlace->get() == &data) {
        return *t_inPlace;
    }
    return std::allocate_shared<const NotificationData>(BlockAllocator<NotificationData>(), data);
}

Dispatcher& Dispatcher::GetInstance()
{
    static Dispatcher* const instance = new Dispatcher();
    return *instance;
}

Dispatcher::Dispatcher() = default;

bool Dispatcher::Register(const ClientId& client, const Node& node)
{
    ISTD_TRACE_FNC("bool mci::Dispatcher::Register(const ClientId&, const Node&)");
    TreeNodePtr target = node.GetTreeNode();
    if (!target) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_tableMutex);
    m_clients[client.Value()].nodes.insert(target->GetId().Value());
    return true;
}

bool Dispatcher::Unregister(const ClientId& client, const Node& node)
{
    ISTD_TRACE_FNC("bool mci::Dispatcher::Unregister(const ClientId&, const Node&)");
    TreeNodePtr target = node.GetTreeNode();
    if (!target) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_tableMutex);
    auto it = m_clients.find(client.Value());
    if (it == m_clients.end()) {
        return false;
    }
    const bool erased = it->second.nodes.erase(target->GetId().Value()) > 0;
    if (it->second.nodes.empty() && it->second.object.expired()) {
        m_clients.erase(it);
    }
    return erased;
}

bool Dispatcher::Unregister(const TreeNodeId& node, const Path&, const std::set<ClientId>& clients)
{
    ISTD_TRACE_FNC("bool mci::Dispatcher::Unregister(const TreeNodeId&, const Path&, const std::set<ClientId>&)");
    bool dropped = false;
    std::lock_guard<std::mutex> lock(m_tableMutex);
    for (const ClientId& client : clients) {
        auto it = m_clients.find(client.Value());
        if (it == m_clients.end()) {
            continue;
        }
        dropped = it->second.nodes.erase(node.Value()) > 0 || dropped;
        if (it->second.nodes.empty() && it->second.object.expired()) {
            m_clients.erase(it);
        }
    }
    return dropped;
}

void Dispatcher::_AddClient(const ClientId& client, const std::weak_ptr<NotificationClient>& object,
                            NotificationClient* raw)
{
    std::lock_guard<std::mutex> lock(m_tableMutex);
    ClientEntry& entry = m_clients[client.Value()];
    entry.object = object;
    entry.raw = raw;
}

void Dispatcher::_RemoveClient(const ClientId& client)
{
    std::lock_guard<std::mutex> lock(m_tableMutex);
    m_clients.erase(client.Value());
}

bool Dispatcher::Emit(const std::set<ClientId>& clients, const NotificationData& data)
{
    ISTD_TRACE_FNC("bool mci::Dispatcher::Emit(const std::set<ClientId>&, const NotificationData&)");
    if (clients.empty()) {
        return false;
    }
    return _HandOver(clients, data);
}

bool Dispatcher::EmitShared(const std::shared_ptr<const std::vector<ClientId>>& clients, const NotificationData& data)
{
    ISTD_TRACE_FNC("bool mci::Dispatcher::EmitShared(const std::shared_ptr<const std::vector<ClientId>>&, const NotificationData&)");
    if (!clients || clients->empty()) {
        return false;
    }
    return _HandOver(*clients, data);
}

// Runs on the emitter with its node lock held. The one copy of the notification is shared by
// the queues of all its clients; a client that needs a sender is given to one after the table
// lock, and the queue of one that fell behind goes to the dispatcher's thread.
template <class Ids>
bool Dispatcher::_HandOver(const Ids& ids, const NotificationData& data)
{
    const NotificationClient::Queued queued{_Shared(data), NotificationSize(data)};
    const size_t maxCount = m_queueCount.load(std::memory_order_relaxed);
    const size_t maxBytes = m_queueBytes.load(std::memory_order_relaxed);
    // The emitter's own list, kept so that a set allocates nothing; taken out of it while in use.
    static thread_local std::vector<ClientRef> t_ready;
    std::vector<ClientRef> ready;
    ready.swap(t_ready);
    std::vector<Overflow> overflows;
    Dropped dropped;
    bool accepted = true;
    {
        std::lock_guard<std::mutex> lock(m_tableMutex);
        if (m_state == eStopped) {
            accepted = false;
        } else if (m_state == eIdle) {
            _StartLocked();
        }
        for (auto id = ids.begin(); accepted && id != ids.end(); ++id) {
            auto it = m_clients.find(id->Value());
            if (it == m_clients.end() || it->second.raw == nullptr) {
                ISTD_TRACE(4, "mci: no notification client " << id->Value() << ", notification skipped");
                continue;
            }
            bool schedule = false;
            size_t count = 0;
            size_t bytes = 0;
            if (it->second.raw->_Enqueue(queued, maxCount, maxBytes, schedule, count, bytes, dropped) ==
                NotificationClient::eOverflow) {
                overflows.push_back(Overflow{*id, count, bytes});
            }
            if (schedule) {
                ready.push_back(it->second.object);
            }
        }
    }
    if (!ready.empty()) {
        _Schedule(ready);
    }
    t_ready.swap(ready);
    for (const Overflow& overflow : overflows) {
        // Remote clients can make many fall behind at once: the lines are limited. The log
        // calls nothing back, so it is written here, before the emitter goes on.
        istd::LogWarningLimited("mci: notification client fell behind",
                                "mci: notification client " + std::to_string(overflow.id.Value()) +
                                    " fell behind: " + std::to_string(overflow.count) + " notifications (" +
                                    std::to_string(overflow.bytes) +
                                    " bytes) were waiting for it. It is marked broken and unsubscribed; its "
                                    "owner must subscribe again.");
    }
    if (!dropped.empty()) {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        for (auto& queue : dropped) {
            m_dropped.emplace_back();
            m_dropped.back().swap(queue);
        }
        m_wake.notify_one();
    }
    return accepted;
}

void Dispatcher::SetLimits(const DeliveryLimits& limits)
{
    std::lock_guard<std::mutex> lock(m_poolMutex);
    m_limits = limits;
    m_limits.queueCount = std::max<size_t>(m_limits.queueCount, 1);
    m_limits.minSenders = std::max<size_t>(m_limits.minSenders, 1);
    m_limits.maxSenders = std::max(m_limits.maxSenders, m_limits.minSenders);
    m_queueCount.store(m_limits.queueCount);
    m_queueBytes.store(m_limits.queueBytes);
}

DeliveryLimits Dispatcher::GetLimits() const
{
    std::lock_guard<std::mutex> lock(m_poolMutex);
    return m_limits;
}

// Under the table lock.
void Dispatcher::_StartLocked()
{
    ISTD_TRACE(3, "mci: starting the notification dispatcher");
    std::lock_guard<std::mutex> lock(m_queueMutex);
    m_quit.store(false);
    m_thread = std::thread(&Dispatcher::_Run, this);
    m_threadId.store(m_thread.get_id());
    m_state = eRunning;
}

void Dispatcher::Start()
{
    ISTD_TRACE_FNC("void mci::Dispatcher::Start()");
    std::lock_guard<std::mutex> control(m_controlMutex);
    std::lock_guard<std::mutex> lock(m_tableMutex);
    if (m_state != eRunning) {
        _StartLocked();
    }
}

void Dispatcher::Stop()
{
    ISTD_TRACE_FNC("void mci::Dispatcher::Stop()");
    if (IsDeliveryThread()) {
        ISTD_TRACE(1, "mci: the notification dispatcher cannot be stopped from its own thread");
        return;
    }
    std::lock_guard<std::mutex> control(m_controlMutex);
    {
        // Once it is held, no hand-over is under way and none starts.
        std::lock_guard<std::mutex> lock(m_tableMutex);
        m_state = eStopped;
    }
    // Queued notifications hold node handles; they are released after every lock, once the
    // threads ended.
    Dropped dropped;
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_quit.store(true);
        dropped.swap(m_dropped);
        thread = std::move(m_thread);
    }
    m_wake.notify_all();
    if (thread.joinable()) {
        thread.join();
    }
    m_threadId.store(std::thread::id());

    std::deque<ClientRef> ready;
    std::list<std::unique_ptr<Sender>> senders;
    {
        std::lock_guard<std::mutex> lock(m_poolMutex);
        m_poolQuit = true;
        ready.swap(m_ready);
        senders.swap(m_senders);
    }
    m_poolWake.notify_all();
    for (const auto& sender : senders) {
        sender->thread.join(); // waits for the callback under way
    }
    {
        std::lock_guard<std::mutex> lock(m_poolMutex);
        m_poolQuit = false;
        m_freeSenders = 0;
    }
    m_clientsWaiting.store(false);

    // What the clients' queues still hold goes too; no sender serves them any more.
    std::vector<ClientRef> clients;
    {
        std::lock_guard<std::mutex> lock(m_tableMutex);
        for (const auto& entry : m_clients) {
            clients.push_back(entry.second.object);
        }
    }
    size_t pending = 0;
    for (const ClientRef& ref : clients) {
        if (std::shared_ptr<NotificationClient> client = ref.lock()) {
            pending += client->GetPendingCount();
            client->_DropPending(true);
        }
    }
    size_t fellBehind = 0;
    for (const auto& queue : dropped) {
        fellBehind += queue.size();
    }
    dropped.clear();
    if (fellBehind > 0 || pending > 0) {
        ISTD_TRACE(3, "mci: notification dispatcher stopped, " << fellBehind << " notifications and "
                                                               << pending << " queued for clients dropped");
    }
}

bool Dispatcher::IsDispatcherThread() const
{
    return m_threadId.load() == std::this_thread::get_id();
}

bool Dispatcher::IsDeliveryThread() const
{
    return t_deliveryThread;
}

size_t Dispatcher::GetQueueSize() const
{
    std::vector<ClientRef> clients;
    {
        std::lock_guard<std::mutex> lock(m_tableMutex);
        for (const auto& entry : m_clients) {
            clients.push_back(entry.second.object);
        }
    }
    size_t size = 0;
    for (const ClientRef& ref : clients) {
        if (std::shared_ptr<NotificationClient> client = ref.lock()) {
            size += client->GetPendingCount();
        }
    }
    return size;
}

size_t Dispatcher::GetSenderCount() const
{
    std::lock_guard<std::mutex> lock(m_poolMutex);
    return m_senders.size();
}

void Dispatcher::_Run()
{
    ISTD_TRACE_FNC("void mci::Dispatcher::_Run()");
    BlockTerminationSignals();
    t_deliveryThread = true;

    Dropped dropped;
    DeliveryLimits limits = GetLimits();
    std::unique_lock<std::mutex> lock(m_queueMutex);
    for (;;) {
        bool stallTimePassed = false;
        while (!m_quit.load() && m_dropped.empty()) {
            if (!m_clientsWaiting.load()) {
                m_wake.wait(lock);
                continue;
            }
            // Clients wait for a sender: look at the senders again once the stall time passed.
            if (m_wake.wait_for(lock, limits.stallTime) == std::cv_status::timeout) {
                stallTimePassed = true;
                break;
            }
        }
        if (m_quit.load()) {
            break;
        }
        dropped.swap(m_dropped);
        lock.unlock();
        dropped.clear(); // the notifications hold node handles: released unlocked
        limits = GetLimits();
        if (stallTimePassed) {
            std::lock_guard<std::mutex> pool(m_poolMutex);
            m_clientsWaiting.store(_CheckSendersLocked());
        }
        lock.lock();
    }
}

void Dispatcher::_Schedule(std::vector<ClientRef>& ready)
{
    std::lock_guard<std::mutex> lock(m_poolMutex);
    for (ClientRef& client : ready) {
        m_ready.push_back(std::move(client));
    }
    const size_t added = ready.size();
    ready.clear();
    const bool waiting = _CheckSendersLocked();
    if (waiting && !m_clientsWaiting.exchange(true)) {
        // Clients wait with no free sender: the dispatcher's thread must watch for stalls.
        std::lock_guard<std::mutex> wake(m_queueMutex);
        m_wake.notify_one();
    } else if (!waiting) {
        m_clientsWaiting.store(false);
    }
    if (added == 1) {
        m_poolWake.notify_one();
    } else if (added > 1) {
        m_poolWake.notify_all();
    }
}

bool Dispatcher::_CheckSendersLocked()
{
    if (m_poolQuit || m_ready.size() <= m_freeSenders) {
        return false;
    }
    if (m_senders.size() < m_limits.maxSenders) {
        const int64_t now = SteadyNow();
        const int64_t stall = std::chrono::duration_cast<std::chrono::nanoseconds>(m_limits.stallTime).count();
        size_t progressing = 0;
        for (const auto& sender : m_senders) {
            const int64_t since = sender->busySince.load(std::memory_order_relaxed);
            progressing += since == 0 || now - since < stall ? 1 : 0;
        }
        if (progressing < m_limits.minSenders) {
            _SpawnLocked();
        }
    }
    return m_ready.size() > m_freeSenders;
}

void Dispatcher::_SpawnLocked()
{
    auto sender = std::make_unique<Sender>();
    Sender* self = sender.get();
    sender->thread = std::thread(&Dispatcher::_SenderLoop, this, self);
    m_senders.push_back(std::move(sender));
    ++m_freeSenders;
    ISTD_TRACE(3, "mci: notification sender " << m_senders.size() << " started");
}

void Dispatcher::_SenderLoop(Sender* self)
{
    ISTD_TRACE_FNC("void mci::Dispatcher::_SenderLoop(Sender*)");
    BlockTerminationSignals();
    t_deliveryThread = true;
    std::unique_lock<std::mutex> lock(m_poolMutex);
    for (;;) {
        m_poolWake.wait(lock, [this] { return m_poolQuit || !m_ready.empty(); });
        if (m_poolQuit) {
            break;
        }
        ClientRef ref = std::move(m_ready.front());
        m_ready.pop_front();
        --m_freeSenders;
        if (m_ready.size() > m_freeSenders && !m_clientsWaiting.load()) {
            // Taking this client leaves others waiting with no free sender: the dispatcher's
            // thread must watch for stalls.
            m_clientsWaiting.store(true);
            std::lock_guard<std::mutex> wake(m_queueMutex);
            m_wake.notify_one();
        }
        lock.unlock();
        bool more = false;
        if (std::shared_ptr<NotificationClient> client = ref.lock()) {
            do {
                more = client->_Serve(c_turn, self->buffer, self->busySince, m_quit);
                // Served on while no other client waits for its turn.
            } while (more && !m_quit.load() && [this] {
                std::lock_guard<std::mutex> check(m_poolMutex);
                return m_ready.empty() && !m_poolQuit;
            }());
        }
        lock.lock();
        if (more && !m_poolQuit) {
            m_ready.push_back(std::move(ref));
        }
        ++m_freeSenders;
    }
}

} // namespace mci
