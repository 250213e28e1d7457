// The remote-node servant and the signal node under concurrent use: ORB request threads, the
// notification dispatcher's thread and client processes at once.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/ireg_kinds_util.h"
#include "common/remote_fixture.h"
#include "ireg/signal_node.h"
#include "mci/mci.h"
#include "tests/support/wait_until.h"

using iregtest::Line;
using testsupport::WaitUntil;

namespace {

// A callback object in this process: counts the notifications; Emit can be held at a gate and
// made to fail, as a client that hangs and then goes away.
class LocalNotification : public POA_i_NET::Notification {
public:
    void Emit(const i_NET::NotificationData&) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_entered;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
        ++m_emitted;
        if (m_fail) {
            throw CORBA::TRANSIENT(0, CORBA::COMPLETED_NO);
        }
    }

    void Close(bool fail)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = false;
        m_fail = fail;
    }
    void Open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    bool WaitEntered(int count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_entered >= count; });
    }
    int Emitted()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_emitted;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = true;
    bool m_fail = false;
    int m_entered = 0;
    int m_emitted = 0;
};

class RemoteNodeThreadsTest : public iregtest::RemoteRegistryTest {
protected:
    void SetUp() override
    {
        RemoteRegistryTest::SetUp();
        m_callback = new LocalNotification;
        inet::OM().Activate(m_callback);
        m_callbackRef = m_callback->_this();
        m_int32 = std::dynamic_pointer_cast<ireg::RegNode>(m_root->GetNode("int32"));
    }

    static i_NET::NodeNames Path(const std::string& name)
    {
        i_NET::NodeNames path;
        path.length(1);
        path[0] = name.c_str();
        return path;
    }

    LocalNotification* m_callback = nullptr; // the ORB's
    i_NET::Notification_var m_callbackRef;
    std::shared_ptr<ireg::RegNode> m_int32;
};

TEST_F(RemoteNodeThreadsTest, DestructionWaitsForTheDeliveryUnderWay)
{
    auto* servant = new ireg::i_RemoteNode_impl(m_callbackRef);
    ASSERT_TRUE(servant->Subscribe(Path("int32")));
    // The client hangs in Emit and then fails: the servant marks it broken once Emit returns,
    // so it must still be there; and once destroyed it is called no more.
    m_callback->Close(true);
    m_int32->Set(int32_t(1), 0, mci::c_noRelPath);
    ASSERT_TRUE(m_callback->WaitEntered(1));

    std::atomic<bool> destroyed{false};
    std::thread releaser([&] {
        servant->_remove_ref();
        destroyed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(destroyed.load());
    m_callback->Open();
    releaser.join();
    EXPECT_TRUE(destroyed.load());
    m_int32->Set(int32_t(2), 0, mci::c_noRelPath);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(m_callback->Emitted(), 1);
}

TEST_F(RemoteNodeThreadsTest, StopNotificationsRacesWithDeliveries)
{
    for (int round = 0; round < 20; ++round) {
        auto* servant = new ireg::i_RemoteNode_impl(m_callbackRef);
        ASSERT_TRUE(servant->Subscribe(Path("int32")));
        std::thread writer([&] {
            for (int32_t i = 0; i < 50; ++i) {
                m_int32->Set(i, 0, mci::c_noRelPath);
            }
        });
        std::thread stopper([&] { servant->StopNotifications(); });
        writer.join();
        stopper.join();
        EXPECT_FALSE(servant->IsConnected());
        EXPECT_FALSE(servant->Subscribe(Path("int32")));
        servant->_remove_ref();
    }
}

TEST_F(RemoteNodeThreadsTest, ConcurrentFirstCallsMakeOneRemoteSignal)
{
    for (int round = 0; round < 20; ++round) {
        auto node = iregtest::MakeKind<ireg::SignalNode>("sig", &m_source);
        constexpr int c_threads = 8;
        std::vector<i_NET::RemoteSignal_var> refs(c_threads);
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < c_threads; ++t) {
            threads.emplace_back([&, t] {
                ++ready;
                while (ready.load() < c_threads) {
                    std::this_thread::yield();
                }
                refs[t] = node->GetRemoteSignalRef();
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        for (int t = 1; t < c_threads; ++t) {
            EXPECT_TRUE(refs[0]->_is_equivalent(refs[t])) << "round " << round << ", thread " << t;
        }
    }
}

TEST_F(RemoteNodeThreadsTest, ClientsReadWriteSubscribeAndReleaseAtOnce)
{
    std::vector<std::unique_ptr<inettest::ChildProcess>> loopers;
    for (int i = 0; i < 4; ++i) {
        loopers.push_back(StartClient({"loop int32 100", "get int32s 0 0 long", "set int32s Int32 0 1,2,3,4,5"}));
    }
    std::vector<std::unique_ptr<inettest::ChildProcess>> watchers;
    for (int i = 0; i < 2; ++i) {
        watchers.push_back(StartClient({"subscribe int32", "notes 5", "release", "renew", "subscribe int32",
                                        "notes 10", "stop"}));
    }
    // Server-side writers and readers of the same nodes meanwhile.
    std::atomic<bool> done{false};
    std::thread local([&] {
        int32_t i = 0;
        while (!done) {
            m_int32->Set(++i, 0, mci::c_noRelPath);
            std::vector<int32_t> values;
            m_root->GetNode("int32s")->Get(values, 0, 0, mci::c_noRelPath);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (auto& client : loopers) {
        EXPECT_EQ(client->Wait(), 0);
        const std::string out = client->Output();
        EXPECT_NE(out.find(Line("loop int32 100", "ok")), std::string::npos) << out;
        EXPECT_NE(out.find(Line("get int32s 0 0 long", "Int32Buffer [1, 2, 3, 4, 5]")), std::string::npos) << out;
    }
    for (auto& client : watchers) {
        EXPECT_EQ(client->Wait(), 0);
        const std::string out = client->Output();
        // At least ten notifications in all, more when they came fast.
        const size_t at = out.find("notes 10 => ");
        ASSERT_NE(at, std::string::npos) << out;
        EXPECT_GE(std::stoi(out.substr(at + 12)), 10) << out;
        EXPECT_NE(out.find(Line("stop", "ok")), std::string::npos) << out;
    }
    done = true;
    local.join();
    // One servant per watcher and renewal, one per looper.
    EXPECT_EQ(m_app->Made().size(), 8u);
}

} // namespace
