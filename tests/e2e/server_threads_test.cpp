// The example server under concurrent clients: threads of this process get and set while
// others subscribe and release, and SIGTERM stops the server in the middle of it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/registry_e2e.h"
#include "inet/orb_manager.h"
#include "tests/support/wait_until.h"

namespace e2e {
namespace {

constexpr int c_writers = 8;
constexpr int c_subscribers = 4;

class ServerThreadsTest : public RegistryServerTest {
protected:
    // Runs f until m_stop; a CORBA exception before the server was told to stop is a failure.
    template <class F>
    void Loop(F f)
    {
        try {
            for (int i = 0; !m_stop; ++i) {
                f(i);
                ++m_operations;
            }
        } catch (const CORBA::Exception& e) {
            if (!m_terminating) {
                ++m_failures;
                ADD_FAILURE() << inet::ExceptionText(e);
            }
        }
    }

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_terminating{false};
    std::atomic<int> m_operations{0};
    std::atomic<int> m_failures{0};
};

TEST_F(ServerThreadsTest, ConcurrentClientsThenSigterm)
{
    static const char* const modes[] = {"off", "internal", "external", "software"};
    std::vector<std::thread> threads;
    for (int t = 0; t < c_writers; ++t) {
        threads.emplace_back([this, t] {
            i_NET::RemoteNode_var node = Connect();
            Loop([&](int i) {
                node->SetValue(Path("/settings/count"), Buffer<i_NET::Int32Buffer, CORBA::Long>({i % 100}), 0);
                CORBA::Any_var count = node->GetValue(Path("/settings/count"), 0, 1, CORBA::_tc_long);
                node->SetValue(Path("/tables/counts"), Buffer<i_NET::Int32Buffer, CORBA::Long>({i}),
                               static_cast<CORBA::ULong>(t % 4));
                // Two fields of one register word written at once by different threads.
                node->SetValue(t % 2 == 0 ? Path("/registers/divider") : Path("/registers/enable"),
                               t % 2 == 0 ? Buffer<i_NET::UInt32Buffer, CORBA::ULong>({static_cast<CORBA::ULong>(i % 256)})
                                          : Buffer<i_NET::BooleanBuffer, CORBA::Boolean>({i % 2 == 0}),
                               0);
                node->SetValue(Path("/settings/mode"), Strings({modes[i % 4]}), 0);
                CORBA::Any_var words = node->GetValue(Path("/registers/words"), 0, 0, CORBA::_tc_ulong);
                i_NET::NodeNames_var names = node->GetNodes(Path("/tables"));
            });
        });
    }
    for (int t = 0; t < c_subscribers; ++t) {
        threads.emplace_back([this] {
            auto* notes = new Notes;
            inet::OM().Activate(notes);
            i_NET::Notification_var callback = notes->_this();
            Loop([&](int) {
                i_NET::RemoteNode_var node = m_app->GetRemoteNode(callback);
                node->Subscribe(Path("/settings/count"));
                node->Subscribe(Path("/tables/counts"));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                m_app->ReleaseRemoteNode(callback);
            });
        });
    }

    std::this_thread::sleep_for(std::chrono::seconds(2));
    // A loaded machine may not have served every thread yet.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return m_operations.load() > c_writers + c_subscribers; },
                                       std::chrono::seconds(60)));
    m_terminating = true;
    const int rc = m_server->Stop(SIGTERM);
    m_stop = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(rc, 0) << m_server->Output();
    EXPECT_EQ(m_failures.load(), 0);
    EXPECT_GT(m_operations.load(), c_writers + c_subscribers);
    const std::string output = m_server->Output();
    EXPECT_EQ(output.find("Sanitizer"), std::string::npos) << output;
    EXPECT_EQ(output.find("runtime error"), std::string::npos) << output;
    EXPECT_NE(output.find("registry-server: stopped"), std::string::npos) << output;
}

} // namespace
} // namespace e2e
