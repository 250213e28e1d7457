// The example application with both simulated boards under load when SIGTERM comes: four client
// threads get and set the timing board's nodes, two receivers take the trigger-code and event
// signals, and a feeder writes trigger-code atoms into the event-receiver board's FIFO. The
// application's process runs under the build's sanitizers; it must end with exit code 0 and
// report nothing, and the receivers must be closed with terminated (-5).

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/registry_e2e.h"
#include "common/sim_app_e2e.h"
#include "tests/support/wait_until.h"

namespace e2e {
namespace {

using testsupport::WaitUntil;

constexpr int c_clients = 4;
const std::string c_pax = "boards/pax3/";

class SimAppThreadsTest : public SimAppTest {
protected:
    SimAppThreadsTest() : SimAppTest(c_twoBoards, "e2e-sim-threads") {}
};

TEST_F(SimAppThreadsTest, SigtermWhileClientsSetReceiversReadAndTheFeederWrites)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    i_NET::RemoteSignal_var codes = m_node->GetRemoteSignal(Path("boards/zolt2/signals/zolt"));
    i_NET::RemoteSignal_var events = m_node->GetRemoteSignal(Path(c_pax + "signals/event"));
    ASSERT_FALSE(CORBA::is_nil(codes));
    ASSERT_FALSE(CORBA::is_nil(events));
    Connected codeReceiver = MakeReceiver();
    Connected eventReceiver = MakeReceiver();
    ASSERT_EQ(codes->Connect(codeReceiver.ref, "codes", 256), 0);
    ASSERT_EQ(events->Connect(eventReceiver.ref, "events", 256), 0);

    static const char* const sources[] = {"Off", "Internal", "Pulse", "External"};
    ClientThreads clients(m_app, c_clients, [](i_NET::RemoteNode_ptr node, int t, CORBA::ULong i) {
        const std::string channel = c_pax + "triggers/t" + std::to_string(t % 3) + "/";
        node->SetValue(Path(channel + "prescaler"),
                       Buffer<i_NET::UInt32Buffer>(std::vector<CORBA::ULong>{i % 1000 + 1}), 0);
        CORBA::Any_var prescaler = node->GetValue(Path(channel + "prescaler"), 0, 0, CORBA::_tc_ulong);
        node->SetValue(Path(channel + "code"), Buffer<i_NET::UInt32Buffer>(std::vector<CORBA::ULong>{i % 16}), 0);
        // Channel 2's source through every name: each turn to Pulse is an event.
        if (t == 2) {
            node->SetValue(Path(c_pax + "triggers/t2/source"), Strings({sources[i % 4]}), 0);
        }
        // The two DAC outputs share the chip's words.
        node->SetValue(Path(c_pax + "mc_dac_controller/DAC8552/output/" + (t % 2 == 0 ? "A" : "B")),
                       Buffer<i_NET::UInt32Buffer>(std::vector<CORBA::ULong>{i % 65536}), 0);
        CORBA::Any_var locked = node->GetValue(Path(c_pax + "clk_mgr/mc/locked"), 0, 0, CORBA::_tc_boolean);
        CORBA::Any_var count = node->GetValue(Path(c_pax + "events/t2/count"), 0, 0, CORBA::_tc_ulonglong);
    });
    std::atomic<bool> stop{false};
    std::atomic<int> fed{0};
    std::thread feeder([&] {
        // Feeds until the application stops reading: Feed is false once it has gone.
        for (int64_t first = 0; !stop; first += 64) {
            const std::vector<ZoltStruct> atoms = CodeAtoms(first, 64);
            if (!Feed("kavrel2.strm0", atoms.data(), atoms.size() * sizeof(ZoltStruct))) {
                break;
            }
            ++fed;
        }
    });

    ASSERT_TRUE(WaitUntil(
        [&] {
            return (clients.Operations() >= 4 * c_clients && codeReceiver.receiver->Count() >= 256 &&
                    eventReceiver.receiver->Count() > 0) ||
                   clients.Failures() > 0;
        },
        std::chrono::seconds(60)))
        << clients.Operations() << " operations, " << codeReceiver.receiver->Count() / 2 << " codes, "
        << eventReceiver.receiver->Count() / 4 << " events";
    clients.Terminating();
    m_process->Kill(SIGTERM);
    const int rc = m_process->Wait(60000);
    clients.Stop();
    stop = true;
    feeder.join();
    m_node = i_NET::RemoteNode::_nil();

    const std::string output = m_process->Output();
    EXPECT_EQ(rc, 0) << output;
    EXPECT_EQ(clients.Failures(), 0);
    EXPECT_EQ(output.find("Sanitizer"), std::string::npos) << output;
    EXPECT_EQ(output.find("runtime error"), std::string::npos) << output;
    EXPECT_TRUE(WaitUntil(
        [&] { return !codeReceiver.receiver->Closes().empty() && !eventReceiver.receiver->Closes().empty(); }));
    EXPECT_EQ(codeReceiver.receiver->Closes(), std::vector<int>{-5});
    EXPECT_EQ(eventReceiver.receiver->Closes(), std::vector<int>{-5});
    // What arrived came in order, each atom whole (a queue that overflowed drops atoms).
    const std::vector<uint64_t> values = codeReceiver.receiver->Values();
    int64_t last = -1;
    for (size_t k = 0; k + 1 < values.size(); k += 2) {
        const auto code = int64_t(values[k]);
        ASSERT_GT(code, last) << "atom " << k / 2;
        ASSERT_EQ(int64_t(values[k + 1]), CodeAtom(code).timestamp) << "atom " << k / 2;
        last = code;
    }
}

} // namespace
} // namespace e2e
