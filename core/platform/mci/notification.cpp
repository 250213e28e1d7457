#include "mci/notification.h"

#include <algorithm>

#include "istd/trace.h"
#include "mci/dispatcher.h"

namespace mci {

Callback::Callback(const CallbackId& id, Function function) : m_id(id), m_function(std::move(function)) {}

void Callback::operator()(const NotificationData& data) const
{
    if (m_function) {
        m_function(data);
    }
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
    // sees the flag. On the dispatcher's thread the delivery under way may be our caller.
    if (!Dispatcher::GetInstance().IsDispatcherThread()) {
        std::lock_guard<std::mutex> wait(m_deliveryMutex);
    }
    _UnsubscribeAll();
}

void NotificationClient::MarkBroken()
{
    if (!m_broken.exchange(true)) {
        ISTD_TRACE(2, "mci: notification client " << m_id.Value() << " marked broken");
    }
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

void NotificationClient::_Deliver(const NotificationData& data)
{
    ISTD_TRACE_FNC("void mci::NotificationClient::_Deliver(const NotificationData&)");
    std::lock_guard<std::mutex> lock(m_deliveryMutex);
    if (m_shutdown.load() || m_broken.load()) {
        return;
    }
    try {
        m_callback(data);
    } catch (const std::exception& e) {
        ISTD_TRACE(1, "mci: notification callback of client " << m_id.Value() << " failed: " << e.what());
    } catch (...) {
        ISTD_TRACE(1, "mci: notification callback of client " << m_id.Value() << " failed");
    }
}

} // namespace mci
