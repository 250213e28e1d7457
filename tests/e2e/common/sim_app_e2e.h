#ifndef E2E_COMMON_SIM_APP_E2E_H
#define E2E_COMMON_SIM_APP_E2E_H

// End-to-end tests of the example application with boards: instrument-app in the foreground on
// a free loopback port, with the simulated chassis controller and the simulated boards preloaded
// into its process (KAVREL_SIM_CHASSIS, the chassis file the test gives), its registry persisted
// in a temporary folder (--config-registry, app.xml), the feed FIFOs of its stream devices
// (KAVREL_SIM_FEED_DIR: "<folder>/kavrel3.event", "<folder>/kavrel2.strm0") and the boards' log
// (board.log) in that folder too. The test is the application's remote client.
//
//     class MyTest : public e2e::SimAppTest {
//     protected:
//         MyTest() : SimAppTest(c_twoBoards, "e2e-my") {}
//     };
//     TEST_F(MyTest, X) {
//         ASSERT_NO_FATAL_FAILURE(Start());
//         EXPECT_EQ(Get("boards/pax3/clk_mgr/mc/source", CORBA::_tc_string), "string External");
//         EXPECT_EQ(Stop(), 0);
//     }

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "iapp/boards/zolt/zolt_struct.h"
#include "registry_e2e.h"
#include "inet/tests/support/orb_test_support.h"
#include "tests/support/temp_dir.h"

namespace e2e {

// The chassis the demo runs (sim/boards/data/two_boards.txt): the chassis manager in slot 0, an
// event-receiver board (ZOLT) in slot 2 and a timing board (PAX) in slot 3, both with management
// SPI registers that decode as VCXO A, MC source External, SC source Internal.
extern const std::string c_twoBoards;

// The trigger-code atoms of the tests: code i with the time stamp 1000000 + 7 i.
ZoltStruct CodeAtom(int64_t i);
std::vector<ZoltStruct> CodeAtoms(int64_t first, int64_t count);

// A signal receiver in this process that keeps every value as it arrives and, when told to,
// sleeps in each Receive first.
class Receiver : public POA_i_NET::SignalReceiver {
public:
    explicit Receiver(std::chrono::milliseconds sleep = std::chrono::milliseconds(0)) : m_sleep(sleep) {}

    void Receive(const CORBA::Any& values, const i_NET::SignalMeta&) override;
    void Closed(CORBA::Long code) override;

    std::vector<uint64_t> Values() const;
    size_t Count() const;
    std::vector<int> Closes() const;

private:
    const std::chrono::milliseconds m_sleep;
    mutable std::mutex m_mutex;
    std::vector<uint64_t> m_values;
    std::vector<int> m_closed;
};

// A receiver activated in this process's ORB, with its reference.
struct Connected {
    Receiver* receiver;
    i_NET::SignalReceiver_var ref;
};
Connected MakeReceiver(std::chrono::milliseconds sleep = std::chrono::milliseconds(0));

class SimAppTest : public inettest::OrbTest {
protected:
    SimAppTest(const std::string& chassis, const std::string& folderName);

    // Writes the chassis file and takes a free port.
    void SetUp() override;
    // Releases the client node; kills an application still running.
    void TearDown() override;

    // The application with m_extra added to its command line; a client node once it serves.
    void Start();
    // Releases the client node, sends SIGTERM: the exit code.
    int Stop();
    // The application's log (app.log).
    std::string Log() const;

    // The value at the path as Text writes it, or the refusal.
    std::string Get(const std::string& path, CORBA::TypeCode_ptr type);
    // The refusal of a write, or "no error".
    std::string Set(const std::string& path, const CORBA::Any& value, CORBA::ULong position = 0);
    // The value read, or the refusal.
    static std::string Answer(const std::function<std::string()>& read);
    std::vector<std::string> Names(const std::string& path);
    // The writable nodes below the path (relative to it), depth first.
    void Writable(const std::string& path, const std::string& relative, std::vector<std::string>& found);
    // The boards' log lines so far.
    std::vector<std::string> BoardLog() const;
    // Writes the bytes whole into the feed FIFO of the device ("kavrel2.strm0"), blocking while
    // it is full; false when it cannot be opened or written, also when the application has no
    // reader on it (has ended) or closes it meanwhile. Any thread may feed.
    bool Feed(const std::string& device, const void* data, size_t bytes) const;

    const std::string m_chassis;
    testsupport::TempDir m_dir;
    unsigned m_appPort = 0;
    std::vector<std::string> m_extra;
    std::unique_ptr<inettest::ChildProcess> m_process;
    i_NET::Application_var m_app;
    i_NET::Notification_var m_callback;
    // The callback object's servant: the notifications of what m_node subscribed to.
    Notes* m_notes = nullptr;
    i_NET::RemoteNode_var m_node;
};

// The position of the line in the log, or the log's size.
size_t Find(const std::vector<std::string>& log, const std::string& line);

} // namespace e2e

#endif
