// Clients that cannot hurt the application: callback references forged by the thousand leave its
// memory bounded and its real clients served, a killed watcher's remote node is ended, and what
// clients send reaches the log escaped, on one line, and no faster than the log can bear.

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/instrument_app_e2e.h"
#include "inet/orb_manager.h"
#include "tests/support/files.h"
#include "tests/support/free_port.h"
#include "tests/support/wait_until.h"

namespace e2e {
namespace {

using testsupport::WaitUntil;

class RemoteLimitsTest : public InstrumentAppTest {
protected:
    // The application with remote nodes idle for a second checked, more settings when given,
    // and, under AddressSanitizer, a small quarantine, so that what the process holds shows in
    // its resident set.
    std::unique_ptr<inettest::ChildProcess> StartChecking(std::vector<std::string> settings = {})
    {
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string options = std::string(asan != nullptr ? asan : "") +
                                    ":quarantine_size_mb=4:thread_local_quarantine_size_kb=64";
        settings.insert(settings.begin(), {"KAVREL_REMOTE_NODE_IDLE_SECONDS=1", "ASAN_OPTIONS=" + options});
        auto process = Start({}, settings);
        EXPECT_TRUE(WaitServing(process.get())) << process->Output();
        return process;
    }

    // A client of this process: a callback object of its own and its remote node.
    i_NET::RemoteNode_ptr Connect(Notes** notes = nullptr)
    {
        auto* servant = new Notes;
        inet::OM().Activate(servant);
        m_callbacks.push_back(servant->_this());
        if (notes != nullptr) {
            *notes = servant;
        }
        i_NET::Application_var app = App();
        return app->GetRemoteNode(m_callbacks.back());
    }

    // SIGTERM; the exit code.
    static int Stop(inettest::ChildProcess& process)
    {
        process.Kill(SIGTERM);
        return process.Wait(120000);
    }

    std::vector<i_NET::Notification_var> m_callbacks;
};

// Requests with callback references that nobody serves, from a client in a process of its own,
// 20 000 at a time: at most 2000 nodes live at once (the rest are refused with NO_RESOURCES), and
// those of clients that do not answer are ended. After a first round has brought the process to
// its working size, a second adds less than 32 MB to its resident set (holding 20 000 nodes took
// over 100 MB under the sanitizers). A client that was there before goes on being served and
// notified throughout, and a new one is served again once the forged ones are ended.
TEST_F(RemoteLimitsTest, ForgedCallbackReferencesLeaveTheMemoryBoundedAndRealClientsServed)
{
    auto process = StartChecking({"KAVREL_MAX_REMOTE_NODES=2000"});
    Notes* notes = nullptr;
    i_NET::RemoteNode_var node = Connect(&notes);
    ASSERT_TRUE(node->Subscribe(Path("application/label")));

    const unsigned nobody = testsupport::FreeLoopbackPort();
    std::vector<int64_t> peaks;
    size_t refused = 0;
    for (int round = 0; round < 2; ++round) {
        int64_t peak = Rss(process->Pid());
        auto flood = Peer(m_appPort, {"nodes", std::to_string(nobody), "20000", "4"});
        ASSERT_TRUE(WaitUntil(
            [&] {
                peak = std::max(peak, Rss(process->Pid()));
                return !flood->IsRunning();
            },
            std::chrono::seconds(600)));
        ASSERT_EQ(flood->Wait(), 0) << flood->Output();
        size_t served = 0;
        size_t refusedNow = 0;
        ASSERT_EQ(std::sscanf(flood->Output().c_str(), "served %zu refused %zu", &served, &refusedNow), 2)
            << flood->Output();
        EXPECT_EQ(served + refusedNow, 20000u);
        refused += refusedNow;
        peaks.push_back(peak);
        std::printf("round %d: %zu served, %zu refused, resident set at most %lld bytes\n", round, served, refusedNow,
                    static_cast<long long>(peak));
        node->SetValue(Path("application/label"), Strings({"round " + std::to_string(round)}), 0);
        EXPECT_EQ(notes->WaitFor(static_cast<size_t>(round) + 1).size(), static_cast<size_t>(round) + 1);
    }
    EXPECT_LT(peaks[1] - peaks[0], int64_t{32} << 20) << peaks[0] << " then " << peaks[1];

    EXPECT_TRUE(WaitUntil(
        [&] {
            try {
                i_NET::RemoteNode_var fresh = Connect();
                return true;
            } catch (const CORBA::NO_RESOURCES&) {
                return false;
            }
        },
        std::chrono::seconds(120)));
    EXPECT_TRUE(WaitUntil([&] { return Has(Log(), "released: its client is gone"); }, std::chrono::seconds(60)))
        << Log();
    if (refused > 0) {
        EXPECT_TRUE(Has(Log(), "WARNING iapp: GetRemoteNode refused: 2000 remote nodes are live")) << Log();
    }
    EXPECT_EQ(Stop(*process), 0) << process->Output();
}

// A watcher killed with SIGKILL leaves its remote node and subscription behind; once it was idle
// for the period the application finds the client gone and ends the node.
TEST_F(RemoteLimitsTest, AKilledWatchersNodeIsEnded)
{
    auto process = StartChecking();
    auto watcher = Peer(m_appPort, {"hold", "application/label", "0", "0"});
    ASSERT_TRUE(WaitUntil([&] { return Has(watcher->Output(), "\n"); }, std::chrono::seconds(60))) << watcher->Output();
    const std::string output = watcher->Output();
    ASSERT_EQ(output.rfind("node IOR:", 0), 0u) << output;
    const std::string reference = output.substr(5, output.find('\n') - 5);
    CORBA::ORB_var orb = inet::OM().GetORB();
    CORBA::Object_var object = orb->string_to_object(reference.c_str());
    i_NET::RemoteNode_var node = i_NET::RemoteNode::_narrow(object);
    EXPECT_FALSE(node->_non_existent());

    watcher->Kill(SIGKILL);
    EXPECT_EQ(watcher->Wait(), -SIGKILL);
    EXPECT_TRUE(WaitUntil([&] { return node->_non_existent(); }, std::chrono::seconds(60)));
    EXPECT_TRUE(Has(Log(), "released: its client is gone")) << Log();
    EXPECT_EQ(Stop(*process), 0) << process->Output();
}

// A path that holds a line of its own with a time stamp and "CRITICAL", a terminal escape and
// bytes that are no UTF-8 is written escaped, inside the one warning of the refusal.
TEST_F(RemoteLimitsTest, AClientsPathReachesTheLogEscapedOnOneLine)
{
    auto process = Start();
    ASSERT_TRUE(WaitServing(process.get())) << process->Output();
    i_NET::RemoteNode_var node = Connect();
    EXPECT_THROW(node->GetNodes(Path("application/x\n2024-01-01 00:00:00.000000 CRITICAL forged\x1b[31m\xff\xfe")),
                 i_NET::NotFound);

    const std::string escaped = "/application/x\\x0a2024-01-01 00:00:00.000000 CRITICAL forged\\x1b[31m\\xff\\xfe";
    ASSERT_TRUE(WaitUntil([&] { return Has(Log(), "refused: mci: node not found: " + escaped); })) << Log();
    const std::string log = Log();
    EXPECT_EQ(CountLines(log, "WARNING ireg: remote look-up of " + escaped + " refused: mci: node not found: " + escaped),
              1u)
        << log;
    EXPECT_EQ(CountLines(log, "CRITICAL"), 1u) << log;
    EXPECT_EQ(log.find_first_of("\x1b\xff\xfe"), std::string::npos) << log;
    EXPECT_EQ(Stop(*process), 0) << process->Output();
}

// 20 000 look-ups of a 4000-character name that does not exist, from four threads: a few lines
// a second, each name cut to 256 bytes, and the count of those left out; under 1 MB in all.
TEST_F(RemoteLimitsTest, RefusedCallsByTheThousandLeaveABoundedLog)
{
    auto process = Start();
    ASSERT_TRUE(WaitServing(process.get())) << process->Output();
    i_NET::RemoteNode_var node = Connect();
    const i_NET::NodePath path = Path(std::string(4000, 'n'));
    std::atomic<int> next{0};
    std::atomic<int> notFound{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = next++; i < 20000; i = next++) {
                try {
                    i_NET::NodeNames_var names = node->GetNodes(path);
                } catch (const i_NET::NotFound&) {
                    ++notFound;
                } catch (const CORBA::Exception&) {
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(notFound.load(), 20000);
    ASSERT_EQ(Stop(*process), 0) << process->Output();

    const std::string log = Log();
    EXPECT_LT(log.size(), size_t{1} << 20);
    const size_t written = CountLines(log, "WARNING ireg: remote look-up of /" + std::string(255, 'n') + "... (4001 bytes)");
    EXPECT_GE(written, 10u) << log.substr(0, 4096);
    EXPECT_LT(written, 2000u);
    EXPECT_GE(CountLines(log, "WARNING ireg: remote look-up refused: "), 1u) << log.substr(0, 4096);
    EXPECT_TRUE(Has(log, " more like this were left out")) << log.substr(0, 4096);
}

} // namespace
} // namespace e2e
