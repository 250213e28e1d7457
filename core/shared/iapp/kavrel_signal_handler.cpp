#include "iapp/kavrel_signal_handler.h"

#include <chrono>

#include "iapp/kavrel_application.h"
#include "inet/orb_manager.h"
#include "istd/trace.h"

namespace iapp {

KavrelSigHandler::KavrelSigHandler(KavrelApplication* application) : m_application(application) {}

KavrelSigHandler::~KavrelSigHandler() = default;

void KavrelSigHandler::Abandon()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_abandoned = true;
    m_changed.notify_all();
    if (m_inside && m_insideThread == std::this_thread::get_id()) {
        return;
    }
    // No time-out: a Handle that sees the flag returns at once, and one in the stop steps is
    // using the application, which must not go before it is done.
    m_changed.wait(lock, [this] { return !m_inside; });
}

void KavrelSigHandler::_Leave()
{
    m_inside = false;
    // Under the mutex: Abandon's caller may free this handler as soon as the mutex is released.
    m_changed.notify_all();
}

void KavrelSigHandler::Handle(int signal)
{
    ISTD_TRACE_FNC("void iapp::KavrelSigHandler::Handle(int)");
    ISTD_TRACE(2, "Handle signal: " << signal);
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_handled) {
            return;
        }
        m_handled = true;
        m_inside = true;
        m_insideThread = std::this_thread::get_id();
        if (!_AwaitRunning(lock)) {
            _Leave();
            return;
        }
    }
    try {
        m_application->m_stopRequested.store(true);
        inet::OM()->HoldRequests();
        m_application->Shutdown();
        m_application->Destroy();
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_mutex);
        _Leave();
        throw;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        _Leave();
    }
    // Run returns once the ORB is down, and the application may go then: nothing of it or of
    // this handler is used from here on.
    inet::OM()->ORBShutdown(true);
}

bool KavrelSigHandler::_AwaitRunning(std::unique_lock<std::mutex>& lock)
{
    for (;;) {
        if (m_abandoned) {
            ISTD_TRACE(2, "Signal handler: the application is going away");
            return false;
        }
        // The state member, not the virtual GetState: the application may be in its destructor,
        // whose derived parts are gone before it abandons this handler.
        const int state = m_application->m_state.load();
        // State 4 comes before the ORB is set up; requests can be held only once it is.
        if (state == 4 && m_application->_IsServing()) {
            return true;
        }
        if (state >= 5) {
            // Run's failure path shuts the tree down itself.
            ISTD_TRACE(2, "Signal handler: start-up failed, nothing to stop");
            return false;
        }
        // Abandon wakes the wait at once; the state is looked at again every half second.
        m_changed.wait_for(lock, std::chrono::milliseconds(500));
    }
}

} // namespace iapp
