#include "mci/dispatcher.h"

#include <csignal>
#include <pthread.h>

#include <algorithm>
#include <string>

#include "istd/log.h"
#include "istd/log_limit.h"
#include "istd/trace.h"
#include "mci/block_pool.h"

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

// Queued notifications are made in reused blocks, so that emitting allocates nothing once they
// circulate.
using NotificationAllocator = detail::BlockAllocator<NotificationData, detail::eNotificationBlock>;

// The notification made in place by the innermost InPlace of the thread.
__attribute__((tls_model("initial-exec"))) thread_local const std::shared_ptr<NotificationData>* t_inPlace =
    nullptr;

} // namespace

std::shared_ptr<NotificationData> Dispatcher::_MakeNotification()
{
    return std::allocate_shared<NotificationData>(NotificationAllocator());
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
    return std::allocate_shared<const NotificationData>(NotificationAllocator(), data);
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

void Dispatcher::_AddClient(const ClientId& client, const std::weak_ptr<NotificationClient>& object)
{
    std::lock_guard<std::mutex> lock(m_tableMutex);
    m_clients[client.Value()].object = object;
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
    Item item{std::make_shared<const std::vector<ClientId>>(clients.begin(), clients.end()), _Shared(data)};
    return _Push(item);
}

bool Dispatcher::EmitShared(const std::shared_ptr<const std::vector<ClientId>>& clients, const NotificationData& data)
{
    ISTD_TRACE_FNC("bool mci::Dispatcher::EmitShared(const std::shared_ptr<const std::vector<ClientId>>&, const NotificationData&)");
    if (!clients || clients->empty()) {
        return false;
    }
    Item item{clients, _Shared(data)};
    return _Push(item);
}

// The item is made before the queue lock is taken, and released after it if it is refused. The
// one copy of the notification is shared by the queues of all its clients.
bool Dispatcher::_Push(Item& item)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (m_state == eStopped) {
            return false;
        }
        if (m_state == eIdle) {
            _StartLocked();
        }
        wake = m_queue.empty(); // the thread waits only for an empty queue
        m_queue.push_back(std::move(item));
    }
    if (wake) {
        m_wake.notify_one();
    }
    return true;
}

void Dispatcher::SetLimits(const DeliveryLimits& limits)
{
    std::lock_guard<std::mutex> lock(m_poolMutex);
    m_limits = limits;
    m_limits.queueCount = std::max<size_t>(m_limits.queueCount, 1);
    m_limits.minSenders = std::max<size_t>(m_limits.minSenders, 1);
    m_limits.maxSenders = std::max(m_limits.maxSenders, m_limits.minSenders);
}

DeliveryLimits Dispatcher::GetLimits() const
{
    std::lock_guard<std::mutex> lock(m_poolMutex);
    return m_limits;
}

void Dispatcher::_StartLocked()
{
    ISTD_TRACE(3, "mci: starting the notification dispatcher");
    m_quit.store(false);
    m_thread = std::thread(&Dispatcher::_Run, this);
    m_threadId.store(m_thread.get_id());
    m_state = eRunning;
}

void Dispatcher::Start()
{
    ISTD_TRACE_FNC("void mci::Dispatcher::Start()");
    std::lock_guard<std::mutex> control(m_controlMutex);
    std::lock_guard<std::mutex> lock(m_queueMutex);
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
    // Queued items hold node handles; they are released after every lock, once the threads ended.
    std::vector<Item> dropped;
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_state = eStopped;
        m_quit.store(true);
        dropped.swap(m_queue);
        thread = std::move(m_thread);
    }
    m_wake.notify_all();
    if (thread.joinable()) {
        thread.join();
    }
    m_threadId.store(std::thread::id());

    std::pmr::deque<ClientRef> ready(NotificationClient::_QueueMemory());
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
    if (!dropped.empty() || pending > 0) {
        ISTD_TRACE(3, "mci: notification dispatcher stopped, " << dropped.size() << " notifications and "
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
    size_t size = 0;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        size = m_queue.size();
    }
    std::vector<ClientRef> clients;
    {
        std::lock_guard<std::mutex> lock(m_tableMutex);
        for (const auto& entry : m_clients) {
            clients.push_back(entry.second.object);
        }
    }
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

    // Everything queued is taken at once, so emitters and this thread meet on the queue lock
    // once per batch rather than once per notification. Stop() ends a batch early. The queue
    // and the batch trade places, each keeping its memory, so that queueing allocates nothing
    // once they are large enough (but for a burst far beyond the usual).
    constexpr size_t c_keptItems = 65536;
    std::vector<Item> batch;
    std::vector<ClientRef> ready;
    DeliveryLimits limits = GetLimits();
    std::unique_lock<std::mutex> lock(m_queueMutex);
    for (;;) {
        while (!m_quit.load() && m_queue.empty()) {
            if (!m_clientsWaiting.load()) {
                m_wake.wait(lock);
                continue;
            }
            // Clients wait for a sender: look at the senders again once the stall time passed.
            if (m_wake.wait_for(lock, limits.stallTime) == std::cv_status::timeout) {
                break;
            }
        }
        if (m_quit.load()) {
            break;
        }
        batch.swap(m_queue);
        lock.unlock();
        limits = GetLimits();
        if (!m_quit.load()) {
            _HandOver(batch, limits, ready);
        }
        batch.clear();
        if (batch.capacity() > c_keptItems) {
            batch = std::vector<Item>();
        }
        _Schedule(ready);
        lock.lock();
    }
}

void Dispatcher::_HandOver(const std::vector<Item>& batch, const DeliveryLimits& limits, std::vector<ClientRef>& ready)
{
    ISTD_TRACE_FNC("void mci::Dispatcher::_HandOver(const std::vector<Item>&, const DeliveryLimits&, std::vector<ClientRef>&)");
    // Sorted by client first: each client's notifications, in batch order, go to its queue
    // under one lock.
    size_t used = 0;
    const auto slotOf = [this, &used](const ClientId& id) -> ClientBatch& {
        if (used == m_byClient.size()) {
            m_byClient.emplace_back();
        }
        m_byClient[used].id = id;
        return m_byClient[used++];
    };
    if (batch.size() == 1) {
        // The usual case when changes are few: the clients of one notification, each once.
        const Item& item = batch.front();
        const NotificationClient::Queued queued{item.data, NotificationSize(*item.data)};
        for (const ClientId& id : *item.clients) {
            slotOf(id).items.push_back(queued);
        }
    } else {
        m_clientSlot.clear();
        for (const Item& item : batch) {
            const NotificationClient::Queued queued{item.data, NotificationSize(*item.data)};
            for (const ClientId& id : *item.clients) {
                // try_emplace: a client met before costs no node made and thrown away.
                const auto slot = m_clientSlot.try_emplace(id.Value(), used);
                (slot.second ? slotOf(id) : m_byClient[slot.first->second]).items.push_back(queued);
            }
        }
    }
    // The clients are looked up in one go and handed their share after the table lock is
    // released; the last reference to one may go here, and its destructor takes that lock.
    std::vector<std::shared_ptr<NotificationClient>>& clients = m_handedTo;
    clients.assign(used, nullptr);
    {
        std::lock_guard<std::mutex> lock(m_tableMutex);
        for (size_t i = 0; i < used; ++i) {
            auto it = m_clients.find(m_byClient[i].id.Value());
            if (it != m_clients.end()) {
                clients[i] = it->second.object.lock();
            }
        }
    }
    for (size_t i = 0; i < used; ++i) {
        std::vector<NotificationClient::Queued>& items = m_byClient[i].items;
        if (!clients[i]) {
            ISTD_TRACE(4, "mci: no notification client " << m_byClient[i].id.Value() << ", " << items.size()
                                                         << " notifications skipped");
        } else {
            bool schedule = false;
            size_t count = 0;
            size_t bytes = 0;
            if (clients[i]->_Enqueue(items, limits.queueCount, limits.queueBytes, schedule, count, bytes) ==
                NotificationClient::eOverflow) {
                // Remote clients can make many fall behind at once: the lines are limited.
                istd::LogWarningLimited("mci: notification client fell behind",
                                        "mci: notification client " + std::to_string(m_byClient[i].id.Value()) +
                                            " fell behind: " + std::to_string(count) + " notifications (" +
                                            std::to_string(bytes) +
                                            " bytes) were waiting for it. It is marked broken and unsubscribed; its "
                                            "owner must subscribe again.");
            }
            if (schedule) {
                ready.push_back(clients[i]);
            }
        }
        items.clear();
    }
    clients.clear();
}

void Dispatcher::_Schedule(std::vector<ClientRef>& ready)
{
    std::lock_guard<std::mutex> lock(m_poolMutex);
    for (ClientRef& client : ready) {
        m_ready.push_back(std::move(client));
    }
    const size_t added = ready.size();
    ready.clear();
    m_clientsWaiting.store(_CheckSendersLocked());
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
