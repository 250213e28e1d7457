#ifndef INET_TESTS_ORB_TEST_SUPPORT_H
#define INET_TESTS_ORB_TEST_SUPPORT_H

// Test support shared by the network-layer and signal-layer tests: a real ORB on a loopback
// port per test, child processes as remote clients, and two small servants.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "inet/i_net.hh"
#include "inet/orb_manager.h"

namespace inettest {

// A program run as a child process with its standard output captured.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& args);
    ~ChildProcess(); // kills a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool IsRunning();
    // Waits for the end (at most timeoutMs, then kills it); the exit code, or -signal.
    int Wait(int timeoutMs = 60000);
    void Kill(int signal);
    // Everything the child wrote to standard output so far (complete after Wait).
    std::string Output();
    pid_t Pid() const { return m_pid; }

private:
    void _Drain(bool block);

    pid_t m_pid = -1;
    int m_out = -1;
    int m_status = 0;
    bool m_done = false;
    std::string m_output;
};

// Runs the program to its end: {exit code, standard output}.
std::pair<int, std::string> RunProcess(const std::vector<std::string>& args, int timeoutMs = 60000);

// The ORB initialised on a free loopback port for one test and destroyed after it.
class OrbTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Maximum GIOP message size the test's ORB is initialised with.
    virtual unsigned MaxPacket() const { return 1u << 22; }

    std::string Corbaloc(const std::string& id) const;
    std::string ToString(CORBA::Object_ptr object) const;

    unsigned m_port = 0;
};

// An Application servant; counts the live instances.
class TestApplication : public POA_i_NET::Application {
public:
    TestApplication() { ++s_alive; }
    ~TestApplication() override { --s_alive; }
    char* GetInterfaceVersion() override { return CORBA::string_dup("test-2.6"); }
    i_NET::RemoteNode_ptr GetRemoteNode(i_NET::Notification_ptr) override { return i_NET::RemoteNode::_nil(); }
    void ReleaseRemoteNode(i_NET::Notification_ptr) override {}

    static std::atomic<int> s_alive;
};

// A SignalReceiver that keeps what it received.
class TestReceiver : public POA_i_NET::SignalReceiver {
public:
    void Receive(const CORBA::Any& values, const i_NET::SignalMeta& meta) override;
    void Closed(CORBA::Long code) override;

    std::vector<CORBA::Any> Values() const;
    std::vector<i_NET::SignalMeta> Metas() const;
    std::vector<int> ClosedCodes() const;
    // Waits until `count` Receive calls arrived or timeoutMs passed; true when they did.
    bool WaitForReceives(size_t count, int timeoutMs = 10000) const;
    bool WaitForClosed(int timeoutMs = 10000) const;

private:
    mutable std::mutex m_mutex;
    std::vector<CORBA::Any> m_values;
    std::vector<i_NET::SignalMeta> m_metas;
    std::vector<int> m_closed;
};

} // namespace inettest

#endif
