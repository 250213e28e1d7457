#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "inet/tests/support/orb_test_support.h"
#include "tests/support/wait_until.h"

using inettest::OrbTest;
using inettest::TestApplication;

namespace {

class OrbThreadsTest : public OrbTest {};

TEST_F(OrbThreadsTest, OrbRunReturnsWhenAnotherThreadShutsTheOrbDown)
{
    inet::OM()->ActivatePersistent(new TestApplication, inet::c_defaultNetId);
    auto run = std::async(std::launch::async, [] { inet::OM()->ORBRun(); });
    EXPECT_EQ(run.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    inet::OM()->ORBShutdown(true);
    EXPECT_EQ(run.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    run.get();
}

TEST_F(OrbThreadsTest, ServantsComeAndGoFromManyThreadsAtOnce)
{
    const int before = TestApplication::s_alive;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 50; ++i) {
                auto* servant = new TestApplication;
                inet::OM().Activate(servant);
                i_NET::Application_var ref = servant->_this();
                CORBA::String_var version = ref->GetInterfaceVersion(); // a colocated call
                EXPECT_STREQ(version.in(), "test-2.6");
                EXPECT_TRUE(inet::OM().Deactivate(servant));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(testsupport::WaitUntil([&] { return TestApplication::s_alive == before; }));
}

// What a hook uses may go once its removal returned: the hook has ended then, or never starts.
TEST_F(OrbThreadsTest, ARemovedShutdownHookHasEndedAndNeverStartsAgain)
{
    struct State {
        std::atomic<bool> running{false};
        std::atomic<bool> removed{false};
        std::atomic<int> runs{0};
    };
    std::vector<State> states(64);
    std::vector<uint64_t> ids;
    std::atomic<int> late{0};
    for (State& state : states) {
        ids.push_back(inet::OM().AddShutdownHook([&state, &late] {
            late += state.removed ? 1 : 0;
            state.running = true;
            ++state.runs;
            std::this_thread::sleep_for(std::chrono::microseconds(200)); // a window for the removals
            state.running = false;
        }));
    }
    std::thread stopper([] { inet::OM()->ORBShutdown(true); });
    // Once the hooks run, from the last: the stopper runs them from the first, so the two meet.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return states.front().runs.load() == 1; }));
    for (size_t i = states.size(); i-- > 0;) {
        inet::OM().RemoveShutdownHook(ids[i]);
        EXPECT_FALSE(states[i].running) << i;
        states[i].removed = true;
    }
    stopper.join();
    EXPECT_EQ(late.load(), 0);
    for (const State& state : states) {
        EXPECT_LE(state.runs.load(), 1);
    }
}

} // namespace
