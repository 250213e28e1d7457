// The application's signal handler on the signal thread, against Run on another thread: only
// the first signal acts, a signal during start-up waits for the running state, and one during a
// start-up that fails lets the process go.

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/test_application.h"
#include "inet/orb_manager.h"
#include "istd/log.h"
#include "istd/trace_capture.h"
#include "mci/dispatcher.h"
#include "tests/support/free_port.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

namespace iapptest {
namespace {

class SignalHandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mci::Dispatcher::GetInstance().Start();
        m_port = testsupport::FreeLoopbackPort();
    }
    void TearDown() override { inet::OM().ORBDestroy(); }

    // Waits until the trace holds the text.
    static bool WaitFor(const istd::TraceCapture& trace, const std::string& text)
    {
        return testsupport::WaitUntil([&] { return trace.Contains(text); }, std::chrono::seconds(20));
    }

    unsigned m_port = 0;
};

TEST_F(SignalHandlerTest, TwoSignalsGiveOneShutdown)
{
    istd::TraceCapture trace(istd::eTraceWarning);
    TestApplication app;
    RunningApp running(app, AppArgs(m_port));
    ASSERT_TRUE(running.WaitServing());
    app.Deliver(SIGTERM);
    app.Deliver(SIGINT);
    EXPECT_EQ(running.Join(), 1);
    EXPECT_EQ(app.Count("shutdown"), 1u);
    EXPECT_EQ(app.GetState(), 6);
    // The second one is seen, and nothing more.
    EXPECT_TRUE(WaitFor(trace, "Handle signal: 2"));
    EXPECT_TRUE(trace.Contains("Handle signal: 15"));
}

TEST_F(SignalHandlerTest, SignalDuringStartUpStopsOnceRunning)
{
    istd::TraceCapture trace(istd::eTraceWarning);
    TestApplication app;
    app.SetHookAction([&](const std::string& hook) {
        if (hook == "pre-config") {
            app.Deliver(SIGTERM);
            // The handler has it and waits for the running state.
            ASSERT_TRUE(WaitFor(trace, "Handle signal: 15"));
        }
    });
    RunningApp running(app, AppArgs(m_port));
    EXPECT_EQ(running.Join(), 1);
    EXPECT_EQ(app.Hooks(), (std::vector<std::pair<std::string, int>>{{"pre-init", 1},
                                                                     {"post-init", 2},
                                                                     {"pre-config", 2},
                                                                     {"post-config", 3},
                                                                     {"start-running", 4},
                                                                     {"accept-requests", 4},
                                                                     {"shutdown", 5}}));
    EXPECT_EQ(app.GetState(), 6);
}

TEST_F(SignalHandlerTest, SignalDuringAFailedStartUpLetsTheProcessGo)
{
    // The signal comes while Setup runs and Setup fails; or in the running state before the ORB
    // is set up, which then fails on a port in use.
    for (const char* hook : {"post-config", "start-running"}) {
        SCOPED_TRACE(hook);
        const bool portInUse = std::string(hook) == "start-running";
        std::unique_ptr<testsupport::PortTaken> taken;
        if (portInUse) {
            taken = std::make_unique<testsupport::PortTaken>(m_port);
        }
        istd::TraceCapture trace(istd::eTraceWarning);
        auto app = std::make_unique<TestApplication>();
        app->SetHookAction([&](const std::string& seen) {
            if (seen == hook) {
                app->Deliver(SIGTERM);
                ASSERT_TRUE(WaitFor(trace, "Handle signal: 15"));
                if (!portInUse) {
                    throw std::runtime_error("no clock");
                }
            }
        });
        RunningApp running(*app, AppArgs(m_port));
        EXPECT_EQ(running.Join(), 0);
        EXPECT_TRUE(WaitFor(trace, "start-up failed, nothing to stop"));
        EXPECT_EQ(app->GetState(), 5);
        EXPECT_EQ(app->Count("shutdown"), 1u);
        // The application goes at once: the handler is no longer inside it.
        const auto start = std::chrono::steady_clock::now();
        app.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
}

TEST_F(SignalHandlerTest, ApplicationGoingAwayReleasesAWaitingHandler)
{
    istd::TraceCapture trace(istd::eTraceWarning);
    auto app = std::make_unique<TestApplication>();
    app->SetHookAction([&](const std::string& hook) {
        if (hook == "pre-init") {
            app->Deliver(SIGTERM);
            ASSERT_TRUE(WaitFor(trace, "Handle signal: 15"));
        }
    });
    // Set up by hand: Setup alone never reaches the ORB.
    Argv argv(AppArgs(m_port));
    ASSERT_TRUE(app->Init(argv.Count(), argv.Get()));
    ASSERT_TRUE(app->Setup());
    EXPECT_EQ(app->GetState(), 4);
    app.reset();
    EXPECT_TRUE(trace.Contains("the application is going away"));
}

} // namespace
} // namespace iapptest
