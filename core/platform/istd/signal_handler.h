#ifndef ISTD_SIGNAL_HANDLER_H
#define ISTD_SIGNAL_HANDLER_H

// POSIX signals handled on a thread of their own, where the handler may do anything (lock,
// allocate, join other threads) instead of only what a signal handler may do.
//
//     class Stopper : public istd::SignalHandler {
//         void Handle(int signal) override;      // on the signal thread
//     } stopper;
//     istd::SignalHandlerThread* thread = istd::SignalHandlerThread::InstallHandler(stopper, nullptr);
//     ...
//     thread->Stop();                            // before stopper is destroyed
//
// InstallHandler blocks the signals in the calling thread and then starts the signal thread;
// threads started later inherit the blocked set, so a signal sent to the process reaches only
// the signal thread. Call it before any other thread exists: a thread started earlier would
// still take the signals with their default action. The signals stay blocked after Stop.
//
// Tests hand a signal number to the thread with Deliver: Handle then runs on the signal thread
// exactly as for a caught signal, without sending anything to the process.

#include <atomic>
#include <condition_variable>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "istd/istd_export.h"

namespace istd {

class ISTD_API SignalHandler {
public:
    virtual ~SignalHandler();
    // Called on the signal thread for every signal caught, one at a time.
    virtual void Handle(int signal) = 0;
};

class ISTD_API SignalHandlerThread {
public:
    // Longest time Stop waits for a Handle that is under way.
    static constexpr std::chrono::seconds c_stopTimeout{2};

    // Blocks the signals (a list ended by 0; null means SIGINT, SIGTERM, SIGHUP and SIGQUIT) in
    // the calling thread and starts the thread that calls handler.Handle for each one caught.
    // The library keeps the returned object until the process ends; the handler must outlive
    // the thread (call Stop first). Throws istd::Exception when the thread cannot be set up.
    static SignalHandlerThread* InstallHandler(SignalHandler& handler, const int* signals);
    static SignalHandlerThread* InstallHandler(SignalHandler* handler, const int* signals);

    // Ends the thread: no Handle starts after it. From another thread it waits for a Handle
    // under way (c_stopTimeout at most, after which the thread is left to end on its own) and
    // joins; true when the thread was joined (the handler may go then). Called from inside
    // Handle it returns false at once and the thread ends when Handle returns; a later Stop
    // from another thread joins it.
    bool Stop();

    // Runs Handle(signal) on the signal thread as for a caught signal; nothing once stopped.
    void Deliver(int signal);

    // True until the thread has left its loop.
    bool IsRunning() const { return !m_finished.load(); }
    // The signals the thread waits for.
    const std::vector<int>& GetSignals() const { return m_signals; }

    SignalHandlerThread(const SignalHandlerThread&) = delete;
    SignalHandlerThread& operator=(const SignalHandlerThread&) = delete;
    ~SignalHandlerThread();

private:
    SignalHandlerThread(SignalHandler& handler, std::vector<int> signals);
    void _Start();
    void _Run();
    void _Wake();
    void _Close();

    SignalHandler& m_handler;
    const std::vector<int> m_signals;
    int m_signalFd = -1; // the blocked signals, read as they arrive
    int m_wakeFd = -1;   // Deliver and Stop wake the thread through it
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    std::atomic<std::thread::id> m_threadId{};

    std::mutex m_mutex; // m_delivered, m_handling, m_stop's and m_finished's changes
    std::deque<int> m_delivered;
    bool m_handling = false; // a Handle is under way
    std::condition_variable m_finishedSignal;

    std::mutex m_joinMutex; // m_thread, the descriptors
    std::thread m_thread;
};

} // namespace istd

#endif
