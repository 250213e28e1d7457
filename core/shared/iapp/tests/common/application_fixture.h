#ifndef IAPP_TESTS_COMMON_APPLICATION_FIXTURE_H
#define IAPP_TESTS_COMMON_APPLICATION_FIXTURE_H

// The application servant served by a real ORB on a loopback port, over a small registry
// (root / "value", an int32), reached through its corbaloc reference like a remote client.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "iapp/i_kavrel_application_impl.h"
#include "inet/tests/support/orb_test_support.h"
#include "ireg/reg_node.h"

namespace iapptest {

// A callback object in this process that keeps the values it was sent (int32 notifications).
class LocalNotification : public POA_i_NET::Notification {
public:
    void Emit(const i_NET::NotificationData& data) override;
    // Waits (ten seconds at most) until count values arrived; the values so far.
    std::vector<int> WaitFor(size_t count);

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<int> m_values;
};

class ApplicationTest : public inettest::OrbTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new reference object to the servant's Application, as a client holds one.
    i_NET::Application_ptr Application() const;
    // A reference to an object that nobody serves: the key on that port of 127.0.0.1. The same
    // key on two ports gives two clients whose references hash alike.
    i_NET::Notification_ptr Unserved(unsigned port, const std::string& key) const;
    // A local callback object, activated; the fixture keeps it.
    i_NET::Notification_ptr Local(LocalNotification** servant = nullptr);
    // A second application servant, with limits of the test's own, beside the fixture's; the ORB
    // owns it. Limited() is a new reference to it, as a client holds one.
    iapp::i_KavrelApplication_impl* StartLimited(const iapp::RemoteNodeLimits& limits);
    i_NET::Application_ptr Limited() const;

    std::shared_ptr<ireg::RegNode> m_root;
    std::shared_ptr<ireg::RegNode> m_value;
};

} // namespace iapptest

#endif
