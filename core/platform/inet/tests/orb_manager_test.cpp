#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "inet/tests/support/orb_test_support.h"
#include "inet/orb_manager.h"
#include "istd/exception.h"
#include "tests/support/free_port.h"
#include "tests/support/wait_until.h"

using inettest::ChildProcess;
using inettest::OrbTest;
using inettest::RunProcess;
using inettest::TestApplication;
using inettest::TestReceiver;

namespace {

std::pair<int, std::string> Client(const std::vector<std::string>& args)
{
    std::vector<std::string> all{INET_TEST_CLIENT};
    all.insert(all.end(), args.begin(), args.end());
    return RunProcess(all);
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class OrbManagerTest : public OrbTest {};

TEST_F(OrbManagerTest, PersistentServantIsReachedByCorbalocFromAnotherProcess)
{
    EXPECT_EQ(inet::c_defaultNetId, "Application");
    inet::OM()->ActivatePersistent(new TestApplication, inet::c_defaultNetId);

    auto [rc, out] = Client({"version", Corbaloc("Application")});
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(out, "test-2.6\n");

    auto [rc2, out2] = Client({"version", Corbaloc("Nobody")});
    EXPECT_EQ(rc2, 2);
    EXPECT_TRUE(Contains(out2, "OBJECT_NOT_EXIST")) << out2;
}

TEST_F(OrbManagerTest, ActivatedServantServesUntilDeactivatedAndIsThenDeleted)
{
    const int before = TestApplication::s_alive;
    auto* servant = new TestApplication;
    inet::OM().Activate(servant);
    i_NET::Application_var first = servant->_this();
    i_NET::Application_var second = servant->_this();
    // _this() names the activation made by Activate rather than making a second one.
    EXPECT_TRUE(first->_is_equivalent(second));
    const std::string ior = ToString(first);

    auto [rc, out] = Client({"version", ior});
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(out, "test-2.6\n");

    // Converted while the servant lives: the conversion to a virtual base reads the object.
    PortableServer::ServantBase* base = servant;
    EXPECT_TRUE(inet::OM().Deactivate(base));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return TestApplication::s_alive == before; }));
    auto [rc2, out2] = Client({"version", ior});
    EXPECT_EQ(rc2, 2);
    EXPECT_TRUE(Contains(out2, "OBJECT_NOT_EXIST")) << out2;

    // The pointer is dangling now: a second withdrawal must not touch it.
    EXPECT_FALSE(inet::OM().Deactivate(base));
}

TEST_F(OrbManagerTest, ActivationRefusalsLeaveTheServantWithTheCaller)
{
    inet::OM()->ActivatePersistent(new TestApplication, "Taken");
    const int before = TestApplication::s_alive;
    auto* servant = new TestApplication;
    try {
        inet::OM()->ActivatePersistent(servant, "Taken");
        FAIL() << "a network id in use was accepted";
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "inet: ActivatePersistent: network id Taken is in use.");
    }
    EXPECT_THROW(inet::OM()->ActivatePersistent(servant, ""), istd::Exception);
    inet::OM()->Activate(servant);
    EXPECT_THROW(inet::OM()->Activate(servant), istd::Exception); // active already
    EXPECT_TRUE(inet::OM()->Deactivate(servant));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return TestApplication::s_alive == before; }));

    auto* never = new TestApplication;
    EXPECT_FALSE(inet::OM()->Deactivate(never));
    never->_remove_ref();
    EXPECT_EQ(TestApplication::s_alive, before);
}

class SmallMessageTest : public OrbTest {
protected:
    unsigned MaxPacket() const override { return 64 * 1024; }
};

TEST_F(SmallMessageTest, MessagesAboveTheMaximumAreRefused)
{
    auto* receiver = new TestReceiver;
    inet::OM().Activate(receiver);
    i_NET::SignalReceiver_var ref = receiver->_this();
    const std::string ior = ToString(ref);

    auto [rc, out] = Client({"send", ior, "1000"});
    EXPECT_EQ(rc, 0) << out;
    auto [rc2, out2] = Client({"send", ior, "100000"}); // 800 kB
    EXPECT_EQ(rc2, 2);
    EXPECT_TRUE(Contains(out2, "MARSHAL") || Contains(out2, "COMM_FAILURE")) << out2;
    // The small message arrived; the large one never reached the servant.
    const std::vector<CORBA::Any> received = receiver->Values();
    ASSERT_EQ(received.size(), 1u);
    const i_NET::DoubleBuffer* values = nullptr;
    ASSERT_TRUE(received[0] >>= values);
    EXPECT_EQ(values->length(), 1000u);
}

TEST_F(OrbManagerTest, HeldRequestsAreNotServedAndFailAtShutdown)
{
    inet::OM()->ActivatePersistent(new TestApplication, "Held");
    inet::OM()->HoldRequests();
    ChildProcess client({INET_TEST_CLIENT, "version", Corbaloc("Held")});
    // While held the call cannot complete; this can only pass wrongly, never fail wrongly.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(client.IsRunning());
    inet::OM()->ORBShutdown(true);
    EXPECT_EQ(client.Wait(), 2);
    EXPECT_FALSE(Contains(client.Output(), "test-2.6")) << client.Output();
}

TEST_F(OrbManagerTest, ShutdownHooksRunOnceInOrderWhileTheOrbStillServes)
{
    inet::OM()->ActivatePersistent(new TestApplication, "Hooked");
    CORBA::ORB_var orb = inet::OM().GetORB();
    CORBA::Object_var object = orb->string_to_object(Corbaloc("Hooked").c_str());
    i_NET::Application_var app = i_NET::Application::_narrow(object);
    std::vector<std::string> ran;
    inet::OM().AddShutdownHook([&] { ran.push_back(CORBA::String_var(app->GetInterfaceVersion()).in()); });
    const uint64_t removed = inet::OM().AddShutdownHook([&] { ran.push_back("removed"); });
    inet::OM().AddShutdownHook([] { throw std::runtime_error("a failing hook"); });
    inet::OM().AddShutdownHook([&] { ran.push_back("last"); });
    inet::OM().RemoveShutdownHook(removed);
    inet::OM().RemoveShutdownHook(removed); // again: nothing

    inet::OM()->ORBShutdown(true);
    inet::OM()->ORBDestroy();
    EXPECT_EQ(ran, (std::vector<std::string>{"test-2.6", "last"}));
}

TEST_F(OrbManagerTest, InitRefusesASecondInitialisation)
{
    EXPECT_TRUE(inet::OM()->IsInitialised());
    char name[] = "test";
    char* argv[] = {name, nullptr};
    int argc = 1;
    try {
        inet::OrbManager::Init(argc, argv, 0, 1 << 20);
        FAIL() << "second Init accepted";
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "inet: The ORB is initialised already.");
    }
    EXPECT_TRUE(inet::OM().IsInitialised());
}

TEST(OrbManagerInit, RefusesBadArgumentsAndABusyPortAndCanStartAgain)
{
    char name[] = "test";
    char* argv[] = {name, nullptr};
    int argc = 1;
    EXPECT_FALSE(inet::OM()->IsInitialised());
    auto* servant = new TestApplication;
    EXPECT_THROW(inet::OM()->Activate(servant), istd::Exception);
    servant->_remove_ref(); // refused before the hand-over: still the caller's
    EXPECT_EQ(TestApplication::s_alive, 0);
    try {
        inet::OrbManager::Init(argc, argv, 70000, 1 << 20);
        FAIL() << "port 70000 accepted";
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "inet: Invalid port: 70000");
    }
    EXPECT_THROW(inet::OrbManager::Init(argc, argv, 0, 0), istd::Exception);

    // A port somebody else listens on.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof(address);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const unsigned busy = ntohs(address.sin_port);
    EXPECT_THROW(inet::OrbManager::Init(argc, argv, busy, 1 << 20), istd::Exception);
    EXPECT_FALSE(inet::OM()->IsInitialised());
    ::close(fd);

    // The manager starts again, also after a destroy: first on a port the system chooses, which
    // GetPort tells, then on a given one.
    EXPECT_THROW(inet::OM().GetPort(), istd::Exception);
    for (const unsigned given : {0u, testsupport::FreeLoopbackPort()}) {
        inet::OrbManager::Init(argc, argv, given, 1 << 20);
        const unsigned port = inet::OM().GetPort();
        if (given != 0) {
            EXPECT_EQ(port, given);
        }
        inet::OM()->ActivatePersistent(new TestApplication, "Application");
        auto [rc, out] = Client({"version", "corbaloc::127.0.0.1:" + std::to_string(port) + "/Application"});
        EXPECT_EQ(rc, 0) << given << ": " << out;
        inet::OM().ORBDestroy();
        EXPECT_FALSE(inet::OM().IsInitialised());
        EXPECT_THROW(inet::OM().GetPort(), istd::Exception);
    }
    inet::OM().ORBDestroy(); // nothing to destroy: no effect
}

} // namespace
