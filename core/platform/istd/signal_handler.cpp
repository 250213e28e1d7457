#include "istd/signal_handler.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "istd/exception.h"
#include "istd/trace.h"

namespace istd {

namespace {

// Every thread object the library handed out. Leaked, so that a thread left to end on its own
// after a Stop time-out never outlives its object, also not during static destruction.
std::mutex& RegistryMutex()
{
    static std::mutex* const mutex = new std::mutex();
    return *mutex;
}

std::vector<std::unique_ptr<SignalHandlerThread>>& Registry()
{
    static auto* const threads = new std::vector<std::unique_ptr<SignalHandlerThread>>();
    return *threads;
}

std::string ErrnoText(const char* what, int error)
{
    return std::string(what) + ": " + std::strerror(error);
}

} // namespace

constexpr std::chrono::seconds SignalHandlerThread::c_stopTimeout;

SignalHandler::~SignalHandler() = default;

SignalHandlerThread* SignalHandlerThread::InstallHandler(SignalHandler* handler, const int* signals)
{
    if (handler == nullptr) {
        throw Exception("SignalHandlerThread: no handler given", true);
    }
    return InstallHandler(*handler, signals);
}

SignalHandlerThread* SignalHandlerThread::InstallHandler(SignalHandler& handler, const int* signals)
{
    ISTD_TRACE_FNC("SignalHandlerThread* istd::SignalHandlerThread::InstallHandler(SignalHandler&, const int*)");
    std::vector<int> list;
    if (signals == nullptr) {
        list = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    } else {
        for (const int* s = signals; *s != 0; ++s) {
            list.push_back(*s);
        }
    }
    std::unique_ptr<SignalHandlerThread> thread(new SignalHandlerThread(handler, std::move(list)));
    thread->_Start();
    std::lock_guard<std::mutex> lock(RegistryMutex());
    Registry().push_back(std::move(thread));
    return Registry().back().get();
}

SignalHandlerThread::SignalHandlerThread(SignalHandler& handler, std::vector<int> signals)
    : m_handler(handler), m_signals(std::move(signals))
{
}

SignalHandlerThread::~SignalHandlerThread()
{
    Stop();
    std::lock_guard<std::mutex> lock(m_joinMutex);
    if (!m_thread.joinable()) {
        _Close();
    }
}

void SignalHandlerThread::_Start()
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : m_signals) {
        if (sigaddset(&set, s) != 0) {
            throw Exception("SignalHandlerThread: invalid signal " + std::to_string(s), true);
        }
    }
    const int error = pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (error != 0) {
        throw Exception("SignalHandlerThread: " + ErrnoText("pthread_sigmask", error), true);
    }
    m_signalFd = ::signalfd(-1, &set, SFD_CLOEXEC);
    if (m_signalFd < 0) {
        const int e = errno;
        throw Exception("SignalHandlerThread: " + ErrnoText("signalfd", e), true);
    }
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (m_wakeFd < 0) {
        const int e = errno;
        _Close();
        throw Exception("SignalHandlerThread: " + ErrnoText("eventfd", e), true);
    }
    try {
        m_thread = std::thread(&SignalHandlerThread::_Run, this);
    } catch (const std::system_error& e) {
        _Close();
        throw Exception(std::string("SignalHandlerThread: cannot start the thread: ") + e.what(), true);
    }
}

void SignalHandlerThread::_Close()
{
    if (m_signalFd >= 0) {
        ::close(m_signalFd);
        m_signalFd = -1;
    }
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
        m_wakeFd = -1;
    }
}

void SignalHandlerThread::_Wake()
{
    const uint64_t one = 1;
    while (::write(m_wakeFd, &one, sizeof(one)) < 0 && errno == EINTR) {
    }
}

void SignalHandlerThread::Deliver(int signal)
{
    if (m_stop.load()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_delivered.push_back(signal);
    }
    _Wake();
}

bool SignalHandlerThread::Stop()
{
    {
        // The thread looks at it under this lock before each Handle: once Stop has seen no
        // Handle under way, none starts.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop.store(true);
    }
    if (m_threadId.load() == std::this_thread::get_id()) {
        _Wake();
        return false; // the thread ends when Handle returns
    }
    std::lock_guard<std::mutex> join(m_joinMutex);
    if (!m_thread.joinable()) {
        return m_finished.load(); // joined before, or left to end on its own
    }
    _Wake();
    bool finished = false;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        finished = m_finishedSignal.wait_for(lock, c_stopTimeout,
                                             [this] { return m_finished.load() || !m_handling; });
    }
    if (!finished) {
        ISTD_TRACE(1, "The signal handler did not return within " << c_stopTimeout.count()
                                                                   << " s; its thread is left to end on its own.");
        m_thread.detach();
        return false;
    }
    // No Handle runs or starts: the thread, woken, only leaves its loop.
    m_thread.join();
    _Close();
    return true;
}

void SignalHandlerThread::_Run()
{
    m_threadId.store(std::this_thread::get_id());
    pollfd fds[2] = {{m_signalFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    while (!m_stop.load()) {
        const int n = ::poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ISTD_TRACE(1, "Signal thread ends: " << ErrnoText("poll", errno));
            break;
        }
        std::vector<int> signals;
        if ((fds[1].revents & POLLIN) != 0) {
            uint64_t count = 0;
            while (::read(m_wakeFd, &count, sizeof(count)) < 0 && errno == EINTR) {
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            signals.assign(m_delivered.begin(), m_delivered.end());
            m_delivered.clear();
        }
        if ((fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo info;
            const ssize_t got = ::read(m_signalFd, &info, sizeof(info));
            if (got == static_cast<ssize_t>(sizeof(info))) {
                signals.push_back(static_cast<int>(info.ssi_signo));
            }
        }
        for (int signal : signals) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_stop.load()) {
                    break;
                }
                m_handling = true;
            }
            try {
                m_handler.Handle(signal);
            } catch (const std::exception& e) {
                ISTD_TRACE(1, "Signal handler failed on signal " << signal << ": " << e.what());
            } catch (...) {
                ISTD_TRACE(1, "Signal handler failed on signal " << signal << ": unknown exception");
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            m_handling = false;
            m_finishedSignal.notify_all();
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished.store(true);
    m_finishedSignal.notify_all();
}

} // namespace istd
