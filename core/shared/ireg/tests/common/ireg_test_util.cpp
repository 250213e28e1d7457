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

std::vector<mci::NotificationData> Recorder::Received()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

} // namespace iregtest
