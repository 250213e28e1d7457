// The wait object: waiters woken by their owner's announcements, by a stop flag within a slice,
// and drained by the tree's shutdown.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/component_fixture.h"
#include "iapp/kavrel_feature.h"
#include "iapp/kavrel_wait_object.h"
#include "tests/support/wait_until.h"

namespace iapptest {
namespace {

using testsupport::WaitUntil;

// Announces data by setting m_ready under the mutex and notifying.
class Owner : public iapp::KavrelFeature {
public:
    using iapp::KavrelFeature::KavrelFeature;
};

class Reader : public iapp::KavrelWaitObject {
public:
    Reader(iapp::KavrelObject& parent, const std::string& name, std::condition_variable& signal, std::mutex& lock,
           const bool& ready)
        : iapp::KavrelWaitObject(parent, name, signal, lock), m_ready(ready)
    {
    }
    ~Reader() override { iapp::KavrelWaitObject::OnShutdown(); }

    bool OnIsDataReady(std::shared_ptr<iapp::KavrelObject>) override
    {
        ++m_readyAsked;
        return m_ready;
    }
    bool OnGetData(std::shared_ptr<iapp::KavrelObject> owner) override
    {
        m_owners.push_back(owner.get()); // a reference kept here would own the owner
        if (m_throw) {
            throw std::runtime_error("hook failed");
        }
        return m_answer;
    }

    const bool& m_ready;
    std::atomic<int> m_readyAsked{0};
    bool m_answer = true;
    bool m_throw = false;
    std::vector<iapp::KavrelObject*> m_owners; // under the owner's mutex
};

// A thread that runs WaitForData once and keeps its result.
class Waiter {
public:
    Waiter(iapp::KavrelWaitObject& object, const bool* stop)
        : m_object(object), m_thread([this, &object, stop] {
              const auto start = std::chrono::steady_clock::now();
              try {
                  m_result = object.WaitForData(stop);
              } catch (const std::exception&) {
                  m_threw = true;
              }
              m_elapsed = std::chrono::steady_clock::now() - start;
              m_done = true;
          })
    {
    }
    // A waiter that a failed expectation left behind is released by draining the object.
    ~Waiter()
    {
        if (!m_done) {
            m_object.OnShutdown();
        }
        m_thread.join();
    }

    std::atomic<bool> m_done{false};
    std::atomic<bool> m_result{false};
    std::atomic<bool> m_threw{false};
    std::chrono::steady_clock::duration m_elapsed{};

private:
    iapp::KavrelWaitObject& m_object;
    std::thread m_thread;
};

class WaitObject : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_root = MakeRoot();
        m_owner = iapp::Create<Owner>(*m_root, "owner");
        m_reader = iapp::Create<Reader>(*m_owner, "reader", m_signal, m_mutex, m_ready);
    }
    uint32_t Waiting()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_reader->GetWaiterCount();
    }
    bool WaitForWaiters(uint32_t count)
    {
        return WaitUntil([&] { return Waiting() == count; });
    }
    void Announce(bool ready)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ready = ready;
        }
        m_signal.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_signal;
    bool m_ready = false; // under m_mutex
    bool m_stop = false;  // under m_mutex
    std::shared_ptr<TestRoot> m_root;
    Owner* m_owner = nullptr;
    Reader* m_reader = nullptr;
};

TEST_F(WaitObject, AStopFlagWithoutNotificationEndsTheWaitWithinASlice)
{
    Waiter waiter(*m_reader, &m_stop);
    ASSERT_TRUE(WaitForWaiters(1));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    ASSERT_TRUE(WaitUntil([&] { return waiter.m_done.load(); }));
    EXPECT_FALSE(waiter.m_result.load());
    EXPECT_EQ(Waiting(), 0u);
    EXPECT_EQ(m_reader->m_readyAsked, 0); // a slice that ran out is no announcement
}

TEST_F(WaitObject, AnAnnouncementGivesTheResultOfOnGetDataWithTheOwner)
{
    for (const bool answer : {true, false}) {
        SCOPED_TRACE(answer);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_reader->m_answer = answer;
            m_reader->m_owners.clear();
        }
        Waiter waiter(*m_reader, &m_stop);
        ASSERT_TRUE(WaitForWaiters(1));
        Announce(true);
        ASSERT_TRUE(WaitUntil([&] { return waiter.m_done.load(); }));
        EXPECT_EQ(waiter.m_result.load(), answer);
        std::lock_guard<std::mutex> lock(m_mutex);
        ASSERT_EQ(m_reader->m_owners.size(), 1u);
        EXPECT_EQ(m_reader->m_owners[0], m_owner);
    }
}

TEST_F(WaitObject, AWakeUpWithoutDataWaitsOn)
{
    Waiter waiter(*m_reader, &m_stop);
    ASSERT_TRUE(WaitForWaiters(1));
    Announce(false);
    ASSERT_TRUE(WaitUntil([&] { return m_reader->m_readyAsked.load() > 0; }));
    EXPECT_FALSE(waiter.m_done.load());
    EXPECT_EQ(Waiting(), 1u);
    Announce(true);
    ASSERT_TRUE(WaitUntil([&] { return waiter.m_done.load(); }));
    EXPECT_TRUE(waiter.m_result.load());
}

TEST_F(WaitObject, ShutdownReturnsAfterEveryWaiterLeft)
{
    Waiter first(*m_reader, nullptr);
    Waiter second(*m_reader, nullptr);
    ASSERT_TRUE(WaitForWaiters(2));
    m_root->Shutdown(); // the tree's phase reaches OnShutdown
    EXPECT_EQ(Waiting(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return first.m_done && second.m_done; }));
    EXPECT_FALSE(first.m_result.load());
    EXPECT_FALSE(second.m_result.load());
}

// The drain wakes the waiters rather than waiting for their slices to run out. Each round drains
// waiters that have just begun a slice, so a drain that left them to the slice would take close
// to a slice per round; the rounds together must stay below half that, which leaves a working
// drain a hundred times its usual time on a loaded machine.
TEST_F(WaitObject, ShutdownWakesParkedWaitersAtOnce)
{
    constexpr int c_rounds = 10;
    constexpr size_t c_waiters = 4;
    std::chrono::steady_clock::duration draining{};
    for (int round = 0; round < c_rounds; ++round) {
        SCOPED_TRACE(round);
        m_reader = iapp::Create<Reader>(*m_owner, "reader" + std::to_string(round), m_signal, m_mutex, m_ready);
        std::vector<std::unique_ptr<Waiter>> waiters;
        for (size_t i = 0; i < c_waiters; ++i) {
            waiters.push_back(std::make_unique<Waiter>(*m_reader, nullptr));
        }
        ASSERT_TRUE(WaitForWaiters(c_waiters));
        const auto start = std::chrono::steady_clock::now();
        m_reader->OnShutdown();
        draining += std::chrono::steady_clock::now() - start;
        EXPECT_EQ(Waiting(), 0u);
    }
    EXPECT_LT(draining, c_rounds * iapp::KavrelWaitObject::c_waitSlice / 2)
        << std::chrono::duration_cast<std::chrono::milliseconds>(draining).count() << " ms";
}

TEST_F(WaitObject, AfterShutdownWithoutWaitersLaterWaitsReturnAtOnce)
{
    m_reader->OnShutdown(); // nobody waits: returns at once
    Waiter waiter(*m_reader, &m_stop);
    EXPECT_TRUE(WaitUntil([&] { return waiter.m_done.load(); }, std::chrono::seconds(5)));
    EXPECT_FALSE(waiter.m_result.load());
    EXPECT_LT(waiter.m_elapsed, std::chrono::seconds(5));
}

TEST_F(WaitObject, AFailingOnGetDataCountsTheWaiterOut)
{
    m_reader->m_throw = true;
    {
        Waiter waiter(*m_reader, &m_stop);
        ASSERT_TRUE(WaitForWaiters(1));
        Announce(true);
        ASSERT_TRUE(WaitUntil([&] { return waiter.m_done.load(); }));
        EXPECT_TRUE(waiter.m_threw.load());
    }
    EXPECT_EQ(Waiting(), 0u); // and the owner's mutex was released
    m_reader->OnShutdown();   // does not wait for a waiter that is gone
}

TEST_F(WaitObject, AWaitObjectWhoseParentIsGoneHandsOverAnEmptyOwner)
{
    iapp::KavrelObjectPtr held = m_owner->DetachChild(m_reader);
    m_root->RemoveChild(m_owner); // the owner component is destroyed
    Waiter waiter(*m_reader, &m_stop);
    ASSERT_TRUE(WaitForWaiters(1));
    Announce(true);
    ASSERT_TRUE(WaitUntil([&] { return waiter.m_done.load(); }));
    EXPECT_TRUE(waiter.m_result.load());
    std::lock_guard<std::mutex> lock(m_mutex);
    ASSERT_EQ(m_reader->m_owners.size(), 1u);
    EXPECT_EQ(m_reader->m_owners[0], nullptr);
}

TEST_F(WaitObject, DestroyingTheWaitObjectDrainsItsWaiters)
{
    Waiter waiter(*m_reader, nullptr);
    ASSERT_TRUE(WaitForWaiters(1));
    // Returns once the waiter has left WaitForData: one still inside would use the freed object,
    // which the sanitizers report.
    m_owner->RemoveChild(m_reader);
    m_reader = nullptr;
    // Its thread records the result only after it left.
    ASSERT_TRUE(WaitUntil([&] { return waiter.m_done.load(); }));
    EXPECT_FALSE(waiter.m_result.load());
}

} // namespace
} // namespace iapptest
