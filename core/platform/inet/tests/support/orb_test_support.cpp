#include "inet/tests/support/orb_test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "tests/support/wait_until.h"

extern char** environ;

namespace inettest {

std::atomic<int> TestApplication::s_alive{0};

ChildProcess::ChildProcess(const std::vector<std::string>& args)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error(std::string("posix_spawn ") + args[0] + ": " + std::strerror(rc));
    }
    m_out = pipeFds[0];
    ::fcntl(m_out, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess()
{
    if (!m_done) {
        Kill(SIGKILL);
        Wait();
    }
    if (m_out >= 0) {
        ::close(m_out);
    }
}

void ChildProcess::_Drain(bool block)
{
    if (m_out < 0) {
        return;
    }
    if (block) {
        pollfd p{m_out, POLLIN, 0};
        ::poll(&p, 1, 10);
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_out, buffer, sizeof(buffer));
        if (n > 0) {
            m_output.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n == 0) {
            ::close(m_out);
            m_out = -1;
        }
        return;
    }
}

bool ChildProcess::IsRunning()
{
    if (m_done) {
        return false;
    }
    _Drain(false);
    const pid_t rc = ::waitpid(m_pid, &m_status, WNOHANG);
    if (rc == m_pid) {
        m_done = true;
    }
    return !m_done;
}

int ChildProcess::Wait(int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (IsRunning()) {
        if (std::chrono::steady_clock::now() > end) {
            ADD_FAILURE() << "child " << m_pid << " did not end in " << timeoutMs << " ms";
            Kill(SIGKILL);
            ::waitpid(m_pid, &m_status, 0);
            m_done = true;
            break;
        }
        _Drain(true);
    }
    while (m_out >= 0) {
        _Drain(true);
    }
    if (WIFEXITED(m_status)) {
        return WEXITSTATUS(m_status);
    }
    return WIFSIGNALED(m_status) ? -WTERMSIG(m_status) : -1000;
}

void ChildProcess::Kill(int signal)
{
    if (!m_done) {
        ::kill(m_pid, signal);
    }
}

std::string ChildProcess::Output()
{
    _Drain(false);
    return m_output;
}

std::pair<int, std::string> RunProcess(const std::vector<std::string>& args, int timeoutMs)
{
    ChildProcess child(args);
    const int rc = child.Wait(timeoutMs);
    return {rc, child.Output()};
}

void OrbTest::SetUp()
{
    // Port 0: the system chooses while it binds. A port found free a moment before may be taken
    // by a parallel test in between.
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    int argc = 1;
    inet::OrbManager::Init(argc, argv, 0, MaxPacket());
    m_port = inet::OM().GetPort();
}

void OrbTest::TearDown()
{
    inet::OM().ORBDestroy();
}

std::string OrbTest::Corbaloc(const std::string& id) const
{
    return "corbaloc::127.0.0.1:" + std::to_string(m_port) + "/" + id;
}

std::string OrbTest::ToString(CORBA::Object_ptr object) const
{
    CORBA::ORB_var orb = inet::OM().GetORB();
    CORBA::String_var text = orb->object_to_string(object);
    return text.in();
}

void TestReceiver::Receive(const CORBA::Any& values, const i_NET::SignalMeta& meta)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values.push_back(values);
    m_metas.push_back(meta);
}

void TestReceiver::Closed(CORBA::Long code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed.push_back(code);
}

std::vector<CORBA::Any> TestReceiver::Values() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_values;
}

std::vector<i_NET::SignalMeta> TestReceiver::Metas() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_metas;
}

std::vector<int> TestReceiver::ClosedCodes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
}

bool TestReceiver::WaitForReceives(size_t count, int timeoutMs) const
{
    return testsupport::WaitUntil([&] { return Values().size() >= count; }, std::chrono::milliseconds(timeoutMs));
}

bool TestReceiver::WaitForClosed(int timeoutMs) const
{
    return testsupport::WaitUntil([&] { return !ClosedCodes().empty(); }, std::chrono::milliseconds(timeoutMs));
}

} // namespace inettest
