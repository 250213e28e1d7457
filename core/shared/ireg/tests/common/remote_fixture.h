#ifndef IREG_TESTS_COMMON_REMOTE_FIXTURE_H
#define IREG_TESTS_COMMON_REMOTE_FIXTURE_H

// The registry served over a real ORB on a loopback port, with clients in their own processes
// (the ireg_test_client program):
//
//   root (int32, 0)
//     bool int32 uint32 int64 uint64 double float string         scalars
//     bools int32s uint32s int64s uint64s doubles floats strings  arrays
//     empty (int32 array of size 0)
//     enum (isig::AtomType_e, int64), enums (array: double, int32, uint8)
//     cmd (command node), folder (no value) / leaf (int32), ro (readable only), const (constant)
//     validated (int32, refuses 13), plain (a bare tree node), signal (signal node over m_source)
//
// An Application servant of the test's own hands out one ireg::i_RemoteNode_impl per callback
// object, as the application does, and keeps a reference on each so tests can look at them.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "inet/tests/support/orb_test_support.h"
#include "ireg/i_remote_node_impl.h"
#include "ireg/reg_node.h"
#include "isig/tests/common/test_source.h"

namespace iregtest {

class RegistryApplication : public POA_i_NET::Application {
public:
    ~RegistryApplication() override;

    char* GetInterfaceVersion() override { return CORBA::string_dup("2.6"); }
    i_NET::RemoteNode_ptr GetRemoteNode(i_NET::Notification_ptr callback) override;
    void ReleaseRemoteNode(i_NET::Notification_ptr callback) override;

    // Every servant made so far, released or not, in order of creation.
    std::vector<ireg::i_RemoteNode_impl*> Made() const;

private:
    mutable std::mutex m_mutex;
    std::vector<ireg::i_RemoteNode_impl*> m_active;
    std::vector<ireg::i_RemoteNode_impl*> m_made; // one reference of ours on each
};

class RemoteRegistryTest : public inettest::OrbTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A client process running the commands (see ireg_test_client).
    std::unique_ptr<inettest::ChildProcess> StartClient(const std::vector<std::string>& commands);
    // Runs a client to its end; its output.
    std::string RunClient(const std::vector<std::string>& commands);
    // Waits until the client printed the text; false after ten seconds.
    static bool WaitForOutput(inettest::ChildProcess& client, const std::string& text);

    // Declared first: it must outlive the signal node.
    isigtest::TestSource m_source{"acq-1", "acq-board"};
    std::shared_ptr<ireg::RegNode> m_root;
    RegistryApplication* m_app = nullptr;
};

// The client's line for the command: "<command> => <result>\n".
std::string Line(const std::string& command, const std::string& result);

} // namespace iregtest

#endif
