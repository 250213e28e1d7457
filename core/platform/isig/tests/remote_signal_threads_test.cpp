#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/remote_signal_fixture.h"

using inettest::TestReceiver;

namespace {

// Receivers live in this process: forwarding calls them directly on the forwarding threads.
class RemoteSignalThreadsTest : public isigtest::RemoteSignalFixture {
protected:
    void SetUp() override
    {
        RemoteSignalFixture::SetUp();
        m_refs.resize(6);
        for (auto& ref : m_refs) {
            m_receivers.push_back(LocalReceiver(ref));
        }
    }
    void TearDown() override
    {
        m_refs.clear();
        RemoteSignalFixture::TearDown();
    }

    // Feeds the source until stopped.
    void StartProducer()
    {
        m_producer = std::thread([this] {
            for (int64_t i = 0; !m_stop; ++i) {
                m_source.Dispatch({i, i});
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    }
    void StopProducer()
    {
        m_stop = true;
        m_producer.join();
    }

    std::vector<TestReceiver*> m_receivers;
    std::vector<i_NET::SignalReceiver_var> m_refs;
    std::thread m_producer;
    std::atomic<bool> m_stop{false};
};

TEST_F(RemoteSignalThreadsTest, DisconnectEndsOnlyThatReceiverWhetherIdleOrBusy)
{
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(m_servant->Connect(m_refs[i], "idle", 4), isig::eSuccess);
    }
    // No data at all: the forwarding thread waits in the client, and Disconnect wakes it.
    m_servant->Disconnect(m_refs[0]);
    EXPECT_EQ(m_receivers[0]->ClosedCodes(), std::vector<int>{isig::eCancelled});
    EXPECT_EQ(m_source.AliveClients(), 2);

    StartProducer();
    ASSERT_TRUE(m_receivers[1]->WaitForReceives(5));
    for (int round = 0; round < 30; ++round) {
        ASSERT_EQ(m_servant->Connect(m_refs[3], "churn", 4), isig::eSuccess);
        m_servant->Disconnect(m_refs[3]);
    }
    StopProducer();
    EXPECT_EQ(m_receivers[3]->ClosedCodes().size(), 30u);
    EXPECT_EQ(m_servant->ConnectionCount(), 2u);
    EXPECT_TRUE(m_receivers[2]->ClosedCodes().empty());
    // The buffers arrived whole and in order.
    const auto values = m_receivers[1]->Values();
    int64_t expected = -1;
    for (const CORBA::Any& any : values) {
        const i_NET::Int64Buffer* buffer = nullptr;
        ASSERT_TRUE(any >>= buffer);
        ASSERT_EQ(buffer->length(), 2u);
        if (expected >= 0) {
            EXPECT_EQ((*buffer)[0], expected);
        }
        expected = (*buffer)[0] + 1;
    }
}

TEST_F(RemoteSignalThreadsTest, ShutDownLeavesNoClientWhileOthersConnectAndDisconnect)
{
    StartProducer();
    std::atomic<int> refused{0};
    std::vector<std::thread> churners;
    for (int t = 0; t < 4; ++t) {
        churners.emplace_back([this, t, &refused] {
            for (int i = 0; i < 200; ++i) {
                const CORBA::Long rc = m_servant->Connect(m_refs[t], "churn", 2);
                if (rc == isig::eTerminated) {
                    ++refused;
                    return;
                }
                EXPECT_EQ(rc, isig::eSuccess);
                m_servant->Disconnect(m_refs[t]);
            }
        });
    }
    ASSERT_EQ(m_servant->Connect(m_refs[5], "steady", 4), isig::eSuccess);
    ASSERT_TRUE(m_receivers[5]->WaitForReceives(3));
    m_servant->ShutDown();
    // Whatever the other threads were doing, no client of the source is left once it returns.
    EXPECT_EQ(m_source.AliveClients(), 0);
    for (auto& thread : churners) {
        thread.join();
    }
    StopProducer();
    EXPECT_EQ(m_source.AliveClients(), 0);
    EXPECT_EQ(m_servant->Connect(m_refs[4], "late", 4), isig::eTerminated);
    EXPECT_EQ(m_receivers[5]->ClosedCodes(), std::vector<int>{isig::eTerminated});
}

} // namespace
