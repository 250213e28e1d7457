#include "test_source.h"

#include "istd/exception.h"

namespace isigtest {

TestSource::TestSource(const std::string& name, const std::string& owner) : isig::SignalSource(name, owner) {}

TestSource::~TestSource()
{
    UnregisterSource();
}

isig::SignalStats TestSource::GetStatistics() const
{
    if (throwOnStatistics) {
        throw istd::Exception("statistics unavailable");
    }
    return {{"device", 7, 1, 16}};
}

isig::SignalClientBase* TestSource::NewSignalClient(const std::string& name, unsigned)
{
    switch (newMode.load()) {
    case eThrow:
        throw istd::Exception("no clients today");
    case eNull:
        return nullptr;
    case eMake:
        break;
    }
    return new TestClient(this, name);
}

void TestSource::ShutDown()
{
    Cancel(isig::eTerminated);
}

void TestSource::Cancel(isig::SuccessCode_e code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (TestClient* client : m_open) {
        client->Cancel(code);
    }
    m_open.clear();
}

void TestSource::OnAdjustedTimestamp(int64_t offset, uint64_t)
{
    lastOffset = offset;
}

void TestSource::Dispatch(const int64_t* values, unsigned count, const isig::SignalMeta& meta)
{
    const std::vector<int64_t> copy(values, values + count);
    std::lock_guard<std::mutex> lock(m_mutex);
    for (TestClient* client : m_open) {
        client->Push(copy, meta);
    }
}

size_t TestSource::OpenClients() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open.size();
}

TestClient::TestClient(TestSource* source, const std::string& name) : m_source(source), m_name(name)
{
    ++source->m_alive;
}

TestClient::~TestClient()
{
    Close();
    --m_source->m_alive;
}

isig::SuccessCode_e TestClient::Open()
{
    if (m_source->openCode != isig::eSuccess) {
        return static_cast<isig::SuccessCode_e>(m_source->openCode.load());
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_open) {
            return isig::eSuccess;
        }
        m_open = true;
        m_status = isig::eSuccess;
    }
    std::lock_guard<std::mutex> lock(m_source->m_mutex);
    m_source->m_open.insert(this);
    return isig::eSuccess;
}

void TestClient::Close()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_open) {
            return;
        }
        m_open = false;
        m_data.notify_all();
    }
    std::lock_guard<std::mutex> lock(m_source->m_mutex);
    m_source->m_open.erase(this);
}

bool TestClient::IsOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
}

isig::SuccessCode_e TestClient::ForwardTo(i_NET::_objref_SignalReceiver* receiver)
{
    std::pair<std::vector<int64_t>, isig::SignalMeta> buffer;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_data.wait(lock, [this] { return !m_open || m_status != isig::eSuccess || !m_queue.empty(); });
        if (!m_open) {
            return isig::eSuccess;
        }
        if (m_queue.empty()) {
            return m_status;
        }
        buffer = std::move(m_queue.front());
        m_queue.pop_front();
    }
    DoDispatch(receiver, buffer.first.data(), static_cast<unsigned>(buffer.first.size()), buffer.second);
    return isig::eSuccess;
}

void TestClient::Push(const std::vector<int64_t>& values, const isig::SignalMeta& meta)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.emplace_back(values, meta);
    m_data.notify_all();
}

void TestClient::Cancel(isig::SuccessCode_e code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status = code;
    m_data.notify_all();
}

} // namespace isigtest
