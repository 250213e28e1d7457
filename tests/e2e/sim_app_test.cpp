// The example application with both simulated boards as the demo runs it (the chassis of
// sim/boards/data/two_boards.txt, the boards named on the command line): what registry-client
// lists of it, and bad input from clients across the whole registry (unknown paths, wrong types,
// out-of-range values on both boards and the application's own nodes, signals asked of nodes
// that are none), each refused with its text while the application goes on serving and keeps
// its values. What each board does is tested in pax_board_test.cpp and zolt_board_test.cpp.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/registry_e2e.h"
#include "common/sim_app_e2e.h"
#include "istd/convert.h"

namespace e2e {
namespace {

class SimAppClientTest : public SimAppTest {
protected:
    SimAppClientTest() : SimAppTest(c_twoBoards, "e2e-sim-app") { m_extra = {"-b", "kvr:///2", "kvr:///3"}; }
};

// The lines of the listing that begin with the path and, after the type column, hold the flags.
bool Listed(const std::vector<std::string>& lines, const std::string& path, const std::string& flags)
{
    for (const std::string& line : lines) {
        const std::vector<std::string> words = istd::TokenizeString(line, " ");
        if (words.size() >= 3 && words[0] == path && words[2] == flags) {
            return true;
        }
    }
    return false;
}

TEST_F(SimAppClientTest, RegistryClientListsTheApplicationAndBothBoards)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    const auto [rc, output] = RunClient(m_appPort, {"list", "/"});
    ASSERT_EQ(rc, 0) << output;
    const std::vector<std::string> lines = istd::TokenizeString(output, "\n");
    // Only the boards named on the command line.
    EXPECT_EQ(Names("boards"), (std::vector<std::string>{"zolt2", "pax3"}));
    const struct {
        const char* path;
        const char* flags;
    } rows[] = {
        {"/app-name", "r-------"},
        {"/version", "r-------"},
        {"/application/label", "rwp-----"},
        {"/boards/pax3/clock_info/adc_frequency", "r--c----"},
        {"/boards/pax3/clk_mgr/mc/source", "r-------"},
        {"/boards/pax3/triggers/t2/code", "rwp-----"},
        {"/boards/pax3/triggers/t2/source", "rw------"},
        {"/boards/pax3/events/t2/count", "rw------"},
        {"/boards/pax3/signals/event", "r------s"},
        {"/boards/zolt2/sfp_freq", "r-p-----"},
        {"/boards/zolt2/rtc/decoder_switch", "rw------"},
        {"/boards/zolt2/signals/zolt", "r------s"},
    };
    for (const auto& row : rows) {
        EXPECT_TRUE(Listed(lines, row.path, row.flags)) << row.path << " " << row.flags;
    }
    // Hidden nodes (the bus controllers, the prescalers, the generator) are reached by path, not
    // listed.
    EXPECT_EQ(output.find("/boards/pax3/mc_clk_controller"), std::string::npos);
    EXPECT_EQ(output.find("/boards/pax3/triggers/t2/prescaler"), std::string::npos);
    EXPECT_EQ(output.find("/boards/zolt2/rtc/generator"), std::string::npos);
    EXPECT_EQ(Stop(), 0) << m_process->Output();
    // The good path on the simulated chassis: no HPI daemon is asked for a board, and nothing
    // critical is said, neither on the terminal nor in the log.
    EXPECT_EQ(m_process->Output().find("CRITICAL"), std::string::npos) << m_process->Output();
    EXPECT_EQ(Log().find("CRITICAL"), std::string::npos) << Log();
}

TEST_F(SimAppClientTest, BadInputIsRefusedAndTheApplicationServesOn)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    using U32 = std::vector<CORBA::ULong>;
    const std::string c_notFound = "NotFound: mci: node not found: ";
    const std::string c_unsupported = "unsupported argument type while setting a node value";
    const auto get = [&](const std::string& path) {
        return [this, path] {
            CORBA::Any_var value = m_node->GetValue(Path(path), 0, 0, CORBA::_tc_null);
        };
    };
    const auto set = [&](const std::string& path, const CORBA::Any& value, CORBA::ULong position = 0) {
        return [this, path, value, position] {
            m_node->SetValue(Path(path), value, position);
        };
    };
    const auto signal = [&](const std::string& path) {
        return [this, path] {
            i_NET::RemoteSignal_var remote = m_node->GetRemoteSignal(Path(path));
            if (CORBA::is_nil(remote)) {
                throw std::runtime_error("nil");
            }
        };
    };
    const struct {
        const char* what;
        std::function<void()> call;
        std::string refusal;
    } rows[] = {
        // Unknown paths, through each kind of call.
        {"a board not in the chassis", get("boards/pax9/info/revision"), c_notFound + "/boards/pax9/info/revision"},
        {"a node the board lacks", set("boards/zolt2/no_such_node", Strings({"1"})),
         c_notFound + "/boards/zolt2/no_such_node"},
        {"a name below a leaf", get("boards/pax3/clock_info/adc_frequency/x"),
         c_notFound + "/boards/pax3/clock_info/adc_frequency/x"},
        {"children of a channel that is none",
         [&] { i_NET::NodeNames_var names = m_node->GetNodes(Path("boards/pax3/triggers/t7")); },
         c_notFound + "/boards/pax3/triggers/t7"},
        {"flags of an unknown node", [&] { m_node->GetFlags(Path("application/nothing")); },
         c_notFound + "/application/nothing"},
        {"a subscription to an unknown node", [&] { m_node->Subscribe(Path("boards/zolt2/rtc/t9")); },
         c_notFound + "/boards/zolt2/rtc/t9"},
        {"an unknown command", set("boards/zolt2/rtc/generator/reload", Strings({"Execute"})),
         c_notFound + "/boards/zolt2/rtc/generator/reload"},
        {"a signal the board lacks", signal("boards/pax3/signals/zolt"), c_notFound + "/boards/pax3/signals/zolt"},
        // Wrong types.
        {"text for a 32-bit word", set("boards/pax3/triggers/t2/prescaler", Strings({"12"})),
         "ValueException: ireg: prescaler: prescaler: " + c_unsupported},
        {"a boolean for the label",
         set("application/label", Buffer<i_NET::BooleanBuffer>(std::vector<CORBA::Boolean>{true})),
         "ValueException: ireg: label: label: " + c_unsupported},
        {"signed words for the generator's codes",
         set("boards/zolt2/rtc/generator/code", Buffer<i_NET::Int64Buffer>(std::vector<CORBA::LongLong>{1})),
         "ValueException: ireg: code: code: " + c_unsupported},
        {"a number for the SFP frequency, which no client writes",
         set("boards/zolt2/sfp_freq", Buffer<i_NET::DoubleBuffer>(std::vector<CORBA::Double>{1e8})),
         "ValueException: Node is not writable."},
        // Out of range, on both boards and the application's nodes.
        {"a DAC output beyond 16 bits",
         set("boards/pax3/mc_dac_controller/DAC8552/output/A", Buffer<i_NET::UInt32Buffer>(U32{70000})),
         "ValueException: ireg: A: Validation failed: [0, 65535] for 70000"},
        {"a trigger code beyond 4 bits on the event receiver",
         set("boards/zolt2/triggers/t0/code", Buffer<i_NET::UInt32Buffer>(U32{16})),
         "ValueException: ireg: code: Too large value.16 for node code"},
        {"a decoder code beyond 4 bits", set("boards/zolt2/rtc/t0/code", Buffer<i_NET::UInt32Buffer>(U32{16}), 3),
         "ValueException: ireg: code: Too large value.16 for node code"},
        {"a decoder switch without a name",
         set("boards/zolt2/rtc/decoder_switch", Buffer<i_NET::Int32Buffer>(std::vector<CORBA::Long>{7})),
         "ValueException: ireg: decoder_switch: invalid value"},
        {"a generator entry beyond the table",
         set("boards/zolt2/rtc/generator/delay", Buffer<i_NET::UInt32Buffer>(U32{1}), 32),
         "ValueException: ireg: delay: Position out of range"},
        {"a trace level without a name", set("tracing/level", Strings({"loud"})),
         "ValueException: Invalid integer value"},
        // Signals of nodes that are none: no signal, and nothing else.
        {"the signal of a value node", signal("boards/pax3/clock_info/adc_frequency"), "nil"},
        {"the signal of a folder", signal("boards/zolt2/signals"), "nil"},
        {"the signal of a signal's description", signal("boards/zolt2/signals/zolt/atom_size"), "nil"},
        {"the signal of the root", signal(""), "nil"},
    };
    const std::vector<std::string> kept = {"boards/pax3/triggers/t2/prescaler",
                                           "boards/pax3/mc_dac_controller/DAC8552/output/A",
                                           "boards/zolt2/triggers/t0/code",
                                           "boards/zolt2/rtc/t0/code",
                                           "boards/zolt2/rtc/decoder_switch",
                                           "boards/zolt2/rtc/generator/delay",
                                           "application/label",
                                           "tracing/level"};
    std::vector<std::string> before;
    for (const std::string& path : kept) {
        before.push_back(Get(path, CORBA::_tc_string));
    }
    for (const auto& row : rows) {
        std::string refusal;
        try {
            refusal = Refusal(row.call);
        } catch (const std::runtime_error& e) {
            refusal = e.what();
        }
        EXPECT_EQ(refusal, row.refusal) << row.what;
        // Served on: a new call on the same remote node answers.
        EXPECT_EQ(Get("app-name", CORBA::_tc_string), "string instrument-app") << row.what;
    }
    for (size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(Get(kept[i], CORBA::_tc_string), before[i]) << kept[i];
    }
    // The log names each kind of refusal with its node.
    const std::string log = Log();
    for (const std::string& line : std::vector<std::string>{
             "ireg: remote look-up of /boards/pax9/info/revision refused: mci: node not found: /boards/pax9/info/revision",
          "ireg: remote SetValue of /boards/pax3/mc_dac_controller/DAC8552/output/A refused: ireg: A: Validation "
          "failed: [0, 65535] for 70000",
          "ireg: remote SetValue of /application/label refused: ireg: label: label: " + c_unsupported,
          "ireg: remote GetRemoteSignal of /boards/pax3/clock_info/adc_frequency refused: the node is no signal"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }

    // The same through registry-client, which names each refusal and its exit code.
    const struct {
        std::vector<std::string> args;
        int rc;
        std::string message;
    } clientRows[] = {
        {{"get", "/boards/pax9"}, 1, "registry-client: get /boards/pax9: node not found: /boards/pax9\n"},
        {{"set", "/boards/pax3/mc_dac_controller/DAC8552/output/A", "70000"},
         1,
         "registry-client: set /boards/pax3/mc_dac_controller/DAC8552/output/A: Validation failed: [0, 65535] for "
         "70000\n"},
        {{"set", "/boards/zolt2/rtc/decoder_switch", "On"},
         2,
         "registry-client: set /boards/zolt2/rtc/decoder_switch: 'On' is not one of off, on, debug\n"},
        {{"stream", "/boards/pax3/triggers/t2/prescaler"},
         1,
         "registry-client: stream /boards/pax3/triggers/t2/prescaler: the node is no signal (signals have the flag s "
         "in "
         "list)\n"},
    };
    for (const auto& row : clientRows) {
        const auto [rc, output] = RunClient(m_appPort, row.args);
        EXPECT_EQ(rc, row.rc) << output;
        EXPECT_EQ(output, row.message);
    }
    EXPECT_EQ(Get("app-name", CORBA::_tc_string), "string instrument-app");
    EXPECT_EQ(Stop(), 0) << m_process->Output();
}

} // namespace
} // namespace e2e
