#include <gtest/gtest.h>

#include <dirent.h>

#include <any>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>

#include "common/test_nodes.h"
#include "istd/trace_capture.h"
#include "mci/mci.h"
#include "tests/support/wait_until.h"

using mci::c_noRelPath;
using mci::Dispatcher;
using mci::NotificationClient;
using mci::NotificationData;
using mci::TreeNodePtr;
using mcitest::ValueNode;
using testsupport::WaitUntil;

namespace {

using IntNode = ValueNode<int32_t>;

// What one client received, in order, with the thread it ran on.
class Recorder {
public:
    std::shared_ptr<NotificationClient> MakeClient(std::function<void(int32_t)> extra = nullptr)
    {
        return NotificationClient::Create(mci::Callback(mci::CallbackId(), [this, extra](const NotificationData& data) {
            const int32_t value = std::any_cast<int32_t>(data.value);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_values.push_back(value);
                m_threads.push_back(std::this_thread::get_id());
            }
            if (extra) {
                extra(value);
            }
        }));
    }
    std::vector<int32_t> Values() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_values;
    }
    size_t Count() const { return Values().size(); }
    std::vector<std::thread::id> Threads() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_threads;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<int32_t> m_values;
    std::vector<std::thread::id> m_threads;
};

// A gate that a callback waits at until the test opens it.
class Gate {
public:
    void Arrive()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_arrived = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
    }
    bool WaitArrived()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_arrived; });
    }
    void Open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_arrived = false;
    bool m_open = false;
};

class DispatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Dispatcher::GetInstance().Start();
        root = mci::factory::Create<mci::TreeNode>("root", mci::Flags(6));
        node = std::dynamic_pointer_cast<IntNode>(root->Add(std::make_shared<IntNode>("value", std::vector<int32_t>{0})));
    }
    void TearDown() override
    {
        Dispatcher::GetInstance().Start();
        Dispatcher::GetInstance().SetLimits(mci::DeliveryLimits());
    }

    mci::Node Handle() const { return mci::Node(root, {"value"}); }
    void SetValue(int32_t value) { node->Set(value, 0, c_noRelPath); }

    TreeNodePtr root;
    std::shared_ptr<IntNode> node;
};

size_t ThreadCount()
{
    size_t count = 0;
    DIR* dir = opendir("/proc/self/task");
    while (dirent* entry = readdir(dir)) {
        count += entry->d_name[0] != '.';
    }
    closedir(dir);
    return count;
}

} // namespace

TEST(DispatcherStartup, NoThreadBeforeTheFirstNotification)
{
    // In a fresh process: an earlier test of this program may have started the thread.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto check = [] {
        const size_t before = ThreadCount();
        TreeNodePtr node = mci::factory::Create<IntNode>("n", std::vector<int32_t>{0});
        Recorder recorder;
        auto client = recorder.MakeClient();
        const bool subscribed = client->Register(mci::Node(node, c_noRelPath));
        const bool idle = ThreadCount() == before;
        node->Set(int32_t(1), 0, c_noRelPath);
        // More than one when the sanitizer starts its own helper thread with the first thread.
        const bool started = ThreadCount() > before && WaitUntil([&] { return recorder.Count() == 1; });
        std::exit(subscribed && idle && started ? 0 : 1);
    };
    EXPECT_EXIT(check(), ::testing::ExitedWithCode(0), "");
}

TEST_F(DispatcherTest, DeliversEveryNotificationInEmissionOrderOnItsOwnThread)
{
    Recorder first, second;
    auto a = first.MakeClient();
    auto b = second.MakeClient();
    ASSERT_TRUE(a->Register(Handle()));
    ASSERT_TRUE(b->Register(Handle()));
    EXPECT_FALSE(a->Register(Handle())) << "the node refuses a second subscription";

    std::vector<int32_t> expected;
    {
        // Emission happens under the node lock and never waits for delivery.
        auto lock = node->Lock();
        for (int32_t i = 1; i <= 2000; ++i) {
            SetValue(i);
            expected.push_back(i);
        }
    }
    ASSERT_TRUE(WaitUntil([&] { return first.Count() == 2000 && second.Count() == 2000; }));
    EXPECT_EQ(first.Values(), expected);
    EXPECT_EQ(second.Values(), expected);
    for (std::thread::id id : first.Threads()) {
        ASSERT_NE(id, std::this_thread::get_id());
    }
}

TEST_F(DispatcherTest, ConcurrentEmittersKeepTheirOwnOrderAndLoseNothing)
{
    std::vector<std::shared_ptr<IntNode>> nodes;
    for (int i = 0; i < 4; ++i) {
        nodes.push_back(std::make_shared<IntNode>("n" + std::to_string(i), std::vector<int32_t>{0}));
        root->Add(nodes.back());
    }
    Recorder recorder;
    auto client = recorder.MakeClient();
    for (const auto& n : nodes) {
        ASSERT_TRUE(client->Register(mci::Node(n, c_noRelPath)));
    }
    const int32_t perThread = 3000;
    std::vector<std::thread> emitters;
    for (int32_t t = 0; t < 4; ++t) {
        emitters.emplace_back([&, t] {
            for (int32_t i = 0; i < perThread; ++i) {
                nodes[t]->Set(t * perThread + i, 0, c_noRelPath);
            }
        });
    }
    for (auto& emitter : emitters) {
        emitter.join();
    }
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count() == 4 * perThread; }));
    std::vector<int32_t> last(4, -1);
    for (int32_t value : recorder.Values()) {
        const int32_t t = value / perThread;
        EXPECT_GT(value, last[t]);
        last[t] = value;
    }
}

// Several emitters, several clients: each client receives the values of exactly the nodes it
// subscribed to, each node's in the order it set them, and never on an emitter's thread.
TEST_F(DispatcherTest, ConcurrentEmittersReachExactlyTheirClientsInOrder)
{
    constexpr int32_t c_nodes = 4;
    constexpr int32_t c_perNode = 2000;
    std::vector<std::shared_ptr<IntNode>> nodes;
    for (int32_t i = 0; i < c_nodes; ++i) {
        nodes.push_back(std::make_shared<IntNode>("m" + std::to_string(i), std::vector<int32_t>{0}));
        root->Add(nodes.back());
    }
    const std::vector<std::vector<int32_t>> subscriptions{{0, 1}, {1, 2, 3}, {3}, {}};
    std::vector<std::unique_ptr<Recorder>> recorders;
    std::vector<std::shared_ptr<NotificationClient>> clients;
    for (const auto& subscribed : subscriptions) {
        recorders.push_back(std::make_unique<Recorder>());
        clients.push_back(recorders.back()->MakeClient());
        for (int32_t n : subscribed) {
            ASSERT_TRUE(clients.back()->Register(mci::Node(nodes[static_cast<size_t>(n)], c_noRelPath)));
        }
    }
    // The emitters live until everything is delivered: a thread's id may be reused once it has
    // ended, by a sender the pool starts later.
    std::vector<std::thread> emitters;
    std::vector<std::thread::id> emitterIds(c_nodes);
    std::atomic<bool> delivered{false};
    for (int32_t n = 0; n < c_nodes; ++n) {
        emitters.emplace_back([&, n] {
            emitterIds[static_cast<size_t>(n)] = std::this_thread::get_id();
            for (int32_t i = 0; i < c_perNode; ++i) {
                nodes[static_cast<size_t>(n)]->Set(n * c_perNode + i, 0, c_noRelPath);
            }
            while (!delivered.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    bool complete = true;
    for (size_t c = 0; c < subscriptions.size(); ++c) {
        const size_t expected = subscriptions[c].size() * c_perNode;
        complete = complete && WaitUntil([&] { return recorders[c]->Count() >= expected; });
    }
    delivered = true;
    for (auto& emitter : emitters) {
        emitter.join();
    }
    ASSERT_TRUE(complete);
    for (size_t c = 0; c < subscriptions.size(); ++c) {
        SCOPED_TRACE(c);
        std::map<int32_t, std::vector<int32_t>> byNode;
        for (int32_t value : recorders[c]->Values()) {
            byNode[value / c_perNode].push_back(value);
        }
        ASSERT_EQ(byNode.size(), subscriptions[c].size()) << "values of other nodes arrived";
        for (int32_t n : subscriptions[c]) {
            std::vector<int32_t> inOrder(c_perNode);
            std::iota(inOrder.begin(), inOrder.end(), n * c_perNode);
            EXPECT_EQ(byNode[n], inOrder) << "node " << n;
        }
        for (std::thread::id id : recorders[c]->Threads()) {
            EXPECT_EQ(std::count(emitterIds.begin(), emitterIds.end(), id), 0);
        }
    }
}

// One sender, three clients with a long burst each: the sender serves them in turns, and a
// client whose turn ends with notifications left goes back in line and receives them all.
TEST_F(DispatcherTest, ClientWithMoreThanATurnPendingReceivesEverything)
{
    mci::DeliveryLimits one;
    one.minSenders = 1;
    one.maxSenders = 1;
    Dispatcher::GetInstance().SetLimits(one);
    Dispatcher::GetInstance().Stop(); // the pool starts again with one sender
    Dispatcher::GetInstance().Start();
    Gate gate;
    Recorder holder, first, second;
    auto held = holder.MakeClient([&](int32_t value) {
        if (value == 1) {
            gate.Arrive();
        }
    });
    auto a = first.MakeClient();
    auto b = second.MakeClient();
    for (const auto& client : {held, a, b}) {
        ASSERT_TRUE(client->Register(Handle()));
    }
    SetValue(1);
    ASSERT_TRUE(gate.WaitArrived());
    // The only sender is held: the whole burst waits in the queues.
    std::vector<int32_t> expected{1};
    for (int32_t i = 2; i <= 1001; ++i) {
        SetValue(i);
        expected.push_back(i);
    }
    EXPECT_EQ(Dispatcher::GetInstance().GetSenderCount(), 1u);
    gate.Open();
    for (const Recorder* recorder : {&holder, &first, &second}) {
        ASSERT_TRUE(WaitUntil([&] { return recorder->Count() == expected.size(); })) << recorder->Count();
        EXPECT_EQ(recorder->Values(), expected);
    }
}

TEST_F(DispatcherTest, NoCallbackRunsAfterShutdownReturns)
{
    std::atomic<bool> shutDown{false};
    std::atomic<int> late{0};
    Recorder recorder;
    auto client = recorder.MakeClient([&](int32_t) { late += shutDown.load() ? 1 : 0; });
    ASSERT_TRUE(client->Register(Handle()));

    std::atomic<bool> stop{false};
    std::thread emitter([&] {
        for (int32_t i = 0; !stop.load(); ++i) {
            SetValue(i);
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count() > 100; }));
    client->Shutdown();
    shutDown = true;
    const size_t delivered = recorder.Count();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
    emitter.join();

    EXPECT_EQ(late.load(), 0);
    EXPECT_EQ(recorder.Count(), delivered);
    EXPECT_EQ(node->ClientCount(), 0u) << "Shutdown unsubscribes the client";
    EXPECT_FALSE(client->Register(Handle()));
    client->Shutdown(); // a second call does nothing
}

TEST_F(DispatcherTest, ShutdownWaitsForADeliveryUnderWay)
{
    Gate gate;
    Recorder recorder;
    auto client = recorder.MakeClient([&](int32_t) { gate.Arrive(); });
    ASSERT_TRUE(client->Register(Handle()));
    SetValue(1);
    SetValue(2);
    ASSERT_TRUE(gate.WaitArrived());

    std::atomic<bool> returned{false};
    std::thread stopper([&] {
        client->Shutdown();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned.load()) << "the callback is still running";
    gate.Open();
    stopper.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(recorder.Values(), std::vector<int32_t>{1}) << "the queued second notification is skipped";
}

TEST_F(DispatcherTest, ShutdownFromTheClientsOwnCallbackDoesNotWait)
{
    std::weak_ptr<NotificationClient> self;
    Recorder recorder;
    auto client = recorder.MakeClient([&](int32_t value) {
        if (value == 2) {
            self.lock()->Shutdown();
        }
    });
    self = client;
    ASSERT_TRUE(client->Register(Handle()));
    for (int32_t i = 1; i <= 5; ++i) {
        SetValue(i);
    }
    ASSERT_TRUE(WaitUntil([&] { return client->IsShutdown() && node->ClientCount() == 0; }));
    // A later notification for another client proves the queue moved past ours.
    Recorder other;
    auto witness = other.MakeClient();
    ASSERT_TRUE(witness->Register(Handle()));
    SetValue(6);
    ASSERT_TRUE(WaitUntil([&] { return other.Count() == 1; }));
    EXPECT_EQ(recorder.Values(), (std::vector<int32_t>{1, 2}));
}

TEST_F(DispatcherTest, ThrowingCallbackIsTracedAndAffectsNothingElse)
{
    std::atomic<int> calls{0};
    auto thrower = NotificationClient::Create(mci::Callback(mci::CallbackId(), [&](const NotificationData&) {
        ++calls;
        throw istd::Exception("receiver gone");
    }));
    Recorder recorder;
    auto client = recorder.MakeClient();
    ASSERT_TRUE(thrower->Register(Handle()));
    ASSERT_TRUE(client->Register(Handle()));
    istd::TraceCapture capture(istd::eTraceError);
    for (int32_t i = 1; i <= 3; ++i) {
        SetValue(i);
    }
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count() == 3 && calls.load() == 3; }));
    EXPECT_FALSE(thrower->IsBroken());
    EXPECT_TRUE(capture.Contains("failed: receiver gone"));
}

TEST_F(DispatcherTest, BrokenClientIsSkipped)
{
    Recorder brokenRecorder, healthy;
    auto broken = brokenRecorder.MakeClient();
    auto client = healthy.MakeClient();
    ASSERT_TRUE(broken->Register(Handle()));
    ASSERT_TRUE(client->Register(Handle()));
    broken->MarkBroken();
    SetValue(1);
    ASSERT_TRUE(WaitUntil([&] { return healthy.Count() == 1; }));
    EXPECT_EQ(brokenRecorder.Count(), 0u);
    EXPECT_FALSE(broken->Register(mci::Node(root, c_noRelPath)));
}

TEST_F(DispatcherTest, StopJoinsAndDropsTheQueue)
{
    Gate gate;
    Recorder recorder;
    auto client = recorder.MakeClient([&](int32_t value) {
        if (value == 1) {
            gate.Arrive();
        }
    });
    // A node that only the queued notifications keep alive once it leaves the tree.
    auto transient = std::make_shared<IntNode>("transient", std::vector<int32_t>{0});
    std::weak_ptr<IntNode> watch = transient;
    ASSERT_TRUE(client->Register(mci::Node(transient, c_noRelPath)));
    transient->Set(int32_t(1), 0, c_noRelPath);
    ASSERT_TRUE(gate.WaitArrived());
    for (int32_t i = 2; i <= 10; ++i) {
        transient->Set(i, 0, c_noRelPath);
    }
    // Handed to the client's queue meanwhile, and counted there.
    EXPECT_TRUE(WaitUntil([&] { return client->GetPendingCount() == 9u; }));
    EXPECT_EQ(Dispatcher::GetInstance().GetQueueSize(), 9u);
    client->Unregister(mci::Node(transient, c_noRelPath));
    transient.reset();
    EXPECT_FALSE(watch.expired()) << "queued notifications hold the node";

    std::thread stopper([] { Dispatcher::GetInstance().Stop(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    gate.Open();
    stopper.join();
    EXPECT_TRUE(watch.expired()) << "Stop released the queue";
    EXPECT_EQ(recorder.Values(), std::vector<int32_t>{1});

    ASSERT_TRUE(client->Register(Handle()));
    const NotificationData data(Handle(), mci::enums::eValueChanged, istd::Any(int32_t(7)), 0);
    EXPECT_FALSE(Dispatcher::GetInstance().Emit({client->GetId()}, data));
    SetValue(8); // refused by the dispatcher; the set itself succeeds
    Dispatcher::GetInstance().Start();
    EXPECT_TRUE(Dispatcher::GetInstance().Emit({client->GetId()}, data));
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count() == 2; }));
    EXPECT_EQ(recorder.Values(), (std::vector<int32_t>{1, 7}));
}

TEST_F(DispatcherTest, StopFromTheDispatcherThreadIsRefused)
{
    istd::TraceCapture capture(istd::eTraceError);
    Recorder recorder;
    auto client = recorder.MakeClient([](int32_t value) {
        if (value == 1) {
            Dispatcher::GetInstance().Stop();
        }
    });
    ASSERT_TRUE(client->Register(Handle()));
    SetValue(1);
    SetValue(2);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count() == 2; }));
    EXPECT_TRUE(capture.Contains("cannot be stopped from its own thread"));
}

TEST_F(DispatcherTest, EmptyClientSetAndVanishedClients)
{
    const NotificationData data(Handle(), mci::enums::eValueChanged, istd::Any(int32_t(1)), 0);
    EXPECT_FALSE(Dispatcher::GetInstance().Emit({}, data));

    Recorder gone, kept;
    auto transientClient = gone.MakeClient();
    auto client = kept.MakeClient();
    ASSERT_TRUE(transientClient->Register(Handle()));
    ASSERT_TRUE(client->Register(Handle()));
    // Queued for a client that is destroyed before delivery: skipped, the others still served.
    EXPECT_TRUE(Dispatcher::GetInstance().Emit({transientClient->GetId(), client->GetId()}, data));
    transientClient.reset(); // the dispatcher may hold it a moment longer while it delivers
    EXPECT_TRUE(WaitUntil([&] { return node->ClientCount() == 1; })) << "a destroyed client unsubscribes";
    ASSERT_TRUE(WaitUntil([&] { return kept.Count() == 1; }));
}

// Clients whose callbacks stall hold up nobody else: every other client receives each value in
// order while they hang, and the pool grows by the stalled senders only.
TEST_F(DispatcherTest, StalledClientsHoldUpOnlyThemselves)
{
    constexpr int c_stalled = 5;
    std::vector<std::unique_ptr<Gate>> gates;
    std::vector<std::unique_ptr<Recorder>> stalledRecorders;
    std::vector<std::shared_ptr<NotificationClient>> stalled;
    for (int i = 0; i < c_stalled; ++i) {
        gates.push_back(std::make_unique<Gate>());
        stalledRecorders.push_back(std::make_unique<Recorder>());
        Gate* gate = gates.back().get();
        stalled.push_back(stalledRecorders.back()->MakeClient([gate](int32_t) { gate->Arrive(); }));
        ASSERT_TRUE(stalled.back()->Register(Handle()));
    }
    Recorder live;
    auto client = live.MakeClient();
    ASSERT_TRUE(client->Register(Handle()));

    SetValue(1);
    for (const auto& gate : gates) {
        ASSERT_TRUE(gate->WaitArrived());
    }
    std::vector<int32_t> expected{1};
    for (int32_t i = 2; i <= 200; ++i) {
        SetValue(i);
        expected.push_back(i);
        // One at a time: each must arrive while every stalled callback still hangs.
        ASSERT_TRUE(WaitUntil([&] { return live.Count() == expected.size(); })) << i;
    }
    EXPECT_EQ(live.Values(), expected);
    const mci::DeliveryLimits limits = Dispatcher::GetInstance().GetLimits();
    EXPECT_LE(Dispatcher::GetInstance().GetSenderCount(), c_stalled + limits.minSenders);
    for (const auto& one : stalled) {
        EXPECT_EQ(one->GetPendingCount(), 199u);
    }

    // Released, each stalled client receives what it missed, in order.
    for (const auto& gate : gates) {
        gate->Open();
    }
    for (const auto& recorder : stalledRecorders) {
        ASSERT_TRUE(WaitUntil([&] { return recorder->Count() == expected.size(); }));
        EXPECT_EQ(recorder->Values(), expected);
    }
}

// A client whose queue reaches a bound is never thinned: it is broken (with a warning in the
// log), its queue dropped and its subscriptions withdrawn, while the others lose nothing.
TEST_F(DispatcherTest, FullQueueBreaksTheClientWithAWarning)
{
    struct Case {
        const char* what;
        mci::DeliveryLimits limits;
    };
    mci::DeliveryLimits byCount;
    byCount.queueCount = 10;
    mci::DeliveryLimits byBytes;
    byBytes.queueBytes = 10 * mci::NotificationSize(NotificationData(Handle(), mci::enums::eValueChanged,
                                                                       istd::Any(int32_t(0)), 0));
    for (const Case& c : {Case{"count", byCount}, Case{"bytes", byBytes}}) {
        SCOPED_TRACE(c.what);
        Dispatcher::GetInstance().SetLimits(c.limits);
        istd::TraceCapture capture(istd::eTraceWarning);
        Gate gate;
        Recorder slowRecorder, live;
        auto slow = slowRecorder.MakeClient([&](int32_t value) {
            if (value == 1) {
                gate.Arrive();
            }
        });
        auto client = live.MakeClient();
        ASSERT_TRUE(slow->Register(Handle()));
        ASSERT_TRUE(client->Register(Handle()));
        SetValue(1);
        ASSERT_TRUE(gate.WaitArrived());
        // One at a time, so that the live client's queue never fills.
        for (int32_t i = 2; i <= 30; ++i) {
            SetValue(i);
            ASSERT_TRUE(WaitUntil([&] { return live.Count() == static_cast<size_t>(i); }));
            EXPECT_LE(slow->GetPendingCount(), 10u);
        }
        ASSERT_TRUE(WaitUntil([&] { return slow->IsBroken(); }));
        EXPECT_EQ(slow->GetPendingCount(), 0u);
        EXPECT_TRUE(capture.Contains("fell behind: 10 notifications")) << capture.Text();
        gate.Open();
        ASSERT_TRUE(WaitUntil([&] { return node->ClientCount() == 1; })) << "the broken client is unsubscribed";
        SetValue(31);
        ASSERT_TRUE(WaitUntil([&] { return live.Count() == 31; }));
        EXPECT_EQ(slowRecorder.Values(), std::vector<int32_t>{1});
        EXPECT_FALSE(slow->Register(Handle())) << "a broken client subscribes again only as a new one";
        client->Shutdown();
    }
}

TEST_F(DispatcherTest, ClientsComeAndGoWhileNodesEmit)
{
    std::atomic<bool> stop{false};
    std::thread emitter([&] {
        for (int32_t i = 0; !stop.load(); ++i) {
            SetValue(i);
        }
    });
    std::vector<std::thread> churners;
    std::atomic<size_t> received{0};
    for (int t = 0; t < 3; ++t) {
        churners.emplace_back([&] {
            for (int round = 0; round < 50; ++round) {
                // No callback runs once Shutdown has returned, so the callback may count here.
                std::atomic<size_t> mine{0};
                auto client = NotificationClient::Create(mci::Callback(mci::CallbackId(), [&](const NotificationData&) {
                    ++mine;
                    ++received;
                }));
                client->Register(Handle());
                if (round == 0) {
                    // However loaded the machine, notifications reach clients that come and go.
                    EXPECT_TRUE(WaitUntil([&] { return mine.load() > 0; }, std::chrono::seconds(60)));
                } else {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
                if (round % 2 == 0) {
                    client->Unregister(Handle());
                }
                client->Shutdown();
            }
        });
    }
    for (auto& churner : churners) {
        churner.join();
    }
    stop = true;
    emitter.join();
    EXPECT_EQ(node->ClientCount(), 0u);
    EXPECT_GT(received.load(), 0u);
}
