// The events reader across threads: a client that opens late, shutdown while the reader waits
// or opens, and local-timing commands from several threads while events arrive.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/board_streams.h"
#include "iapp/features/events.h"
#include "iapp/features/local_timing.h"
#include "ireg/reg_node.h"
#include "mci/factory.h"
#include "mci/node.h"
#include "tests/support/wait_until.h"

using testsupport::WaitUntil;

namespace {

const std::vector<ifeature::Events::Description> c_table = {{2, "trigger"}};

// An event stream whose device opens only once the test lets it.
class GatedEventStream : public isig::KavrelEventStream {
public:
    using KavrelEventStream::KavrelEventStream;
    ~GatedEventStream() override
    {
        Release();
        UnregisterSource();
        ShutDown();
    }

    void Release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_released.notify_all();
    }
    std::atomic<int> opening{0};

protected:
    void OpenInput() override
    {
        ++opening;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_released.wait(lock, [this] { return m_open; });
        }
        KavrelEventStream::OpenInput();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_open = false;
};

class EventsThreads : public iapptest::EventBoard {
protected:
    void SetUp() override { StartBoard(); }

    void TearDown() override
    {
        if (root) {
            root->Shutdown();
        }
        gated.reset();
        EventBoard::TearDown();
    }

    ifeature::Events* Make(isig::KavrelEventStream* stream, const std::string& name = "events")
    {
        auto* events = iapp::Create<ifeature::Events>(*board, name, stream, c_table, nullptr);
        events->AddRegistry(top);
        return events;
    }
    uint64_t Count(ifeature::Events* events) const
    {
        uint64_t count = 0;
        mci::Node(events->GetRegistryNode(), {"trigger", "count"}).Get(count);
        return count;
    }
    void MakeGated()
    {
        gated = std::make_unique<GatedEventStream>("gated.event", devices->EventPath(), true, board->GetName());
    }

    mci::TreeNodePtr top = mci::factory::Create<ireg::RegNode>("registry");
    std::unique_ptr<GatedEventStream> gated;
};

TEST_F(EventsThreads, AClientThatOpensLateStillStartsWithinTheWait)
{
    MakeGated();
    ifeature::Events* events = Make(gated.get());
    std::thread opener([&] {
        ASSERT_TRUE(WaitUntil([&] { return gated->opening.load() == 1; }));
        // Well inside the 2000 ms the feature waits.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        gated->Release();
    });
    EXPECT_NO_THROW(events->OnPostConfig());
    opener.join();
    ASSERT_TRUE(devices->event.WaitForOpen());
    ASSERT_TRUE(devices->event.WriteEvent(2, 0, 5));
    EXPECT_TRUE(WaitUntil([&] { return Count(events) == 1; }));
}

TEST_F(EventsThreads, AReaderThatOpensBeforeTheWaitIsNoTimeOut)
{
    // Readers that open at once, before or while PostConfig starts to wait: none is missed.
    for (int i = 0; i < 50; ++i) {
        ifeature::Events* events = Make(eventStream.get(), "events" + std::to_string(i));
        EXPECT_NO_THROW(events->OnPostConfig()) << i;
        events->OnShutdown();
        EXPECT_EQ(events->GetStream(), nullptr);
        board->RemoveChild(events);
    }
    EXPECT_TRUE(WaitUntil([&] { return devices->event.GetOpenDescriptorCount() == 0; }));
}

TEST_F(EventsThreads, ShutdownEndsABlockedReaderPromptly)
{
    ifeature::Events* events = Make(eventStream.get());
    root->PostConfig();
    ASSERT_TRUE(devices->event.WaitForOpen());
    ASSERT_TRUE(devices->event.WriteEvent(2, 0, 1));
    ASSERT_TRUE(WaitUntil([&] { return Count(events) == 1; }));
    // The reader waits for the next event; shutdown cancels its client and joins it.
    const auto before = std::chrono::steady_clock::now();
    root->Shutdown();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(events->GetStream(), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return devices->event.GetOpenDescriptorCount() == 0; }));
    devices->event.WriteEvent(2, 0, 2); // nobody reads it
    EXPECT_EQ(Count(events), 1u);
}

TEST_F(EventsThreads, ShutdownWhileTheReaderOpensEndsIt)
{
    MakeGated();
    ifeature::Events* events = Make(gated.get());
    std::exception_ptr postConfigError;
    std::thread starter([&] {
        try {
            events->OnPostConfig();
        } catch (...) {
            postConfigError = std::current_exception();
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return gated->opening.load() == 1; }));
    std::thread stopper([&] { events->OnShutdown(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    gated->Release();
    stopper.join();
    starter.join();
    EXPECT_FALSE(postConfigError); // it did open, within the time
    EXPECT_EQ(events->GetStream(), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return devices->event.GetOpenDescriptorCount() == 0; }));
}

TEST_F(EventsThreads, LocalTimingCommandsFromSeveralThreadsWhileEventsArrive)
{
    ifeature::Events* events = Make(eventStream.get());
    auto* timing = iapp::Create<ifeature::LocalTiming>(*board, "local_timing", eventStream.get());
    root->PostConfig();
    ASSERT_TRUE(devices->event.WaitForOpen());

    constexpr int c_threads = 4;
    constexpr int c_rounds = 100;
    constexpr int c_events = 200;
    std::vector<std::thread> commanders;
    for (int t = 0; t < c_threads; ++t) {
        commanders.emplace_back([&, t] {
            for (int i = 0; i < c_rounds; ++i) {
                timing->DisableEvent(40 + t);
                timing->EnableEvent(40 + t);
            }
        });
    }
    // In bursts that the reader's queue (two events of every id) holds.
    for (int i = 0; i < c_events; ++i) {
        devices->event.WriteEvent(2, 0, static_cast<uint64_t>(i));
        if (i % 20 == 19 && !WaitUntil([&] { return Count(events) == static_cast<uint64_t>(i + 1); })) {
            ADD_FAILURE() << "events lost by " << i;
            break;
        }
    }
    for (std::thread& commander : commanders) {
        commander.join();
    }
    EXPECT_TRUE(WaitUntil([&] { return Count(events) == c_events; })) << Count(events);
    const auto requests = devices->event.GetRequests();
    EXPECT_EQ(requests.size(), 1u + c_threads * c_rounds * 2);
    for (const auto& request : requests) {
        EXPECT_EQ(request.error, 0);
    }
    EXPECT_EQ(devices->event.GetEnabledMask(), isig::c_allEventMask);
    EXPECT_EQ(devices->event.GetOpenDescriptorCount(), 1u); // the reader's alone
}

} // namespace
