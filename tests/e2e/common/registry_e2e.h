#ifndef E2E_COMMON_REGISTRY_E2E_H
#define E2E_COMMON_REGISTRY_E2E_H

// End-to-end tests of the remote registry: the example server (registry-server) runs as a
// process of its own on a port the system chooses, with its configuration and trace files in a
// temporary folder; the tests are its clients, with an ORB in the test process and with
// registry-client processes.

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "inet/tests/support/orb_test_support.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace e2e {

// A program run with its standard error joined to its standard output.
std::unique_ptr<inettest::ChildProcess> StartMerged(const std::vector<std::string>& args);
#ifdef E2E_PEER
// The client e2e_peer (tests/e2e/peer) of the server on the port: e2e_peer args[0] port args[1...].
std::unique_ptr<inettest::ChildProcess> Peer(unsigned port, const std::vector<std::string>& args);
#endif
// The resident set of a process, in bytes (from /proc).
int64_t Rss(pid_t pid);

// The example server as a child process.
class Server {
public:
    // Starts it on a port the system chooses (--port 0) with the configuration file
    // dir/registry-server.xml, the build's types schema and the trace at level 1 in
    // dir/trace.log. Options in `options` (pairs of option and value) replace those or come in
    // addition.
    explicit Server(const std::string& dir, const std::vector<std::string>& options = {});
    // Kills it when it still runs.
    ~Server();

    // Waits (20 s at most) until it serves, and takes the port from the line that says so; false
    // when it ended first or took longer.
    bool WaitServing();
    // Sends the signal and waits for the end: the exit code, or -signal.
    int Stop(int signal = SIGTERM);
    bool IsRunning() { return m_process->IsRunning(); }

    // The port it serves on, once WaitServing answered true (or the one given with --port).
    unsigned Port() const { return m_port; }
    std::string Corbaloc() const;
    // Standard output and error so far.
    std::string Output() { return m_process->Output(); }
    std::string Trace() const;

private:
    std::string m_dir;
    unsigned m_port = 0;
    std::unique_ptr<inettest::ChildProcess> m_process;
};

// registry-client against the port, run to its end: {exit code, standard output and error}.
std::pair<int, std::string> RunClient(unsigned port, const std::vector<std::string>& args);
// The same, started: for watch.
std::unique_ptr<inettest::ChildProcess> StartClient(unsigned port, const std::vector<std::string>& args);

// A callback object in this process: keeps each notification as "<path> [pos] = <value>"
// (the position only when it is not 0; the value as Text() writes it).
class Notes : public POA_i_NET::Notification {
public:
    void Emit(const i_NET::NotificationData& data) override;
    // Waits (15 s at most) until count notifications arrived; all of them so far.
    std::vector<std::string> WaitFor(size_t count);
    std::vector<std::string> Lines();

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<std::string> m_lines;
};

// Client threads of this process, each with a remote node of its own (and a callback object), that
// run body(node, thread, turn) for turn 0, 1, ... until Stop. A CORBA exception ends its thread;
// it is a failure (added to the test's) unless it came after Terminating.
//
//     ClientThreads clients(app, 4, [](i_NET::RemoteNode_ptr node, int t, CORBA::ULong i) { ... });
//     WaitUntil([&] { return clients.Operations() >= 16; });
//     clients.Terminating();
//     process->Kill(SIGTERM);  ... Wait ...
//     clients.Stop();
class ClientThreads {
public:
    using Body = std::function<void(i_NET::RemoteNode_ptr node, int thread, CORBA::ULong turn)>;
    ClientThreads(i_NET::Application_ptr app, int count, Body body);
    // Stops and joins.
    ~ClientThreads();
    ClientThreads(const ClientThreads&) = delete;
    ClientThreads& operator=(const ClientThreads&) = delete;

    // Turns completed by all threads.
    int Operations() const { return m_operations.load(); }
    int Failures() const { return m_failures.load(); }
    // From now on the application may be gone at any call.
    void Terminating() { m_terminating = true; }
    void Stop();

private:
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_terminating{false};
    std::atomic<int> m_operations{0};
    std::atomic<int> m_failures{0};
    std::vector<std::thread> m_threads;
};

// "/a/b" or "a/b" as a node path; "/" is the root.
i_NET::NodePath Path(const std::string& path);
// A CORBA value as "<type> <value>": the type is the buffer's name (Int32Buffer ...) or the
// basic kind (boolean, long, ulong, longlong, ulonglong, double, float, string).
std::string Text(const CORBA::Any& value);
// What f raised, as "NotFound: <text>", "InvalidType: <text>", "ValueException: <text>", the
// system exception as the ORB prints it, or "no error".
std::string Refusal(const std::function<void()>& f);

// The i_NET buffer SEQ holding the values.
template <class SEQ, class T>
CORBA::Any Buffer(const std::vector<T>& values)
{
    SEQ sequence;
    sequence.length(static_cast<CORBA::ULong>(values.size()));
    for (CORBA::ULong i = 0; i < sequence.length(); ++i) {
        if constexpr (std::is_same_v<T, std::string>) {
            sequence[i] = values[i].c_str();
        } else {
            sequence[i] = values[i];
        }
    }
    CORBA::Any any;
    any <<= sequence;
    return any;
}
CORBA::Any Strings(const std::vector<std::string>& values);

// The server started for each test, and this process's ORB for its own clients.
class RegistryServerTest : public inettest::OrbTest {
protected:
    void SetUp() override;
    // Stops the server when it still runs; it must end with exit code 0.
    void TearDown() override;

    // A new client of the server: a callback object of its own (kept by the fixture, in *notes
    // when asked for) and its remote node.
    i_NET::RemoteNode_ptr Connect(Notes** notes = nullptr);
    // Starts a server again on the same folder (after m_server stopped); waits until it serves.
    void Restart(const std::vector<std::string>& extra = {});

    testsupport::TempDir m_dir;
    std::unique_ptr<Server> m_server;
    i_NET::Application_var m_app;
};

} // namespace e2e

#endif
