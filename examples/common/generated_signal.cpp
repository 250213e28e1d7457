#include "generated_signal.h"

#include <cmath>
#include <utility>

#include "istd/exception.h"
#include "istd/trace.h"

namespace examples {

class GeneratedSignal::Client : public isig::SignalClientBase {
public:
    Client(GeneratedSignal* signal, const std::string& name, unsigned length)
        : m_signal(signal), m_name(name), m_length(length == 0 ? 1 : length)
    {
    }
    ~Client() override { Close(); }

    isig::SuccessCode_e Open() override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_open) {
                return isig::eSuccess;
            }
        }
        try {
            m_signal->_Open(this);
        } catch (const istd::Exception&) {
            return isig::eTerminated;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_status = isig::eSuccess;
        return isig::eSuccess;
    }

    void Close() override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_open) {
                return;
            }
            m_open = false;
            m_data.notify_all();
        }
        m_signal->_Close(this);
    }

    bool IsOpen() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_open;
    }

    std::string GetName() const override { return m_name; }

    isig::SuccessCode_e ForwardTo(i_NET::_objref_SignalReceiver* receiver) override
    {
        Group group;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_data.wait(lock, [this] { return !m_open || m_status != isig::eSuccess || !m_queue.empty(); });
            if (!m_open) {
                return isig::eCancelled;
            }
            if (m_queue.empty()) {
                return m_status;
            }
            group = std::move(m_queue.front());
            m_queue.pop_front();
        }
        DoDispatch(receiver, group.values.data(), static_cast<unsigned>(group.values.size()), group.meta);
        return isig::eSuccess;
    }

    // Queues a group; false when the oldest one had to make room.
    bool Push(const std::vector<int64_t>& values, const isig::SignalMeta& meta)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bool dropped = false;
        if (m_queue.size() >= m_length) {
            m_queue.pop_front();
            dropped = true;
        }
        m_queue.push_back(Group{values, meta});
        m_data.notify_all();
        return !dropped;
    }

    void End(isig::SuccessCode_e code)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status = code;
        m_data.notify_all();
    }

private:
    struct Group {
        std::vector<int64_t> values;
        isig::SignalMeta meta;
    };

    GeneratedSignal* const m_signal;
    const std::string m_name;
    const size_t m_length;
    mutable std::mutex m_mutex;
    std::condition_variable m_data;
    bool m_open = false;
    isig::SuccessCode_e m_status = isig::eSuccess;
    std::deque<Group> m_queue;
};

GeneratedSignal::GeneratedSignal(const std::string& name, const std::string& owner, std::chrono::milliseconds pace)
    : isig::SignalSource(name, owner), m_pace(pace)
{
}

GeneratedSignal::~GeneratedSignal()
{
    ISTD_TRACE_FNC("examples::GeneratedSignal::~GeneratedSignal()");
    UnregisterSource();
    ShutDown();
}

int64_t GeneratedSignal::ValueAt(int64_t index)
{
    const double pi = std::acos(-1.0);
    return std::llround(1000.0 * std::sin(2.0 * pi * static_cast<double>(index % c_period) / c_period));
}

isig::SignalStats GeneratedSignal::GetStatistics() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return {{"generator", m_produced, m_dropped, AtomSize()}};
}

isig::SignalClientBase* GeneratedSignal::NewSignalClient(const std::string& name, unsigned length)
{
    ISTD_TRACE_FNC("isig::SignalClientBase* examples::GeneratedSignal::NewSignalClient(const std::string&, unsigned)");
    return new Client(this, name, length);
}

void GeneratedSignal::_Open(Client* client)
{
    ISTD_TRACE_FNC("void examples::GeneratedSignal::_Open(Client*)");
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_shutDown) {
        throw istd::Exception("signal " + GetName() + " is shut down.");
    }
    m_open.insert(client);
    if (!m_thread.joinable()) {
        m_thread = std::thread([this] { _Run(); });
    }
}

void GeneratedSignal::_Close(Client* client)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open.erase(client);
}

void GeneratedSignal::ShutDown()
{
    ISTD_TRACE_FNC("void examples::GeneratedSignal::ShutDown()");
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shutDown = true;
        for (Client* client : m_open) {
            client->End(isig::eTerminated);
        }
        m_wake.notify_all();
        thread = std::move(m_thread);
    }
    if (thread.joinable()) {
        thread.join();
    }
}

void GeneratedSignal::Cancel(isig::SuccessCode_e code)
{
    ISTD_TRACE_FNC("void examples::GeneratedSignal::Cancel(isig::SuccessCode_e)");
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Client* client : m_open) {
        client->End(code);
    }
}

void GeneratedSignal::_Run()
{
    ISTD_TRACE_FNC("void examples::GeneratedSignal::_Run()");
    std::unique_lock<std::mutex> lock(m_mutex);
    auto next = std::chrono::steady_clock::now();
    while (!m_shutDown) {
        next += m_pace;
        if (m_wake.wait_until(lock, next, [this] { return m_shutDown; })) {
            break;
        }
        if (m_open.empty()) {
            continue;
        }
        std::vector<int64_t> values;
        values.reserve(2 * c_groupSize);
        for (unsigned i = 0; i < c_groupSize; ++i, ++m_next) {
            values.push_back(m_next);
            values.push_back(ValueAt(m_next));
        }
        const isig::SignalMeta meta{{isig::eMetaSequence, m_next - c_groupSize}};
        m_produced += c_groupSize;
        for (Client* client : m_open) {
            if (!client->Push(values, meta)) {
                m_dropped += c_groupSize;
            }
        }
    }
}

} // namespace examples
