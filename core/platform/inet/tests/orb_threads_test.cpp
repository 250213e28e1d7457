#include <gtest/gtest.h>

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

} // namespace
