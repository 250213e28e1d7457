// The example application with a timing board, as a process of its own: the simulated chassis
// controller and the simulated boards are preloaded into it (KAVREL_SIM_CHASSIS), so the board
// pool finds a PAX board in slot 3 and an event-receiver board in slot 2, and the application's
// board factory makes an iboard::PaxBoard of the first (and an iboard::ZoltBoard of the second,
// which zolt_board_test.cpp covers). The test is a remote client: it browses
// the board's subtree, reads its clock status, sets triggers and chips and sees in the simulated
// board's log what reached the FPGA, injects an event through the board's feed FIFO, and sends
// the application every kind of bad value.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/registry_e2e.h"
#include "common/sim_app_e2e.h"
#include "inet/orb_manager.h"
#include "isig/event_device.h"
#include "istd/convert.h"
#include "tests/support/files.h"
#include "tests/support/free_port.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

namespace e2e {
namespace {

const std::string c_board = "boards/pax3/";

class PaxBoardAppTest : public SimAppTest {
protected:
    PaxBoardAppTest() : SimAppTest(c_twoBoards, "e2e-pax") {}
};

TEST_F(PaxBoardAppTest, ServesTheTimingBoard)
{
    ASSERT_NO_FATAL_FAILURE(Start());

    // The boards: a timing board, and plain boards for the others (the host among them).
    EXPECT_EQ(Names("boards"), (std::vector<std::string>{"koz0", "zolt2", "pax3", "os"}));
    // The bus controllers are hidden (flags 0x40), their chips reached by path.
    EXPECT_EQ(Names("boards/pax3"),
              (std::vector<std::string>{"info", "clock_info", "triggers", "clk_mgr", "events", "signals"}));
    EXPECT_EQ(m_node->GetFlags(Path(c_board + "mc_clk_controller")), 0x40u);
    EXPECT_EQ(Names(c_board + "mc_clk_controller/CDCE72010_MC").size(), 12u);
    EXPECT_EQ(Names(c_board + "mc_dac_controller/DAC8552"), (std::vector<std::string>{"mode", "output"}));
    EXPECT_EQ(Names("boards/pax3/signals"), std::vector<std::string>{"event"});
    
    // Clock status from the management SPI registers, lock bits and the ADC word.
    EXPECT_EQ(Get(c_board + "clk_mgr/mc/source", CORBA::_tc_string), "string External");
    EXPECT_EQ(Get(c_board + "clk_mgr/mc/oscillator", CORBA::_tc_string), "string vcxoA");
    EXPECT_EQ(Get(c_board + "clk_mgr/sc/source", CORBA::_tc_string), "string Internal");
    EXPECT_EQ(Get(c_board + "clk_mgr/mc/locked", CORBA::_tc_boolean), "boolean true");
    EXPECT_EQ(Get(c_board + "clk_mgr/sc/locked", CORBA::_tc_boolean), "boolean true");
    EXPECT_EQ(Get(c_board + "clk_mgr/mc/prescaler", CORBA::_tc_ulong), "ulong 999999");
    EXPECT_EQ(Get(c_board + "clock_info/adc_frequency", CORBA::_tc_ulong), "ulong 250000000");

    // A trigger setting and the two chips, in this order on the board.
    EXPECT_EQ(Set(c_board + "triggers/t2/prescaler", Buffer<i_NET::UInt32Buffer>(std::vector<CORBA::ULong>{1000})),
              "no error");
    EXPECT_EQ(Set(c_board + "mc_dac_controller/DAC8552/output/A",
                  Buffer<i_NET::UInt32Buffer>(std::vector<CORBA::ULong>{0x8000})),
              "no error");
    EXPECT_EQ(Set(c_board + "mc_clk_controller/CDCE72010_MC/reg_3",
                  Buffer<i_NET::UInt32Buffer>(std::vector<CORBA::ULong>{0x123456})),
              "no error");
    std::vector<std::string> log = BoardLog();
    const size_t prescaler = Find(log, "slot 3 triggers W32 +0x48 = 0x3e8");
    const size_t dac = Find(log, "slot 3 DAC8552 A=0x8000 B=0x0");
    const size_t cdce = Find(log, "slot 3 CDCE72010 reg3=0x123456");
    EXPECT_LT(prescaler, dac);
    EXPECT_LT(dac, cdce);
    EXPECT_LT(cdce, log.size());
    EXPECT_EQ(Get(c_board + "triggers/t2/prescaler", CORBA::_tc_ulong), "ulong 1000");
    EXPECT_EQ(Get(c_board + "mc_dac_controller/DAC8552/output/A", CORBA::_tc_ulong), "ulong 32768");

    // A value the validator refuses, with its text.
    EXPECT_EQ(Set(c_board + "mc_dac_controller/DAC8552/output/A",
                  Buffer<i_NET::UInt32Buffer>(std::vector<CORBA::ULong>{70000})),
              "ValueException: ireg: A: Validation failed: [0, 65535] for 70000");

    // A trigger source by name.
    EXPECT_EQ(Set(c_board + "triggers/t2/source", Strings({"Internal"})), "no error");
    EXPECT_EQ(Get(c_board + "triggers/t2/source", CORBA::_tc_string), "string Internal");
    log = BoardLog();
    EXPECT_LT(Find(log, "slot 3 triggers W64 +0x40 = 0x2"), log.size());

    // Channel 2 to Pulse: the board generates event 2, which the events feature counts, and a
    // client watching the count learns of it.
    EXPECT_EQ(Get(c_board + "events/t2/count", CORBA::_tc_ulonglong), "ulonglong 0");
    ASSERT_TRUE(m_node->Subscribe(Path(c_board + "events/t2/count")));
    EXPECT_EQ(Set(c_board + "triggers/t2/source", Strings({"Pulse"})), "no error");
    EXPECT_TRUE(testsupport::WaitUntil([&] { return Get(c_board + "events/t2/count", CORBA::_tc_ulonglong) == "ulonglong 1"; },
                                       std::chrono::seconds(120)))
        << Get(c_board + "events/t2/count", CORBA::_tc_ulonglong);
    EXPECT_EQ(m_notes->WaitFor(1), std::vector<std::string>{"/" + c_board + "events/t2/count = ulonglong 1"});

    // An event injected through the feed FIFO, and the machine clock's mc events.
    const isig::EventStruct interlock{3, 0, 777, 0};
    const int fifo = ::open((m_dir / "kavrel3.event").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fifo, 0);
    ASSERT_EQ(::write(fifo, &interlock, sizeof(interlock)), static_cast<ssize_t>(sizeof(interlock)));
    ::close(fifo);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return Get(c_board + "events/interlock/count", CORBA::_tc_ulonglong) == "ulonglong 1"; },
                                       std::chrono::seconds(120)));
    EXPECT_EQ(Get(c_board + "events/interlock/timestamp", CORBA::_tc_ulonglong), "ulonglong 777");
    EXPECT_TRUE(testsupport::WaitUntil([&] { return Get(c_board + "events/mc/count", CORBA::_tc_ulonglong) != "ulonglong 0"; },
                                       std::chrono::seconds(120)));

    // SIGTERM: a clean stop, the persistent settings in the configuration file, and back after
    // a new start.
    ASSERT_EQ(Stop(), 0) << m_process->Output();
    // The application's log: where it served, the stop signal, the end.
    const std::string appLog = Log();
    const size_t serving = appLog.find("INFO Serving requests on port " + std::to_string(m_appPort) + ".\n");
    const size_t shutdown = appLog.find("INFO Shutting down.\n");
    EXPECT_LT(serving, shutdown) << appLog;
    EXPECT_LT(shutdown, appLog.find("INFO Stopped.\n")) << appLog;
    EXPECT_NE(appLog.find("INFO Stopped.\n"), std::string::npos) << appLog;
    EXPECT_NE(testsupport::ReadFile(m_dir / "app.xml").find("<t2>\n          <prescaler value=\"1000\"/>"),
              std::string::npos)
        << testsupport::ReadFile(m_dir / "app.xml");
    // A fresh client ORB: its connections to the process that ended are gone.
    inettest::OrbTest::TearDown();
    inettest::OrbTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(Get(c_board + "triggers/t2/prescaler", CORBA::_tc_ulong), "ulong 1000");
    EXPECT_EQ(Stop(), 0) << m_process->Output();
}

// One bad value for a set of nodes: the refusal each gives, "{name}" standing for the node's
// own name.
struct BadValue {
    const char* what;
    std::vector<std::string> paths;
    CORBA::Any value;
    CORBA::ULong position;
    std::string refusal;
};

std::vector<std::string> Expand(const std::vector<std::string>& prefixes, const std::vector<std::string>& leaves)
{
    std::vector<std::string> paths;
    for (const std::string& prefix : prefixes) {
        for (const std::string& leaf : leaves) {
            paths.push_back(prefix + leaf);
        }
    }
    return paths;
}

TEST_F(PaxBoardAppTest, RefusesEveryKindOfBadValueAndLosesNothing)
{
    m_extra = {"--expose-hidden-registry"};
    ASSERT_NO_FATAL_FAILURE(Start());

    const std::vector<std::string> triggers = {"triggers/mc/", "triggers/t0/", "triggers/t1/", "triggers/t2/"};
    const std::vector<std::string> sources = Expand(triggers, {"source"});
    const std::vector<std::string> words = Expand(triggers, {"prescaler", "debouncer", "code"});
    std::vector<std::string> registers;
    for (int r = 0; r < 12; ++r) {
        registers.push_back("mc_clk_controller/CDCE72010_MC/reg_" + std::to_string(r));
    }
    const std::vector<std::string> outputs = {"mc_dac_controller/DAC8552/output/A", "mc_dac_controller/DAC8552/output/B"};
    const std::vector<std::string> mode = {"mc_dac_controller/DAC8552/mode"};
    const std::vector<std::string> counts =
        Expand({"events/mc/", "events/t0/", "events/t1/", "events/t2/", "events/interlock/"}, {"count"});
    std::vector<std::string> numbers = words;
    numbers.insert(numbers.end(), registers.begin(), registers.end());
    numbers.insert(numbers.end(), outputs.begin(), outputs.end());
    std::vector<std::string> enums = sources;
    enums.push_back(mode.front());
    std::vector<std::string> all = numbers;
    all.insert(all.end(), enums.begin(), enums.end());
    all.insert(all.end(), counts.begin(), counts.end());

    using U32 = std::vector<CORBA::ULong>;
    const std::string unsupported = "ValueException: ireg: {name}: {name}: unsupported argument type while setting a node value";
    std::vector<std::string> plainNumbers = words; // the numbers without a validator
    plainNumbers.insert(plainNumbers.end(), registers.begin(), registers.end());
    plainNumbers.insert(plainNumbers.end(), counts.begin(), counts.end());
    const std::vector<std::string> unnamed = {"triggers/t0/source", "triggers/t1/source", "triggers/t2/source"};
    std::vector<std::string> plainEnums = unnamed;
    plainEnums.push_back(mode.front());
    const std::vector<BadValue> rows = {
        // Out of range.
        {"code beyond its 4 bits", Expand(triggers, {"code"}), Buffer<i_NET::UInt32Buffer>(U32{16}), 0,
         "ValueException: ireg: code: Too large value.16 for node code"},
        {"DAC value beyond 16 bits", outputs, Buffer<i_NET::UInt32Buffer>(U32{65536}), 0,
         "ValueException: ireg: {name}: Validation failed: [0, 65535] for 65536"},
        {"CDCE72010 value beyond 28 bits", registers, Buffer<i_NET::UInt32Buffer>(U32{1u << 28}), 0,
         "ValueException: ireg: {name}: Invalid register value"},
        {"a source code without a name", unnamed, Buffer<i_NET::Int32Buffer>(std::vector<CORBA::Long>{6}), 0,
         "ValueException: ireg: source: invalid value"},
        {"a source code channel 3 does not take", {"triggers/mc/source"},
         Buffer<i_NET::Int32Buffer>(std::vector<CORBA::Long>{6}), 0,
         "ValueException: ireg: source: Validation failed: {0,1,5} for 6"},
        {"a source name channel 3 does not take", {"triggers/mc/source"}, Strings({"Internal"}), 0,
         "ValueException: ireg: source: Validation failed: {0,1,5} for 2"},
        {"a DAC mode code without a name", mode, Buffer<i_NET::Int32Buffer>(std::vector<CORBA::Long>{4}), 0,
         "ValueException: ireg: mode: invalid value"},
        // Wrong types: the validator, where a node has one, sees them first.
        {"text for a number", plainNumbers, Strings({"12"}), 0, unsupported},
        {"text for a DAC value", outputs, Strings({"12"}), 0,
         "ValueException: ireg: {name}: [...]: Invalid type std::string in validation."},
        {"a boolean for a number", plainNumbers, Buffer<i_NET::BooleanBuffer>(std::vector<CORBA::Boolean>{true}), 0,
         unsupported},
        {"a boolean for a DAC value", outputs, Buffer<i_NET::BooleanBuffer>(std::vector<CORBA::Boolean>{true}), 0,
         "ValueException: ireg: {name}: [...]: Invalid type bool in validation."},
        {"a 64-bit value for a 32-bit word", words, Buffer<i_NET::UInt64Buffer>(std::vector<CORBA::ULongLong>{1ull << 32}),
         0, unsupported},
        {"a signed value for a count", counts, Buffer<i_NET::Int64Buffer>(std::vector<CORBA::LongLong>{-1}), 0,
         unsupported},
        {"a floating-point number for an enumeration", plainEnums,
         Buffer<i_NET::DoubleBuffer>(std::vector<CORBA::Double>{1.0}), 0, unsupported},
        {"a floating-point number for channel 3's source", {"triggers/mc/source"},
         Buffer<i_NET::DoubleBuffer>(std::vector<CORBA::Double>{1.0}), 0,
         "ValueException: ireg: source: {...}: Invalid type double in validation."},
        // Enumeration texts in the wrong case: refused as they are converted, before the node.
        {"a source in lower case", sources, Strings({"pulse"}), 0, "ValueException: Invalid integer value"},
        {"a source in upper case", sources, Strings({"EXTERNAL"}), 0, "ValueException: Invalid integer value"},
        {"a DAC mode capitalised", mode, Strings({"Normal"}), 0, "ValueException: Invalid integer value"},
        // Positions beyond the size (every node is a scalar).
        {"position 1", all, Strings({"0"}), 1, "ValueException: ireg: {name}: Position out of range"},
        {"two values for one", numbers, Buffer<i_NET::UInt32Buffer>(U32{1, 2}), 0,
         "ValueException: ireg: {name}: Size too large"},
    };

    // Every writable node of the board has its rows.
    std::vector<std::string> writable;
    Writable("boards/pax3", "", writable);
    std::sort(writable.begin(), writable.end());
    std::vector<std::string> covered = all;
    std::sort(covered.begin(), covered.end());
    EXPECT_EQ(writable, covered);

    std::vector<std::string> before;
    for (const std::string& path : all) {
        before.push_back(Get(c_board + path, CORBA::_tc_string));
    }
    for (const BadValue& row : rows) {
        for (const std::string& path : row.paths) {
            std::string expected = row.refusal;
            for (size_t at = expected.find("{name}"); at != std::string::npos; at = expected.find("{name}")) {
                expected.replace(at, 6, path.substr(path.rfind('/') + 1));
            }
            EXPECT_EQ(Set(c_board + path, row.value, row.position), expected) << row.what << ": " << path;
        }
    }
    // Nothing changed, but the machine clock's count, which only grows.
    for (size_t i = 0; i < all.size(); ++i) {
        const std::string now = Get(c_board + all[i], CORBA::_tc_string);
        if (all[i] == "events/mc/count") {
            EXPECT_GE(std::stoull(now.substr(now.find(' ') + 1)), std::stoull(before[i].substr(before[i].find(' ') + 1)));
        } else {
            EXPECT_EQ(now, before[i]) << all[i];
        }
    }
    EXPECT_EQ(Stop(), 0) << m_process->Output();
}

} // namespace
} // namespace e2e
