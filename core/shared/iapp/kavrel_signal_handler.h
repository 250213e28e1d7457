#ifndef IAPP_KAVREL_SIGNAL_HANDLER_H
#define IAPP_KAVREL_SIGNAL_HANDLER_H

// Stops the application on a POSIX signal. The application owns one and installs it on the
// signal thread of istd::SignalHandlerThread during Setup.
//
// Only the first signal counts. Its Handle waits (looking every 0.5 s) until the application
// runs (state 4) and its ORB loop is about to take requests, then holds new requests, runs the
// application's Shutdown and Destroy and shuts the ORB down, so that Run returns true on the
// main thread. When start-up fails instead (the state passes to 5 without the application
// ever having served), or the application is going away, Handle gives up and runs none of
// these steps: Run's own failure path shuts the tree down and the process can end.

#include <condition_variable>
#include <mutex>
#include <thread>

#include "iapp/iapp_export.h"
#include "istd/signal_handler.h"

namespace iapp {

class KavrelApplication;

class IAPP_API KavrelSigHandler : public istd::SignalHandler {
public:
    // Binds the handler to the application; installs and starts nothing.
    explicit KavrelSigHandler(KavrelApplication* application);
    ~KavrelSigHandler() override;

    KavrelSigHandler(const KavrelSigHandler&) = delete;
    KavrelSigHandler& operator=(const KavrelSigHandler&) = delete;

    // On the signal thread.
    void Handle(int signal) override;

    // The application is being destroyed: a Handle still waiting for start-up returns at once
    // without touching the application, and no later one acts. Returns once no Handle reads or
    // runs the application any more (one in the stop steps is waited for), so that the
    // application may go whatever the signal thread's pace; from inside those steps (the signal
    // thread itself) it returns at once.
    void Abandon();

private:
    // Under m_mutex, which the wait releases. True when the application serves and the stop
    // steps may run; false when they never may (start-up failed, or the handler was abandoned).
    bool _AwaitRunning(std::unique_lock<std::mutex>& lock);
    // Under m_mutex: Handle no longer uses the application.
    void _Leave();

    KavrelApplication* m_application;
    std::mutex m_mutex; // everything below
    std::condition_variable m_changed; // abandoned, or a Handle left the application
    bool m_handled = false;
    bool m_abandoned = false;
    // A Handle reads or runs the application, on this thread.
    bool m_inside = false;
    std::thread::id m_insideThread;
};

} // namespace iapp

#endif
