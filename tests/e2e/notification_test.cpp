// Change notifications, released and renewed remote nodes, a subscriber that dies, the remote
// signal, and persistence across a restart of the example server.

#include <gtest/gtest.h>

#include <omniORB4/CORBA.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/registry_e2e.h"
#include "inet/orb_manager.h"
#include "istd/convert.h"
#include "tests/support/wait_until.h"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

void Pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// How many lines of the text hold the part.
size_t CountOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (const std::string& line : istd::TokenizeString(text, "\n")) {
        count += line.find(part) != std::string::npos ? 1 : 0;
    }
    return count;
}

using NotificationTest = RegistryServerTest;

// A client's subscriptions report what a second client (a process of its own) writes, with the
// path and the value, until it stops its notifications; a released node is gone, and the next
// request makes a fresh one without the old subscriptions.
TEST_F(NotificationTest, SubscribersSeeWhatAnotherClientWrites)
{
    Notes* notes = nullptr;
    i_NET::RemoteNode_var node = Connect(&notes);
    ASSERT_TRUE(node->Subscribe(Path("/settings/count")));
    ASSERT_TRUE(node->Subscribe(Path("/tables/labels")));
    ASSERT_TRUE(node->Subscribe(Path("/settings/mode")));

    EXPECT_EQ(RunClient(m_server->Port(), {"set", "/settings/count", "42"}).first, 0);
    EXPECT_EQ(RunClient(m_server->Port(), {"--pos", "1", "set", "/tables/labels", "x", "y"}).first, 0);
    EXPECT_EQ(RunClient(m_server->Port(), {"set", "/settings/mode", "software"}).first, 0);
    // Refused writes notify nobody.
    EXPECT_EQ(RunClient(m_server->Port(), {"set", "/settings/count", "500"}).first, 1);
    EXPECT_EQ(notes->WaitFor(3), (Lines{"/settings/count = long 42", "/tables/labels [1] = StringBuffer [x, y]",
                                        "/settings/mode = longlong 3"}));

    EXPECT_TRUE(node->Unsubscribe(Path("/settings/mode")));
    EXPECT_FALSE(node->Unsubscribe(Path("/settings/mode")));
    node->StopNotifications();
    EXPECT_FALSE(node->Subscribe(Path("/settings/count")));
    EXPECT_EQ(RunClient(m_server->Port(), {"set", "/settings/count", "43"}).first, 0);
    Pause(300);
    EXPECT_EQ(notes->Lines().size(), 3u);

    i_NET::Notification_var callback = notes->_this();
    m_app->ReleaseRemoteNode(callback);
    EXPECT_EQ(Refusal([&] { node->GetNodeCount(Path("/")); }), "CORBA::OBJECT_NOT_EXIST(OBJECT_NOT_EXIST_NoMatch, CORBA::COMPLETED_NO)");
    i_NET::RemoteNode_var fresh = m_app->GetRemoteNode(callback);
    EXPECT_FALSE(fresh->_is_equivalent(node));
    ASSERT_TRUE(fresh->Subscribe(Path("/settings/count")));
    EXPECT_EQ(RunClient(m_server->Port(), {"set", "/tables/labels", "z"}).first, 0);
    EXPECT_EQ(RunClient(m_server->Port(), {"set", "/settings/count", "44"}).first, 0);
    EXPECT_EQ(notes->WaitFor(4).back(), "/settings/count = long 44");
    Pause(300);
    EXPECT_EQ(notes->Lines().size(), 4u);
}

// A watching client killed outright: the first delivery to it fails, it is marked broken and
// sent nothing more, and the server goes on serving the others.
TEST_F(NotificationTest, KilledSubscriberIsMarkedBrokenAndOthersAreServed)
{
    auto watcher = StartClient(m_server->Port(), {"watch", "/settings/count"});
    ASSERT_TRUE(testsupport::WaitUntil([&] { return watcher->Output().find("watching") != std::string::npos; }))
        << watcher->Output();
    watcher->Kill(SIGKILL);
    EXPECT_EQ(watcher->Wait(), -SIGKILL);

    Notes* notes = nullptr;
    i_NET::RemoteNode_var node = Connect(&notes);
    ASSERT_TRUE(node->Subscribe(Path("/settings/count")));
    i_NET::RemoteNode_var writer = Connect();
    for (CORBA::Long value : {1, 2, 3}) {
        writer->SetValue(Path("/settings/count"), Buffer<i_NET::Int32Buffer, CORBA::Long>({value}), 0);
    }
    EXPECT_EQ(notes->WaitFor(3), (Lines{"/settings/count = long 1", "/settings/count = long 2",
                                        "/settings/count = long 3"}));
    EXPECT_EQ(CountOf(m_server->Trace(), "Unable to send notifications remotely"), 1u) << m_server->Trace();

    const auto [rc, output] = RunClient(m_server->Port(), {"get", "/settings/count"});
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(output, "/settings/count = 3\n");
}

TEST_F(NotificationTest, RemoteSignalDeliversAtoms)
{
    i_NET::RemoteNode_var node = Connect();
    i_NET::RemoteSignal_var signal = node->GetRemoteSignal(Path("/signal"));
    ASSERT_FALSE(CORBA::is_nil(signal));
    CORBA::String_var name = signal->GetName();
    EXPECT_STREQ(name.in(), "ramp");
    EXPECT_EQ(signal->GetAtomSize(), 16u);
    EXPECT_EQ(signal->GetLength(), 2u);
    EXPECT_TRUE(CORBA::is_nil(i_NET::RemoteSignal_var(node->GetRemoteSignal(Path("/settings/count")))));

    auto* receiver = new inettest::TestReceiver;
    inet::OM().Activate(receiver);
    i_NET::SignalReceiver_var reference = receiver->_this();
    EXPECT_EQ(signal->Connect(reference, "e2e", 16), 0);
    ASSERT_TRUE(receiver->WaitForReceives(3));
    signal->Disconnect(reference);
    ASSERT_TRUE(receiver->WaitForClosed());
    EXPECT_EQ(receiver->ClosedCodes(), std::vector<int>{-4});

    // Atoms of (index, value): consecutive indexes, a sine of amplitude 1000 over 64 atoms.
    int64_t next = -1;
    for (const CORBA::Any& values : receiver->Values()) {
        const i_NET::Int64Buffer* atoms = nullptr;
        ASSERT_TRUE(values >>= atoms);
        ASSERT_EQ(atoms->length(), 16u);
        for (CORBA::ULong i = 0; i < atoms->length(); i += 2) {
            const int64_t index = (*atoms)[i];
            EXPECT_TRUE(next < 0 || index == next) << index;
            next = index + 1;
            const int64_t value = (*atoms)[i + 1];
            EXPECT_LE(std::abs(value), 1000);
            if (index % 64 == 16) {
                EXPECT_EQ(value, 1000);
            }
        }
    }
}

// The persistent values written before a stop are back after the start; registers (hardware)
// and values that are not persistent start afresh.
TEST_F(NotificationTest, PersistentValuesSurviveARestart)
{
    const std::vector<std::vector<std::string>> writes = {
        {"set", "/settings/gain", "2.5"},          {"set", "/settings/mode", "external"},
        {"set", "/settings/threshold", "0.125"},   {"set", "/settings/label", "kept"},
        {"--pos", "2", "set", "/tables/modes", "software"},
        {"set", "/settings/led", "true"},          {"set", "/registers/divider", "12"},
    };
    for (const auto& write : writes) {
        EXPECT_EQ(RunClient(m_server->Port(), write).first, 0) << write[2];
    }
    ASSERT_EQ(m_server->Stop(), 0) << m_server->Output();
    const std::string saved = testsupport::ReadFile(m_dir / "registry-server.xml");
    EXPECT_NE(saved.find("<gain value=\"2.5\"/>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<mode value=\"external\"/>"), std::string::npos) << saved;

    Restart();
    EXPECT_NE(m_server->Output().find("registry-server.xml loaded"), std::string::npos) << m_server->Output();
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"/settings/gain", "2.5"},     {"/settings/mode", "external"}, {"/settings/threshold", "0.125"},
        {"/settings/label", "kept"},   {"/tables/modes", "[off, internal, software]"},
        {"/settings/led", "false"},    {"/registers/divider", "0"},
    };
    for (const auto& [path, value] : expected) {
        EXPECT_EQ(RunClient(m_server->Port(), {"get", path}).second, path + " = " + value + "\n");
    }
}

// A configuration file the server cannot read stops the start, and the file stays as it was.
TEST_F(NotificationTest, DamagedConfigurationIsRefusedAndKept)
{
    ASSERT_EQ(m_server->Stop(), 0);
    const std::string damaged = "<configuration><settings><gain value=\"2.5\"></configuration>";
    testsupport::WriteFile(m_dir / "registry-server.xml", damaged);
    Server server(m_dir.Path());
    EXPECT_FALSE(server.WaitServing());
    EXPECT_EQ(server.Stop(), 1);
    EXPECT_NE(server.Output().find("Can't read configuration file"), std::string::npos) << server.Output();
    EXPECT_EQ(testsupport::ReadFile(m_dir / "registry-server.xml"), damaged);
}

} // namespace
} // namespace e2e
