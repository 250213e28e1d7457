#include "iapp/kavrel_signal_handler.h"

#include <cerrno>
#include <ctime>

#include "iapp/kavrel_application.h"
#include "inet/orb_manager.h"
#include "istd/trace.h"

namespace iapp {

KavrelSigHandler::KavrelSigHandler(KavrelApplication* application) : m_application(application) {}

KavrelSigHandler::~KavrelSigHandler() = default;

void KavrelSigHandler::Abandon()
{
    m_abandoned.store(true);
}

void KavrelSigHandler::Handle(int signal)
{
    ISTD_TRACE_FNC("void iapp::KavrelSigHandler::Handle(int)");
    ISTD_TRACE(2, "Handle signal: " << signal);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_handled) {
            return;
        }
        m_handled = true;
    }
    if (!_AwaitRunning()) {
        return;
    }
    m_application->m_stopRequested.store(true);
    inet::OM()->HoldRequests();
    m_application->Shutdown();
    m_application->Destroy();
    inet::OM()->ORBShutdown(true);
}

bool KavrelSigHandler::_AwaitRunning() const
{
    for (;;) {
        if (m_abandoned.load()) {
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
        timespec wait{0, 500000000};
        while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
        }
    }
}

} // namespace iapp
