// The application servant: one remote node per client callback object, found by hash and
// equivalence, released on request, and every node ended with the ORB.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "common/application_fixture.h"
#include "iapp/i_kavrel_application_impl.h"
#include "inet/orb_manager.h"
#include "istd/exception.h"
#include "istd/trace_capture.h"
#include "mci/mci.h"
#include "tests/support/wait_until.h"

namespace iapptest {
namespace {

// The number of lines that contain the text.
size_t Count(const istd::TraceCapture& trace, const std::string& text)
{
    size_t count = 0;
    for (const std::string& line : trace.Lines()) {
        count += line.find(text) != std::string::npos ? 1 : 0;
    }
    return count;
}

i_NET::NodePath ValuePath()
{
    i_NET::NodePath path;
    path.length(1);
    path[0] = "value";
    return path;
}

CORBA::ULong RootChildren(i_NET::RemoteNode_ptr node)
{
    return node->GetNodeCount(i_NET::NodePath());
}

// Waits until the node answers no more: it is taken out of the table before it is ended.
bool WaitEnded(i_NET::RemoteNode_ptr node)
{
    return testsupport::WaitUntil(
        [&] {
            try {
                RootChildren(node);
                return false;
            } catch (const CORBA::OBJECT_NOT_EXIST&) {
                return true;
            }
        },
        std::chrono::seconds(30));
}

TEST_F(ApplicationTest, InterfaceVersionIs26)
{
    i_NET::Application_var app = Application();
    CORBA::String_var version = app->GetInterfaceVersion();
    EXPECT_STREQ(version.in(), "2.6");
}

TEST_F(ApplicationTest, EquivalentReferencesShareOneRemoteNode)
{
    i_NET::Application_var app = Application();
    // Two reference objects of one callback object, as two calls of a client unmarshal them.
    i_NET::Notification_var first = Unserved(1, "client");
    i_NET::Notification_var second = Unserved(1, "client");
    ASSERT_NE(first.in(), second.in());

    istd::TraceCapture trace(istd::eTraceInfo);
    i_NET::RemoteNode_var node = app->GetRemoteNode(first);
    i_NET::RemoteNode_var again = app->GetRemoteNode(second);
    EXPECT_TRUE(node->_is_equivalent(again));
    EXPECT_EQ(RootChildren(again), 1u);
    EXPECT_EQ(Count(trace, " New Registry proxy interface with hash "), 1u);
    EXPECT_EQ(Count(trace, "Registry proxy interface with hash " + std::to_string(first->_hash(0xFFFFFFFFu)) +
                               " found at 1/1"),
              1u);
}

TEST_F(ApplicationTest, ClientsWhoseReferencesHashAlikeGetTheirOwnNodes)
{
    i_NET::Application_var app = Application();
    i_NET::Notification_var a = Unserved(1, "client");
    i_NET::Notification_var b = Unserved(2, "client");
    const CORBA::ULong hash = a->_hash(0xFFFFFFFFu);
    ASSERT_EQ(hash, b->_hash(0xFFFFFFFFu)) << "the hash covers the object key alone";
    ASSERT_FALSE(a->_is_equivalent(b));

    i_NET::RemoteNode_var nodeA = app->GetRemoteNode(a);
    i_NET::RemoteNode_var nodeB = app->GetRemoteNode(b);
    EXPECT_FALSE(nodeA->_is_equivalent(nodeB));

    istd::TraceCapture trace(istd::eTraceInfo);
    i_NET::RemoteNode_var againB = app->GetRemoteNode(b);
    i_NET::RemoteNode_var againA = app->GetRemoteNode(a);
    EXPECT_TRUE(againB->_is_equivalent(nodeB));
    EXPECT_TRUE(againA->_is_equivalent(nodeA));
    const std::string prefix = "Registry proxy interface with hash " + std::to_string(hash);
    EXPECT_TRUE(trace.Contains(prefix + " found at 2/2"));
    EXPECT_TRUE(trace.Contains(prefix + " found at 1/2"));
    EXPECT_FALSE(trace.Contains(" New Registry proxy interface"));

    // Releasing one leaves the other in place.
    app->ReleaseRemoteNode(a);
    i_NET::RemoteNode_var stillB = app->GetRemoteNode(b);
    EXPECT_TRUE(stillB->_is_equivalent(nodeB));
}

TEST_F(ApplicationTest, ReleaseOfAClientWithoutNodeChangesNothing)
{
    i_NET::Application_var app = Application();
    i_NET::Notification_var client = Unserved(1, "client");
    i_NET::Notification_var stranger = Unserved(1, "stranger");
    i_NET::RemoteNode_var node = app->GetRemoteNode(client);

    app->ReleaseRemoteNode(stranger);
    app->ReleaseRemoteNode(i_NET::Notification::_nil());

    i_NET::RemoteNode_var again = app->GetRemoteNode(client);
    EXPECT_TRUE(again->_is_equivalent(node));
    EXPECT_EQ(RootChildren(node), 1u);
}

TEST_F(ApplicationTest, ReleasedNodeIsGoneAndTheNextRequestMakesAFreshOne)
{
    i_NET::Application_var app = Application();
    LocalNotification* notes = nullptr;
    i_NET::Notification_var client = Local(&notes);
    i_NET::RemoteNode_var node = app->GetRemoteNode(client);
    ASSERT_TRUE(node->Subscribe(ValuePath()));
    m_value->Set(int32_t(7), 0, mci::c_noRelPath);
    EXPECT_EQ(notes->WaitFor(1), std::vector<int>{7});

    app->ReleaseRemoteNode(client);
    EXPECT_THROW(RootChildren(node), CORBA::OBJECT_NOT_EXIST);

    i_NET::RemoteNode_var fresh = app->GetRemoteNode(client);
    EXPECT_FALSE(fresh->_is_equivalent(node));
    EXPECT_EQ(RootChildren(fresh), 1u);
    // The old subscription went with the old node: this change reaches nobody.
    m_value->Set(int32_t(8), 0, mci::c_noRelPath);
    ASSERT_TRUE(fresh->Subscribe(ValuePath()));
    m_value->Set(int32_t(9), 0, mci::c_noRelPath);
    EXPECT_EQ(notes->WaitFor(2), (std::vector<int>{7, 9}));
}

TEST_F(ApplicationTest, NilCallbackIsRefused)
{
    i_NET::Application_var app = Application();
    EXPECT_THROW(app->GetRemoteNode(i_NET::Notification::_nil()), CORBA::BAD_PARAM);
}

// Nodes still held when the ORB goes: the ORB deletes the application servant and the remote
// nodes in an order of its own; the sanitizers watch that none is used after it went.
TEST_F(ApplicationTest, NodesLeftAtShutdownEndWithTheOrb)
{
    i_NET::Application_var app = Application();
    for (int i = 0; i < 4; ++i) {
        i_NET::Notification_var client = Local();
        i_NET::RemoteNode_var node = app->GetRemoteNode(client);
        ASSERT_TRUE(node->Subscribe(ValuePath()));
    }
    m_value->Set(int32_t(3), 0, mci::c_noRelPath);
}

// A node that cannot be activated is not kept: the next request tries again rather than
// handing out a servant the ORB does not know.
TEST_F(ApplicationTest, FailedActivationLeavesNothingBehind)
{
    i_NET::Notification_var client = Unserved(1, "client");
    inet::OM().ORBDestroy();
    auto* app = new iapp::i_KavrelApplication_impl;
    for (int i = 0; i < 2; ++i) {
        EXPECT_THROW(i_NET::RemoteNode_var node = app->GetRemoteNode(client), istd::Exception);
    }
    app->_remove_ref();
    client = i_NET::Notification::_nil();
    // TearDown destroys the (absent) ORB once more, which does nothing.
}

// The table has a bound: a new client beyond it is refused with a clear error and a warning,
// the clients it holds are still served, and a released node makes room.
TEST_F(ApplicationTest, RemoteNodesBeyondTheLimitAreRefused)
{
    iapp::RemoteNodeLimits limits;
    limits.maxNodes = 2;
    iapp::i_KavrelApplication_impl* servant = StartLimited(limits);
    i_NET::Application_var app = Limited();
    i_NET::Notification_var a = Unserved(1, "a");
    i_NET::Notification_var b = Unserved(1, "b");
    i_NET::Notification_var c = Unserved(1, "c");
    i_NET::RemoteNode_var nodeA = app->GetRemoteNode(a);
    i_NET::RemoteNode_var nodeB = app->GetRemoteNode(b);

    istd::TraceCapture trace(istd::eTraceWarning);
    EXPECT_THROW(app->GetRemoteNode(c), CORBA::NO_RESOURCES);
    EXPECT_TRUE(trace.Contains("iapp: GetRemoteNode refused: 2 remote nodes are live, as many as allowed"))
        << trace.Text();
    i_NET::RemoteNode_var againA = app->GetRemoteNode(a);
    EXPECT_TRUE(againA->_is_equivalent(nodeA));
    EXPECT_EQ(servant->RemoteNodeCount(), 2u);

    app->ReleaseRemoteNode(b);
    i_NET::RemoteNode_var nodeC = app->GetRemoteNode(c);
    EXPECT_EQ(RootChildren(nodeC), 1u);
    EXPECT_EQ(servant->RemoteNodeCount(), 2u);
}

// A client that does not answer loses its node once it was idle for the period; a client that
// answers keeps its node however long it is idle; a client whose node was ended calls it in vain
// and gets a fresh one.
TEST_F(ApplicationTest, NodesOfClientsThatAreGoneAreEndedAndTheOthersKept)
{
    iapp::RemoteNodeLimits limits;
    limits.idlePeriod = std::chrono::milliseconds(200);
    iapp::i_KavrelApplication_impl* servant = StartLimited(limits);
    i_NET::Application_var app = Limited();
    i_NET::Notification_var live = Local();
    i_NET::RemoteNode_var liveNode = app->GetRemoteNode(live);
    ASSERT_TRUE(liveNode->Subscribe(ValuePath()));
    // Idle since before the one that is gone came: asked in the same round or before it.
    i_NET::Notification_var gone = Unserved(1, "gone");
    istd::TraceCapture trace(istd::eTraceInfo);
    i_NET::RemoteNode_var goneNode = app->GetRemoteNode(gone);
    ASSERT_EQ(servant->RemoteNodeCount(), 2u);

    EXPECT_TRUE(testsupport::WaitUntil([&] { return servant->RemoteNodeCount() == 1; }, std::chrono::seconds(30)));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return trace.Contains("released: its client is gone"); })) << trace.Text();
    EXPECT_TRUE(WaitEnded(goneNode));
    EXPECT_EQ(RootChildren(liveNode), 1u);
    i_NET::RemoteNode_var again = app->GetRemoteNode(live);
    EXPECT_TRUE(again->_is_equivalent(liveNode));

    i_NET::RemoteNode_var fresh = app->GetRemoteNode(gone);
    EXPECT_FALSE(fresh->_is_equivalent(goneNode));
    EXPECT_EQ(RootChildren(fresh), 1u);
}

// A client whose notification could not be delivered loses its node with its subscriptions at
// once, as a release would end it.
TEST_F(ApplicationTest, ANodeWhoseNotificationFailedIsEnded)
{
    iapp::i_KavrelApplication_impl* servant = StartLimited(iapp::RemoteNodeLimits());
    i_NET::Application_var app = Limited();
    LocalNotification* notes = nullptr;
    i_NET::Notification_var client = Local(&notes);
    i_NET::RemoteNode_var node = app->GetRemoteNode(client);
    ASSERT_TRUE(node->Subscribe(ValuePath()));
    istd::TraceCapture trace(istd::eTraceInfo);
    inet::OM().Deactivate(notes); // its Emit now fails with OBJECT_NOT_EXIST
    m_value->Set(int32_t(5), 0, mci::c_noRelPath);

    EXPECT_TRUE(testsupport::WaitUntil([&] { return servant->RemoteNodeCount() == 0; }, std::chrono::seconds(30)));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return trace.Contains("released: its client did not take a notification"); }))
        << trace.Text();
    EXPECT_TRUE(WaitEnded(node));
}

TEST_F(ApplicationTest, MaxPacketSizeIsTheOrbs)
{
    EXPECT_EQ(inet::GetMaxPacketSize(), MaxPacket());
}

} // namespace
} // namespace iapptest
