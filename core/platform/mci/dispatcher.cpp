#include "mci/dispatcher.h"

#include <csignal>
#include <pthread.h>

#include "istd/trace.h"

namespace mci {

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
    // Copied before the queue lock is taken, and released after it if it is refused.
    Item item{std::vector<ClientId>(clients.begin(), clients.end()), data};
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
    if (IsDispatcherThread()) {
        ISTD_TRACE(1, "mci: the notification dispatcher cannot be stopped from its own thread");
        return;
    }
    std::lock_guard<std::mutex> control(m_controlMutex);
    // Queued items hold node handles; they are released after every lock, once the thread ended.
    std::deque<Item> dropped;
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
    if (!dropped.empty()) {
        ISTD_TRACE(3, "mci: notification dispatcher stopped, " << dropped.size() << " notifications dropped");
    }
}

bool Dispatcher::IsDispatcherThread() const
{
    return m_threadId.load() == std::this_thread::get_id();
}

size_t Dispatcher::GetQueueSize() const
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    return m_queue.size();
}

void Dispatcher::_Run()
{
    ISTD_TRACE_FNC("void mci::Dispatcher::_Run()");
    // The termination signals belong to the signal-handler thread.
    sigset_t signals;
    sigemptyset(&signals);
    for (int sig : {SIGINT, SIGTERM, SIGQUIT, SIGHUP}) {
        sigaddset(&signals, sig);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    // Everything queued is taken at once, so emitters and this thread meet on the queue lock
    // once per batch rather than once per notification. Stop() ends a batch early.
    std::deque<Item> batch;
    std::unique_lock<std::mutex> lock(m_queueMutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit.load() || !m_queue.empty(); });
        if (m_quit.load()) {
            break;
        }
        batch.swap(m_queue);
        lock.unlock();
        for (; !batch.empty() && !m_quit.load(); batch.pop_front()) {
            _Deliver(batch.front());
        }
        batch.clear();
        lock.lock();
    }
}

void Dispatcher::_Deliver(const Item& item)
{
    ISTD_TRACE_FNC("void mci::Dispatcher::_Deliver(const Item&)");
    // The clients are looked up in one go and called after the table lock is released.
    std::vector<std::shared_ptr<NotificationClient>> clients;
    clients.reserve(item.clients.size());
    {
        std::lock_guard<std::mutex> lock(m_tableMutex);
        for (const ClientId& id : item.clients) {
            auto it = m_clients.find(id.Value());
            clients.push_back(it == m_clients.end() ? nullptr : it->second.object.lock());
        }
    }
    for (size_t i = 0; i < clients.size(); ++i) {
        if (clients[i]) {
            clients[i]->_Deliver(item.data);
        } else {
            ISTD_TRACE(4, "mci: no notification client " << item.clients[i].Value() << ", notification skipped");
        }
    }
}

} // namespace mci
