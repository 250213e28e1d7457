// The signal thread: signals sent to the process reach Handle on the signal thread, once per
// signal; Stop joins, also when it is called from inside Handle.

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "istd/exception.h"
#include "istd/signal_handler.h"
#include "istd/trace_capture.h"
#include "tests/support/wait_until.h"

namespace {

using testsupport::WaitUntil;

class Recorder : public istd::SignalHandler {
public:
    void Handle(int signal) override
    {
        std::function<void(int)> action;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_signals.push_back(signal);
            m_threads.push_back(std::this_thread::get_id());
            action = m_action;
        }
        if (action) {
            action(signal);
        }
    }

    std::vector<int> Signals()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_signals;
    }
    std::vector<std::thread::id> Threads()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_threads;
    }
    void SetAction(std::function<void(int)> action)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_action = std::move(action);
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_signals.size();
    }

private:
    std::mutex m_mutex;
    std::vector<int> m_signals;
    std::vector<std::thread::id> m_threads;
    std::function<void(int)> m_action;
};

TEST(SignalHandlerThread, SignalsSentToTheProcessReachHandleOncePerSignal)
{
    Recorder recorder;
    istd::SignalHandlerThread* thread = istd::SignalHandlerThread::InstallHandler(recorder, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(thread->GetSignals(), (std::vector<int>{SIGINT, SIGTERM, SIGHUP, SIGQUIT}));

    // One at a time: a second signal of a kind that is still pending would merge into the first.
    const int sent[] = {SIGTERM, SIGTERM, SIGHUP, SIGINT, SIGQUIT};
    for (size_t i = 0; i < sizeof(sent) / sizeof(sent[0]); ++i) {
        ASSERT_EQ(::kill(::getpid(), sent[i]), 0);
        ASSERT_TRUE(WaitUntil([&] { return recorder.Count() == i + 1; }));
    }
    EXPECT_EQ(recorder.Signals(), (std::vector<int>{SIGTERM, SIGTERM, SIGHUP, SIGINT, SIGQUIT}));
    for (const std::thread::id& id : recorder.Threads()) {
        EXPECT_NE(id, std::this_thread::get_id());
    }
    EXPECT_TRUE(thread->Stop());
    EXPECT_FALSE(thread->IsRunning());
    thread->Deliver(SIGTERM); // stopped: nothing runs
    EXPECT_EQ(recorder.Count(), 5u);
    EXPECT_TRUE(thread->Stop()); // a second Stop finds it joined
}

TEST(SignalHandlerThread, AGivenListIsWhatTheThreadWaitsFor)
{
    Recorder recorder;
    const int signals[] = {SIGUSR1, 0};
    istd::SignalHandlerThread* thread = istd::SignalHandlerThread::InstallHandler(&recorder, signals);
    EXPECT_EQ(thread->GetSignals(), (std::vector<int>{SIGUSR1}));
    // Unblocked, SIGUSR1 would end the test process.
    ASSERT_EQ(::kill(::getpid(), SIGUSR1), 0);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count() == 1; }));
    EXPECT_EQ(recorder.Signals(), (std::vector<int>{SIGUSR1}));
    EXPECT_TRUE(thread->Stop());
}

TEST(SignalHandlerThread, DeliveredNumbersRunOnTheSignalThreadInOrder)
{
    Recorder recorder;
    const int none[] = {0};
    istd::SignalHandlerThread* thread = istd::SignalHandlerThread::InstallHandler(recorder, none);
    for (int signal : {SIGTERM, SIGHUP, 64}) {
        thread->Deliver(signal);
    }
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count() == 3; }));
    EXPECT_EQ(recorder.Signals(), (std::vector<int>{SIGTERM, SIGHUP, 64}));
    EXPECT_NE(recorder.Threads()[0], std::this_thread::get_id());
    EXPECT_TRUE(thread->Stop());
}

TEST(SignalHandlerThread, StopFromInsideHandleDoesNotWaitForItself)
{
    Recorder recorder;
    const int none[] = {0};
    istd::SignalHandlerThread* thread = istd::SignalHandlerThread::InstallHandler(recorder, none);
    std::atomic<int> inside{-1};
    recorder.SetAction([&](int) { inside = thread->Stop() ? 1 : 0; });
    thread->Deliver(SIGTERM);
    thread->Deliver(SIGHUP); // queued behind: never handled once Stop has run
    ASSERT_TRUE(WaitUntil([&] { return !thread->IsRunning(); }));
    EXPECT_EQ(inside.load(), 0);
    EXPECT_TRUE(thread->Stop()); // joins the ended thread
    EXPECT_EQ(recorder.Signals(), (std::vector<int>{SIGTERM}));
}

TEST(SignalHandlerThread, AFailingHandleIsTracedAndTheThreadGoesOn)
{
    Recorder recorder;
    const int none[] = {0};
    istd::SignalHandlerThread* thread = istd::SignalHandlerThread::InstallHandler(recorder, none);
    istd::TraceCapture trace(istd::eTraceError);
    recorder.SetAction([](int signal) {
        if (signal == SIGHUP) {
            throw std::runtime_error("refused");
        }
    });
    thread->Deliver(SIGHUP);
    thread->Deliver(SIGTERM);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count() == 2; }));
    EXPECT_TRUE(thread->Stop());
    EXPECT_TRUE(trace.Contains("Signal handler failed on signal 1: refused"));
}

TEST(SignalHandlerThread, AnInvalidSignalIsRefused)
{
    Recorder recorder;
    const int bad[] = {1000, 0};
    EXPECT_THROW(istd::SignalHandlerThread::InstallHandler(recorder, bad), istd::Exception);
    EXPECT_THROW(istd::SignalHandlerThread::InstallHandler(nullptr, bad), istd::Exception);
}

} // namespace
