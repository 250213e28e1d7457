#include "mci/notification.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <typeinfo>

#include "istd/trace.h"
#include "mci/block_pool.h"
#include "mci/dispatcher.h"

namespace mci {

namespace {

// The client whose callback runs on this thread, if any: Shutdown() from inside it cannot wait
// for the delivery under way, which is its caller.
thread_local const NotificationClient* t_delivering = nullptr;

int64_t SteadyNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

template <class T>
size_t ScalarPayload(const T& scalar)
{
    if constexpr (std::is_same_v<T, std::string>) {
        return scalar.capacity();
    } else {
        (void)scalar; // held inside the value itself
        return 0;
    }
}

template <class T>
size_t VectorPayload(const std::vector<T>& vector)
{
    size_t bytes = vector.capacity() * sizeof(T);
    if constexpr (std::is_same_v<T, std::string>) {
        for (const std::string& text : vector) {
            bytes += text.capacity();
        }
    }
    return bytes;
}

template <class T>
size_t PayloadOf(const istd::Any& value)
{
    if (const T* scalar = std::any_cast<T>(&value)) {
        return ScalarPayload(*scalar);
    }
    if (const auto* vector = std::any_cast<std::vector<T>>(&value)) {
        return VectorPayload(*vector);
    }
    return 0;
}

// PayloadOf for a value whose type_info is that of T or std::vector<T>, by address.
template <class T>
bool KnownPayload(const std::type_info& type, const istd::Any& value, size_t& payload)
{
    if (&type == &typeid(T)) {
        payload = ScalarPayload(*std::any_cast<T>(&value));
        return true;
    }
    if (&type == &typeid(std::vector<T>)) {
        payload = VectorPayload(*std::any_cast<std::vector<T>>(&value));
        return true;
    }
    return false;
}

// The payload of a value of one of TYPES (or a vector of one), 0 for any other.
template <class... TYPES>
size_t Payload(const istd::Any& value)
{
    const std::type_info& type = value.type();
    size_t payload = 0;
    if ((KnownPayload<TYPES>(type, value, payload) || ...)) {
        return payload;
    }
    return (PayloadOf<TYPES>(value) + ...);
}

} // namespace

size_t NotificationSize(const NotificationData& data)
{
    // The value types of the registry; any other value counts with the structure alone. Every
    // set sizes its notification: the type is found by the address of its type_info, which
    // names each of these types once in the process, so that no type name is compared; a type
    // whose type_info has another address (one made in a library that did not export it) is
    // looked up by name.
    const istd::Any& value = data.value;
    if (!value.has_value()) {
        return sizeof(NotificationData);
    }
    return sizeof(NotificationData) +
           Payload<int32_t, uint32_t, int64_t, uint64_t, double, float, bool, std::string>(value);
}

Callback::Callback(const CallbackId& id, Function function) : m_id(id), m_function(std::move(function)) {}

void Callback::operator()(const NotificationData& data) const
{
    if (m_function) {
        m_function(data);
    }
}

std::pmr::memory_resource* NotificationClient::_QueueMemory()
{
    return detail::QueueMemory();
}

std::shared_ptr<NotificationClient> NotificationClient::Create(const Callback& callback)
{
    ISTD_TRACE_FNC("std::shared_ptr<NotificationClient> mci::NotificationClient::Create(const Callback&)");
    auto client = std::make_shared<NotificationClient>(callback);
    client->_AttachToDispatcher();
    return client;
}

NotificationClient::NotificationClient(const Callback& callback) : m_id(), m_callback(callback) {}

NotificationClient::~NotificationClient()
{
    ISTD_TRACE_FNC("mci::NotificationClient::~NotificationClient()");
    m_shutdown.store(true);
    if (m_attached) {
        Dispatcher::GetInstance()._RemoveClient(m_id);
    }
    _UnsubscribeAll();
}

void NotificationClient::_AttachToDispatcher()
{
    std::weak_ptr<NotificationClient> self = weak_from_this();
    if (self.expired()) {
        throw istd::Exception("mci: a notification client must be held by a std::shared_ptr");
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_attached) {
            return;
        }
        m_attached = true;
    }
    Dispatcher::GetInstance()._AddClient(m_id, self);
}

bool NotificationClient::Register(const Node& node)
{
    ISTD_TRACE_FNC("bool mci::NotificationClient::Register(const Node&)");
    if (m_shutdown.load() || m_broken.load()) {
        return false;
    }
    _AttachToDispatcher();
    TreeNodePtr target = node.GetTreeNode();
    if (!target || !target->Subscribe(m_id, c_noRelPath)) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nodes.push_back(target);
    }
    // A Shutdown() that ran meanwhile did not see this node: undo the subscription here.
    if (m_shutdown.load()) {
        _UnsubscribeAll();
        return false;
    }
    return true;
}

bool NotificationClient::Unregister(const Node& node)
{
    ISTD_TRACE_FNC("bool mci::NotificationClient::Unregister(const Node&)");
    TreeNodePtr target = node.GetTreeNode();
    if (!target) {
        return false;
    }
    const bool unsubscribed = target->Unsubscribe(m_id, c_noRelPath, true);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nodes.erase(std::remove_if(m_nodes.begin(), m_nodes.end(),
                                 [&target](const std::weak_ptr<TreeNode>& kept) {
                                     TreeNodePtr node = kept.lock();
                                     return !node || node == target;
                                 }),
                  m_nodes.end());
    return unsubscribed;
}

void NotificationClient::Shutdown()
{
    ISTD_TRACE_FNC("void mci::NotificationClient::Shutdown()");
    m_shutdown.store(true);
    // A delivery under way holds the delivery mutex; once we have had it, every later delivery
    // sees the flag. Inside our own callback the delivery under way is our caller.
    if (t_delivering != this) {
        std::lock_guard<std::mutex> wait(m_deliveryMutex);
    }
    _DropPending(false);
    _UnsubscribeAll();
}

void NotificationClient::MarkBroken()
{
    if (!m_broken.exchange(true)) {
        ISTD_TRACE(2, "mci: notification client " << m_id.Value() << " marked broken");
    }
    _DropPending(false);
}

size_t NotificationClient::GetPendingCount() const
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    return m_pending.size();
}

void NotificationClient::_DropPending(bool unschedule)
{
    std::pmr::deque<Queued> dropped(_QueueMemory());
    std::lock_guard<std::mutex> lock(m_queueMutex);
    dropped.swap(m_pending);
    m_pendingBytes = 0;
    if (unschedule) {
        m_scheduled = false;
    }
    // The lock guard goes first: the notifications hold node handles, released unlocked.
}

void NotificationClient::_UnsubscribeAll()
{
    ISTD_TRACE_FNC("void mci::NotificationClient::_UnsubscribeAll()");
    std::vector<std::weak_ptr<TreeNode>> nodes;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        nodes.swap(m_nodes);
    }
    for (const std::weak_ptr<TreeNode>& kept : nodes) {
        TreeNodePtr node = kept.lock();
        if (!node) {
            continue;
        }
        try {
            node->Unsubscribe(m_id, c_noRelPath, true);
        } catch (const std::exception& e) {
            ISTD_TRACE(2, "mci: unsubscribing client " << m_id.Value() << " from " << node->GetName()
                                                       << " failed: " << e.what());
        }
    }
}

NotificationClient::Enqueue_e NotificationClient::_Enqueue(const std::vector<Queued>& items, size_t maxCount,
                                                           size_t maxBytes, bool& schedule, size_t& count,
                                                           size_t& bytes)
{
    // Released after the lock; made only when needed, as an empty deque allocates.
    std::optional<std::pmr::deque<Queued>> dropped;
    std::lock_guard<std::mutex> lock(m_queueMutex);
    schedule = false;
    if (m_shutdown.load() || m_broken.load()) {
        return eRefused;
    }
    for (const Queued& item : items) {
        const size_t room = maxBytes - std::min(maxBytes, m_pendingBytes);
        if (!m_pending.empty() && (m_pending.size() >= maxCount || item.bytes > room)) {
            // Thinning the queue would hand the client a sequence with holes it cannot see: it
            // is told by being broken instead, and may subscribe again.
            m_broken.store(true);
            count = m_pending.size();
            bytes = m_pendingBytes;
            dropped.emplace(_QueueMemory()).swap(m_pending);
            m_pendingBytes = 0;
            schedule = !m_scheduled;
            m_scheduled = true;
            return eOverflow;
        }
        m_pending.push_back(item);
        m_pendingBytes += item.bytes;
    }
    schedule = !m_scheduled;
    m_scheduled = true;
    return eEnqueued;
}

bool NotificationClient::_Serve(size_t limit, std::vector<Queued>& buffer, std::atomic<int64_t>& busySince,
                                const std::atomic<bool>& stop)
{
    ISTD_TRACE_FNC("bool mci::NotificationClient::_Serve(size_t, std::vector<Queued>&, std::atomic<int64_t>&, const std::atomic<bool>&)");
    // Taken a few at a time: one lock for several notifications, and the queue's bound still
    // counts all but those few.
    constexpr size_t c_take = 32;
    for (size_t served = 0; served < limit && !stop.load();) {
        {
            std::unique_lock<std::mutex> lock(m_queueMutex);
            if (m_shutdown.load() || m_broken.load()) {
                const bool unsubscribe = m_broken.load() && !m_shutdown.load() && !m_unsubscribedAfterBreak;
                m_unsubscribedAfterBreak = m_unsubscribedAfterBreak || unsubscribe;
                lock.unlock();
                _DropPending(true);
                if (unsubscribe) {
                    // Nothing more reaches a broken client: its nodes need not address it.
                    _UnsubscribeAll();
                }
                return false;
            }
            if (m_pending.empty()) {
                m_scheduled = false;
                return false;
            }
            const size_t take = std::min({c_take, limit - served, m_pending.size()});
            for (size_t i = 0; i < take; ++i) {
                m_pendingBytes -= m_pending.front().bytes;
                buffer.push_back(std::move(m_pending.front()));
                m_pending.pop_front();
            }
        }
        // A stall shows as a turn that does not end: the time is taken once for the few.
        busySince.store(SteadyNow(), std::memory_order_relaxed);
        _Deliver(buffer);
        busySince.store(0, std::memory_order_relaxed);
        served += buffer.size();
        buffer.clear(); // the notifications go here, outside every lock
    }
    std::lock_guard<std::mutex> lock(m_queueMutex);
    if (m_pending.empty() && !m_shutdown.load() && !m_broken.load()) {
        m_scheduled = false;
        return false;
    }
    return true;
}

void NotificationClient::_Deliver(const std::vector<Queued>& items)
{
    ISTD_TRACE_FNC("void mci::NotificationClient::_Deliver(const std::vector<Queued>&)");
    std::lock_guard<std::mutex> lock(m_deliveryMutex);
    const NotificationClient* const outer = t_delivering;
    t_delivering = this;
    for (const Queued& item : items) {
        // Looked at before each callback: one of them may have shut the client down.
        if (m_shutdown.load() || m_broken.load()) {
            break;
        }
        try {
            m_callback(*item.data);
        } catch (const std::exception& e) {
            ISTD_TRACE(1, "mci: notification callback of client " << m_id.Value() << " failed: " << e.what());
        } catch (...) {
            ISTD_TRACE(1, "mci: notification callback of client " << m_id.Value() << " failed");
        }
    }
    t_delivering = outer;
}

} // namespace mci
