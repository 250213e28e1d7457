// The event-receiver board on slot 2 of the simulated chassis, with the simulated timing and
// event-receiver boards behind its memory and devices: the trigger-coding block's generator,
// decoders and filter against the registers, the transceiver's reset pulse and status codes, the
// LEDs, the SFP frequency and its oscillator at PostConfig (also absent), the registry tree, and
// the trigger-code stream seen by a remote receiver until shutdown.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/remote_servant.h"
#include "common/tree_listing.h"
#include "common/zolt_fixture.h"
#include "iapp/kavrel_i2c_bus_controller.h"
#include "iapp/kavrel_i2c_bus_device_SI57x.h"
#include "inet/tests/support/orb_test_support.h"
#include "ireg/signal_node.h"
#include "istd/trace_capture.h"
#include "tests/support/error_of.h"
#include "tests/support/wait_until.h"

using testsupport::ErrorOf;
using testsupport::WaitUntil;

namespace {

using iboard::RelevantTriggerCodingNode;
using iboard::ZoltBoard;
using sim::boards::Access;
using sim::boards::EventReceiverBoard;

class ZoltBoardTest : public iapptest::ZoltBoardFixture {
protected:
    // The writes to the generator's registers, as the trigger-coding window's log shows them.
    std::vector<std::string> GeneratorWrites() const
    {
        std::vector<std::string> seen;
        for (const Access& access : receiver->RtcLog()->Entries()) {
            if (access.kind == Access::eWrite && access.offset >= RelevantTriggerCodingNode::c_genStart) {
                std::ostringstream text;
                text << access;
                seen.push_back(text.str());
            }
        }
        return seen;
    }
};

// The writes one load of entries (code, delay) makes.
std::vector<std::string> Load(const std::vector<std::pair<uint32_t, uint32_t>>& entries)
{
    auto hex = [](uint32_t value) {
        std::ostringstream text;
        text << "0x" << std::hex << value;
        return text.str();
    };
    std::vector<std::string> writes = {"W32 +0xc00 = 0x1", "W32 +0xc04 = 0x0"};
    for (const auto& [code, delay] : entries) {
        writes.push_back("W32 +0xc08 = " + hex(code));
        writes.push_back("W32 +0xc0c = 0x0");
        writes.push_back("W32 +0xc10 = " + hex(delay));
        writes.push_back("W32 +0xc14 = 0x0");
    }
    return writes;
}

TEST_F(ZoltBoardTest, GeneratorLoadsEntriesUpToTheFirstEndingDelay)
{
    struct Case {
        const char* what;
        std::vector<uint32_t> delays; // from entry 0; the rest keep what they hold
        size_t written;
    };
    std::vector<uint32_t> none(32, 3);
    const std::vector<Case> cases = {
        {"all delays 0, as after Init", {}, 1},
        {"0xFFFF ends the table and is written", {5, 7, 0xFFFF, 9}, 3},
        {"0 ends it likewise", {5, 0, 8}, 2},
        {"no delay ends it: 32 entries at most", none, 32},
    };
    std::vector<uint32_t> codes(32);
    for (uint32_t i = 0; i < 32; ++i) {
        codes[i] = 100 + i;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Node("rtc/generator/delay")->Set(std::vector<uint32_t>(32, 0), 0, mci::c_noRelPath);
        if (!c.delays.empty()) {
            ASSERT_EQ(Set("rtc/generator/delay", c.delays), "no error");
        }
        // Writing the table's fields reaches no register.
        receiver->RtcLog()->Clear();
        ASSERT_EQ(Set("rtc/generator/code", codes), "no error");
        EXPECT_TRUE(GeneratorWrites().empty());

        EXPECT_EQ(Execute("rtc/generator/apply"), "no error");
        std::vector<std::pair<uint32_t, uint32_t>> entries;
        for (size_t k = 0; k < c.written; ++k) {
            entries.emplace_back(codes[k], k < c.delays.size() ? c.delays[k] : 0);
        }
        EXPECT_EQ(GeneratorWrites(), Load(entries));
    }
    // Nothing but the table went to the FPGA; "enabled" writes its bit at once.
    EXPECT_EQ(Word(ZoltBoard::c_rtcOffset + RelevantTriggerCodingNode::c_genEnable), 0u);
    EXPECT_EQ(Set("rtc/generator/enabled", uint32_t{1}), "no error");
    EXPECT_EQ(Word(ZoltBoard::c_rtcOffset + RelevantTriggerCodingNode::c_genEnable), 1u);
    EXPECT_EQ(Set("rtc/generator/enabled", uint32_t{2}), "ireg: enabled: Too large value.2 for node enabled");
    // Positions and counts beyond the table.
    EXPECT_EQ(Set("rtc/generator/code", std::vector<uint32_t>(33, 1)), "ireg: code: Size too large");
    EXPECT_EQ(Set("rtc/generator/delay", uint32_t{1}, 32), "ireg: delay: Position out of range");
    EXPECT_EQ(Set("rtc/generator/delay", std::vector<uint32_t>{1, 2}, 31), "ireg: delay: Size too large");
}

TEST_F(ZoltBoardTest, SwitchesDecodersAndFilterLieOverTheirRegisters)
{
    const size_t rtc = ZoltBoard::c_rtcOffset;
    // The two switches share one register; each keeps the other's bits.
    EXPECT_EQ(Get<std::string>("rtc/decoder_switch"), "off");
    EXPECT_EQ(Set("rtc/mgt_out", std::string("sfp_in")), "no error");
    EXPECT_EQ(Set("rtc/decoder_switch", std::string("debug")), "no error");
    EXPECT_EQ(Word(rtc + RelevantTriggerCodingNode::c_switches), 0x12u);
    EXPECT_EQ(Set("rtc/decoder_switch", std::string("on")), "no error");
    EXPECT_EQ(Word(rtc + RelevantTriggerCodingNode::c_switches), 0x11u);
    EXPECT_EQ(Get<std::string>("rtc/mgt_out"), "sfp_in");
    // Names are matched exactly.
    EXPECT_EQ(Set("rtc/decoder_switch", std::string("On")), "ireg: decoder_switch: Invalid integer value");
    EXPECT_EQ(Set("rtc/mgt_out", std::string("SFP_IN")), "ireg: mgt_out: Invalid integer value");
    EXPECT_EQ(Set("rtc/mgt_out", std::string("3")), "ireg: mgt_out: Invalid enum value");
    EXPECT_EQ(Word(rtc + RelevantTriggerCodingNode::c_switches), 0x11u);

    // Each decoder's block, and the filter.
    const struct {
        const char* node;
        size_t offset;
        uint32_t value;
    } fields[] = {
        {"rtc/t0/in_function", 0x200, 0xABCD}, {"rtc/t0/in_mask", 0x280, 0xFFFF}, {"rtc/t0/code", 0x300, 15},
        {"rtc/t1/in_function", 0x400, 0x1234}, {"rtc/t2/in_mask", 0x680, 0x8001}, {"rtc/mc/code", 0x900, 9},
        {"rtc/stream_filter/in_function", 0xA00, 0x00F0}, {"rtc/stream_filter/in_mask", 0xA80, 0x0F0F},
    };
    for (const auto& field : fields) {
        SCOPED_TRACE(field.node);
        EXPECT_EQ(Set(field.node, field.value, 3), "no error");
        EXPECT_EQ(Word(rtc + field.offset + 3 * 8), field.value);
        EXPECT_EQ(Word(rtc + field.offset + 2 * 8), 0u);
        EXPECT_EQ(Get<uint32_t>(field.node, 3), field.value);
    }
    // A code takes 4 bits, the others 16; nothing reaches the register then.
    EXPECT_EQ(Set("rtc/t1/code", uint32_t{16}, 15), "ireg: code: Too large value.16 for node code");
    EXPECT_EQ(Set("rtc/t1/in_mask", uint32_t{0x10000}), "ireg: in_mask: Too large value.65536 for node in_mask");
    EXPECT_EQ(Set("rtc/stream_filter/in_function", uint32_t{1}, 16), "ireg: in_function: Position out of range");
    EXPECT_EQ(Word(rtc + 0x400 + 0x100 + 15 * 8), 0u);
}

TEST_F(ZoltBoardTest, TransceiverResetIsOnePulseThatKeepsTheOtherBits)
{
    EXPECT_EQ(Set("mgt/ctrl/loop", std::string("pcs_far_end")), "no error");
    const size_t control = ZoltBoard::c_mgtOffset;
    EXPECT_EQ(chassis->Get(c_slot).ReadMemory32(control), 0x500u);
    receiver->TransceiverLog()->Clear();
    istd::TraceCapture capture(istd::eTraceError);
    EXPECT_EQ(Execute("mgt/ctrl/reset"), "no error");
    std::vector<std::string> writes;
    for (const Access& access : receiver->TransceiverLog()->Entries()) {
        if (access.kind == Access::eWrite) {
            std::ostringstream text;
            text << access;
            writes.push_back(text.str());
        }
    }
    EXPECT_EQ(writes, (std::vector<std::string>{"W32 +0x0 = 0x501", "W32 +0x0 = 0x500"}));
    const auto pulses = receiver->ResetPulses();
    ASSERT_EQ(pulses.size(), 1u);
    EXPECT_GE(pulses[0], std::chrono::milliseconds(2));
    EXPECT_LT(pulses[0], std::chrono::seconds(5)) << "about 2 ms, on a loaded machine";
    EXPECT_TRUE(capture.Contains("MGT reset.")) << capture.Text();
    // The power-down bits are the FPGA's to change.
    EXPECT_EQ(Set("mgt/ctrl/rx_power_down", uint32_t{1}), "Node is not writable.");
}

TEST_F(ZoltBoardTest, ALoopbackWrittenDuringAResetIsKept)
{
    // Another thread writes "loop" between the reset's read of the control word and its write:
    // the write waits for the read-modify-write, so neither undoes the other.
    auto loop = Node("mgt/ctrl/loop");
    std::thread writer;
    std::atomic<bool> written{false};
    receiver->SetControlReadHook([&] {
        writer = std::thread([&] {
            loop->Set(std::string("pma_far_end"), 0, mci::c_noRelPath);
            written = true;
        });
        // Long enough for a write that does not wait to land here.
        WaitUntil([&] { return written.load(); }, std::chrono::milliseconds(300));
    });
    EXPECT_EQ(Execute("mgt/ctrl/reset"), "no error");
    writer.join();
    EXPECT_EQ(Get<std::string>("mgt/ctrl/loop"), "pma_far_end");
    EXPECT_EQ(chassis->Get(c_slot).ReadMemory32(ZoltBoard::c_mgtOffset), 0x400u);
}

TEST_F(ZoltBoardTest, TransceiverStatusAndCodesWithoutAName)
{
    struct Case {
        uint32_t status;
        const char* rxBuf;
        const char* txBuf;
        uint32_t pll;
        uint32_t lossOfSync;
    };
    const Case cases[] = {
        {0x0001, "nom", "low", 1, 0},
        {0x3310, "<min_cor_latency", "overflow", 0, 3},
        {0x1120, ">max_cor_latency", "high", 0, 1},
        {0x2050, "underflow", "underflow", 0, 0},
        {0x0061, "overflow", "low", 1, 0},
        {0x0030, "invalid value", "low", 0, 0},
        {0x0040, "invalid value", "low", 0, 0},
        {0x0070, "invalid value", "low", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        receiver->SetStatus(c.status);
        EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(Get<std::string>("mgt/status/rx_buf"), c.rxBuf); }),
                  std::string(c.rxBuf) == "invalid value" ? "ireg node rx_buf: invalid value" : "no error");
        EXPECT_EQ(Get<std::string>("mgt/status/tx_buf"), c.txBuf);
        EXPECT_EQ(Get<uint32_t>("mgt/status/pll_lock"), c.pll);
        EXPECT_EQ(Get<uint32_t>("mgt/status/rx_loss_of_sync"), c.lossOfSync);
    }
    receiver->SetErrors(0x0000'BEEF'1234'0007ull | 0xFFFF'0000'0000'0000ull);
    EXPECT_EQ(Get<uint32_t>("mgt/err/soft"), 7u);
    EXPECT_EQ(Get<uint32_t>("mgt/err/hard"), 0x1234u);
    EXPECT_EQ(Get<uint32_t>("mgt/err/frame"), 0xBEEFu);

    // Loopback: the named codes only.
    for (int code : {3, 6, 7}) {
        EXPECT_EQ(Set("mgt/ctrl/loop", int32_t{code}), "ireg: loop: invalid value") << code;
    }
    EXPECT_EQ(Set("mgt/ctrl/loop", std::string("pma_far_end")), "no error");
    EXPECT_EQ(chassis->Get(c_slot).ReadMemory32(ZoltBoard::c_mgtOffset), 0x400u);
    chassis->Get(c_slot).WriteMemory32(ZoltBoard::c_mgtOffset, 0x300);
    EXPECT_EQ(ErrorOf([&] { Get<std::string>("mgt/ctrl/loop"); }), "ireg node loop: invalid value");
}

TEST_F(ZoltBoardTest, EachLedIsOneBit)
{
    const auto& names = iboard::ZoltLedsNode::c_ledNames;
    for (size_t bit = 0; bit < names.size(); ++bit) {
        SCOPED_TRACE(names[bit]);
        EXPECT_EQ(Set(std::string("leds/") + names[bit], uint64_t{1}), "no error");
        EXPECT_EQ(Word(ZoltBoard::c_ledsOffset), uint64_t{1} << bit);
        EXPECT_EQ(Get<uint64_t>(std::string("leds/") + names[bit]), 1u);
        EXPECT_EQ(Set(std::string("leds/") + names[bit], uint64_t{0}), "no error");
        EXPECT_EQ(Word(ZoltBoard::c_ledsOffset), 0u);
    }
    EXPECT_EQ(Set("leds/sfp_green", uint64_t{2}), "ireg: sfp_green: Too large value.2 for node sfp_green");
    // The other bits of the register are kept.
    chassis->Get(c_slot).WriteMemory64(ZoltBoard::c_ledsOffset, 0xF000);
    EXPECT_EQ(Set("leds/sfp_green", uint64_t{1}), "no error");
    EXPECT_EQ(Word(ZoltBoard::c_ledsOffset), 0xF800u);
}

TEST_F(ZoltBoardTest, SfpFrequencyBoundsAndThePostConfigProgramming)
{
    EXPECT_EQ(Get<uint32_t>("sfp_freq"), ZoltBoard::c_defaultSfpFreq);
    // Clients read it; the configuration sets it (the load's path: validator, store).
    EXPECT_EQ(Set("sfp_freq", uint32_t{20000000}), "Node is not writable.");
    struct Case {
        uint32_t value;
        std::string error;
    };
    const Case cases[] = {
        {10000000, "no error"},
        {125000000, "no error"},
        {9999999, "Validation failed: [10000000, 125000000] for 9999999"},
        {125000001, "Validation failed: [10000000, 125000000] for 125000001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const uint32_t before = zolt->GetSfpFreq();
        EXPECT_EQ(ErrorOf([&] { Node("sfp_freq")->ApplyAndEmitValue(c.value, 0); }), c.error);
        EXPECT_EQ(zolt->GetSfpFreq(), c.error == "no error" ? c.value : before);
    }

    // PostConfig programs the oscillator for the value the configuration left, then resets the
    // transceiver.
    Node("sfp_freq")->ApplyAndEmitValue(uint32_t{125000000}, 0);
    istd::TraceCapture capture(istd::eTraceWarning);
    root->PostConfig();
    EXPECT_EQ(receiver->SfpOscillator()->GetApplies(), 1u);
    EXPECT_NEAR(receiver->SfpOscillator()->GetOutputFrequency(), 125e6, 1.0);
    EXPECT_EQ(receiver->ResetPulses().size(), 1u);
    EXPECT_TRUE(capture.Contains("SFP frequency set to: 125000000.")) << capture.Text();
}

TEST_F(ZoltBoardTest, WithoutTheOscillatorStartUpGoesOnAndTheTransceiverIsNotReset)
{
    Registry();
    receiver->SfpOscillator()->SetAnswering(false);
    istd::TraceCapture capture(istd::eTraceError);
    EXPECT_FALSE(zolt->SetSFPFreq(ZoltBoard::c_defaultSfpFreq));
    EXPECT_NO_THROW(root->PostConfig());
    size_t absent = 0;
    for (const std::string& line : capture.Lines()) {
        absent += line.find("SFP VCXO NOT present!") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(absent, 2u) << capture.Text();
    EXPECT_TRUE(receiver->ResetPulses().empty());
    EXPECT_EQ(receiver->SfpOscillator()->GetApplies(), 0u);

    // An oscillator that answers but cannot be programmed: false, traced, no reset.
    receiver->SfpOscillator()->SetAnswering(true);
    receiver->I2cCore()->SetFault(sim::I2cCoreModel::eFaultDataNack, 2);
    EXPECT_FALSE(zolt->SetSFPFreq(ZoltBoard::c_defaultSfpFreq));
    receiver->I2cCore()->SetFault(sim::I2cCoreModel::eFaultNone);
    EXPECT_TRUE(capture.Contains("SFP VCXO not programmed for 100625000 Hz")) << capture.Text();
    EXPECT_TRUE(receiver->ResetPulses().empty());
    EXPECT_TRUE(zolt->SetSFPFreq(ZoltBoard::c_defaultSfpFreq));
    EXPECT_EQ(receiver->ResetPulses().size(), 1u);
}

TEST_F(ZoltBoardTest, WithoutTheTransceiverNodeTheOscillatorIsProgrammedAndNothingReset)
{
    // Before the registry there is no "mgt" node (as when its window is refused).
    EXPECT_FALSE(zolt->GetTransceiverNode());
    EXPECT_TRUE(zolt->SetSFPFreq(10000000));
    EXPECT_EQ(receiver->SfpOscillator()->GetApplies(), 1u);
    EXPECT_NEAR(receiver->SfpOscillator()->GetOutputFrequency(), 10e6, 1.0);
    EXPECT_TRUE(receiver->ResetPulses().empty());
    EXPECT_EQ(receiver->TransceiverLog()->Count(Access::eWrite), 0u);
}

// The values of every Receive so far, in order.
std::vector<int64_t> Received(const inettest::TestReceiver& receiver)
{
    std::vector<int64_t> values;
    for (const CORBA::Any& any : receiver.Values()) {
        const i_NET::Int64Buffer* buffer = nullptr;
        EXPECT_TRUE(any >>= buffer);
        for (CORBA::ULong i = 0; buffer != nullptr && i < buffer->length(); ++i) {
            values.push_back((*buffer)[i]);
        }
    }
    return values;
}

TEST_F(ZoltBoardTest, TheGeneratorsCodesReachARemoteReceiverUntilShutdown)
{
    Registry();
    auto remote = std::make_unique<iapptest::RemoteServant>(registry);
    auto node = std::dynamic_pointer_cast<ireg::SignalNode>(Node("signals/zolt"));
    ASSERT_TRUE(node);
    EXPECT_EQ(node->GetSource(), zolt->GetStream());
    i_NET::RemoteSignal_var signal = node->GetRemoteSignalRef();
    CORBA::String_var name = signal->GetName();
    EXPECT_STREQ(name.in(), "zolt2.zolt");
    EXPECT_EQ(signal->GetAtomSize(), 16u);
    EXPECT_EQ(signal->GetGroupSize(), 32u);
    EXPECT_EQ(signal->GetAtomType(), isig::eAtomInt64);
    i_NET::StringVec_var components = signal->GetComponentNames();
    ASSERT_EQ(components->length(), 2u);
    EXPECT_STREQ(components[0u].in(), "zolt_code");
    EXPECT_STREQ(components[1u].in(), "timestamp");

    auto* first = new inettest::TestReceiver;
    inet::OM().Activate(first);
    i_NET::SignalReceiver_var firstRef = first->_this();
    // A queue length of 0 is the stream's own default.
    ASSERT_EQ(signal->Connect(firstRef, "remote", 0), 0);
    // A length beyond the servant's longest is clamped, and said so.
    auto* second = new inettest::TestReceiver;
    inet::OM().Activate(second);
    i_NET::SignalReceiver_var secondRef = second->_this();
    {
        istd::TraceCapture capture(istd::eTraceWarning);
        ASSERT_EQ(signal->Connect(secondRef, "big", 0xFFFFFFFFu), 0);
        EXPECT_TRUE(capture.Contains("zolt2.zolt: queue length 4294967295 of big clamped to 65536")) << capture.Text();
    }

    // The generator's table, played by the simulated board into ".strm0": one atom per entry
    // written, at the table's start time plus the delays before it.
    ASSERT_EQ(Set("rtc/generator/code", std::vector<uint32_t>{7, 8, 9, 10}), "no error");
    ASSERT_EQ(Set("rtc/generator/delay", std::vector<uint32_t>{5, 7, 0xFFFF, 1}), "no error");
    const uint64_t before = timing->Events().GetMachineTime();
    ASSERT_EQ(Execute("rtc/generator/apply"), "no error");
    const uint64_t after = timing->Events().GetMachineTime();
    EXPECT_EQ(receiver->GetGeneratedCount(), 3u);
    ASSERT_TRUE(WaitUntil([&] { return Received(*first).size() == 6 && Received(*second).size() == 6; }));
    const std::vector<int64_t> values = Received(*first);
    EXPECT_EQ(Received(*second), values);
    const auto start = static_cast<uint64_t>(values[1]);
    EXPECT_GE(start, before);
    EXPECT_LE(start, after);
    EXPECT_EQ(values, (std::vector<int64_t>{7, values[1], 8, values[1] + 5, 9, values[1] + 12}));

    // Each connection's queue in the statistics: atoms pushed, atoms dropped.
    i_NET::SignalStats_var stats = signal->GetStatistics();
    std::vector<std::string> items;
    for (CORBA::ULong i = 0; i < stats->length(); ++i) {
        if (std::string(stats[i].name.in()) == "remote" || std::string(stats[i].name.in()) == "big") {
            items.push_back(std::string(stats[i].name.in()) + " " + std::to_string(stats[i].count1) + " " +
                            std::to_string(stats[i].count2) + " " + std::to_string(stats[i].atomSize));
        }
    }
    EXPECT_EQ(items, (std::vector<std::string>{"remote 3 0 16", "big 3 0 16"}));

    // The board shuts its stream down: both receivers end with -5; the node, its servant and
    // the stream stay until the registry and the board go.
    root->Shutdown();
    ASSERT_TRUE(first->WaitForClosed());
    ASSERT_TRUE(second->WaitForClosed());
    EXPECT_EQ(first->ClosedCodes(), std::vector<int>{-5});
    EXPECT_EQ(second->ClosedCodes(), std::vector<int>{-5});
    EXPECT_EQ(signal->Connect(firstRef, "late", 16), -5);
    node.reset();
    registry.reset();
    signal = i_NET::RemoteSignal::_nil();
    firstRef = i_NET::SignalReceiver::_nil();
    secondRef = i_NET::SignalReceiver::_nil();
    remote.reset();
    root.reset();
}

TEST_F(ZoltBoardTest, TheRegistryTree)
{
    // The timing board's children and nodes first, then the board's own.
    std::vector<std::string> top;
    std::vector<std::string> lines;
    for (const mci::TreeNodePtr& child : Registry()->GetAllNodes()) {
        top.push_back(child->GetName());
    }
    EXPECT_EQ(top, (std::vector<std::string>{"info", "clock_info", "triggers", "clk_mgr", "mc_clk_controller",
                                             "mc_dac_controller", "events", "i2c_controller", "signals", "rtc",
                                             "leds", "mgt", "sfp_freq"}));
    for (const char* name : {"i2c_controller", "signals/zolt", "rtc", "leds", "mgt", "sfp_freq"}) {
        iapptest::ListTree(Node(name), name, lines);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "i2c_controller 0 0x40",
                         "i2c_controller/SI57xSFP 0 0x0",
                         "i2c_controller/SI57xSFP/frequency 3 0x6",
                         "i2c_controller/SI57xSFP/apply 9 0xc4",
                         "i2c_controller/devices 8 0x202",
                         "signals/zolt 0 0x402",
                         "signals/zolt/access_type 9 0x22",
                         "signals/zolt/atom_size 3 0x22",
                         "signals/zolt/group_size 3 0x22",
                         "signals/zolt/comp_names 8 0x222",
                         "signals/zolt/comp_num 3 0x22",
                         "signals/zolt/comp_type 9 0x22",
                         "rtc 0 0x0",
                         "rtc/decoder_switch 9 0x6",
                         "rtc/mgt_out 9 0x6",
                         "rtc/t0 0 0x6",
                         "rtc/t0/in_mask 3 0x20e",
                         "rtc/t0/in_function 3 0x20e",
                         "rtc/t0/code 3 0x20e",
                         "rtc/t1 0 0x6",
                         "rtc/t1/in_mask 3 0x20e",
                         "rtc/t1/in_function 3 0x20e",
                         "rtc/t1/code 3 0x20e",
                         "rtc/t2 0 0x6",
                         "rtc/t2/in_mask 3 0x20e",
                         "rtc/t2/in_function 3 0x20e",
                         "rtc/t2/code 3 0x20e",
                         "rtc/mc 0 0x6",
                         "rtc/mc/in_mask 3 0x20e",
                         "rtc/mc/in_function 3 0x20e",
                         "rtc/mc/code 3 0x20e",
                         "rtc/stream_filter 0 0x0",
                         "rtc/stream_filter/in_mask 3 0x20e",
                         "rtc/stream_filter/in_function 3 0x20e",
                         "rtc/generator 0 0x40",
                         "rtc/generator/enabled 3 0x6",
                         "rtc/generator/code 3 0x206",
                         "rtc/generator/delay 3 0x206",
                         "rtc/generator/apply 9 0x84",
                         "leds 0 0x40",
                         "leds/sys_orange 5 0x6",
                         "leds/sys_green 5 0x6",
                         "leds/pm_orange 5 0x6",
                         "leds/pm_green 5 0x6",
                         "leds/trig_orange 5 0x6",
                         "leds/trig_green 5 0x6",
                         "leds/ilk_red 5 0x6",
                         "leds/ilk_green 5 0x6",
                         "leds/front_yellow 5 0x6",
                         "leds/front_white 5 0x6",
                         "leds/mc_orange 5 0x6",
                         "leds/sfp_green 5 0x6",
                         "mgt 0 0x0",
                         "mgt/ctrl 0 0x0",
                         "mgt/ctrl/reset 9 0x84",
                         "mgt/ctrl/rx_power_down 3 0x2",
                         "mgt/ctrl/tx_power_down 3 0x2",
                         "mgt/ctrl/loop 9 0x6",
                         "mgt/status 0 0x0",
                         "mgt/status/pll_lock 3 0x2",
                         "mgt/status/rx_buf 9 0x2",
                         "mgt/status/rx_loss_of_sync 3 0x2",
                         "mgt/status/tx_buf 9 0x2",
                         "mgt/err 0 0x0",
                         "mgt/err/soft 3 0x2",
                         "mgt/err/hard 3 0x2",
                         "mgt/err/frame 3 0x2",
                         "sfp_freq 3 0xa",
                     }));
    std::vector<std::string> signals;
    for (const mci::TreeNodePtr& child : Node("signals")->GetAllNodes()) {
        signals.push_back(child->GetName());
    }
    EXPECT_EQ(signals, (std::vector<std::string>{"event", "zolt"}));
    std::vector<std::string> names;
    Node("signals/zolt/comp_names")->Get(names, 0, 0, mci::c_noRelPath);
    EXPECT_EQ(names, (std::vector<std::string>{"zolt_code", "timestamp"}));
    EXPECT_EQ(Get<uint32_t>("signals/zolt/atom_size"), 16u);
    EXPECT_EQ(Get<uint32_t>("signals/zolt/group_size"), 32u);
    EXPECT_EQ(zolt->GetStream()->GetDevice(), "/dev/kavrel2.strm0");
    EXPECT_EQ(zolt->GetStream()->GetOwner(), "zolt2");
    // The timing board's trigger generation has the backplane switch.
    EXPECT_TRUE(Node("triggers/backplane_trigger_switch/T0"));
    EXPECT_TRUE(zolt->SetBackplaneT0Switch(ifeature::eBackplaneLineMC));
    EXPECT_EQ(Get<std::string>("triggers/backplane_trigger_switch/T0"), "MC");
}

} // namespace
