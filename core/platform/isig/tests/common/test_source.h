#ifndef ISIG_TESTS_TEST_SOURCE_H
#define ISIG_TESTS_TEST_SOURCE_H

// A small signal source for the tests: atoms of two int64 components ("code", "timestamp"),
// fed by Dispatch from the test, with clients that queue what was dispatched while they were
// open and forward it one buffer per ForwardTo.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "isig/signal_client.h"
#include "isig/signal_dispatch.h"
#include "isig/signal_source.h"

namespace isigtest {

class TestClient;

class TestSource : public isig::SignalSource, public isig::SignalDispatchBase {
public:
    explicit TestSource(const std::string& name = "test-signal", const std::string& owner = "test-board");
    ~TestSource() override;

    unsigned AtomSize() const override { return 16; }
    unsigned GroupSize() const override { return 4; }
    const std::type_info& AtomType() const override { return typeid(int64_t[2]); }
    const std::type_info& BaseType() const override { return typeid(int64_t); }
    unsigned Length() const override { return 2; }
    std::vector<std::string> GetComponentNames() const override { return {"code", "timestamp"}; }
    isig::AccessType_e AccessType() const override { return isig::eAccessStream; }
    isig::SignalStats GetStatistics() const override;
    isig::SignalClientBase* NewSignalClient(const std::string& name, unsigned length) override;
    void ShutDown() override;
    void Cancel(isig::SuccessCode_e code) override;
    void OnAnnouncedTimestampChange() override { ++announced; }
    void OnAdjustedTimestamp(int64_t offset, uint64_t lmt) override;

    using isig::SignalDispatchBase::Dispatch;
    // Queues the values for every open client.
    void Dispatch(const int64_t* values, unsigned count, const isig::SignalMeta& meta) override;
    void Dispatch(const std::vector<int64_t>& values, const isig::SignalMeta& meta = isig::c_noMeta)
    {
        Dispatch(values.data(), static_cast<unsigned>(values.size()), meta);
    }

    size_t OpenClients() const;
    // Clients made and not yet deleted.
    int AliveClients() const { return m_alive; }

    // What NewSignalClient does: make clients, throw "no clients today", or answer nullptr;
    // and what their Open answers.
    enum NewMode { eMake, eThrow, eNull };
    std::atomic<NewMode> newMode{eMake};
    std::atomic<int> openCode{isig::eSuccess};
    // Hook calls seen.
    std::atomic<int> announced{0};
    std::atomic<int64_t> lastOffset{0};
    std::atomic<bool> throwOnStatistics{false};

private:
    friend class TestClient;
    mutable std::mutex m_mutex;
    std::set<TestClient*> m_open;
    std::atomic<int> m_alive{0};
};

class TestClient : public isig::SignalClientBase {
public:
    TestClient(TestSource* source, const std::string& name);
    ~TestClient() override;

    isig::SuccessCode_e Open() override;
    void Close() override;
    bool IsOpen() const override;
    std::string GetName() const override { return m_name; }
    isig::SuccessCode_e ForwardTo(i_NET::_objref_SignalReceiver* receiver) override;

    void Push(const std::vector<int64_t>& values, const isig::SignalMeta& meta);
    void Cancel(isig::SuccessCode_e code);

private:
    TestSource* const m_source;
    const std::string m_name;
    mutable std::mutex m_mutex;
    std::condition_variable m_data;
    bool m_open = false;
    isig::SuccessCode_e m_status = isig::eSuccess;
    std::deque<std::pair<std::vector<int64_t>, isig::SignalMeta>> m_queue;
};

} // namespace isigtest

#endif
