#include "ireg_test_util.h"

#include <chrono>

namespace iregtest {

Recorder::Recorder()
{
    m_client = mci::NotificationClient::Create(mci::Callback(mci::CallbackId(), [this](const mci::NotificationData& d) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.push_back(d);
        m_arrived.notify_all();
    }));
}

Recorder::~Recorder()
{
    // No callback runs once Shutdown returns, so the members can go.
    m_client->Shutdown();
}

bool Recorder::Subscribe(const mci::TreeNodePtr& node)
{
    return m_client->Register(mci::Node(node, mci::c_noRelPath));
}

bool Recorder::WaitFor(size_t count)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::seconds(10), [&] { return m_received.size() >= count; });
}

bool Recorder::WaitForNode(const mci::TreeNodePtr& node, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    size_t checked = 0;
    return m_arrived.wait_for(lock, timeout, [&] {
        for (; checked < m_received.size(); ++checked) {
            if (m_received[checked].node.GetTreeNode() == node) {
                return true;
            }
        }
        return false;
    });
}

std::vector<mci::NotificationData> Recorder::Received()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

} // namespace iregtest
