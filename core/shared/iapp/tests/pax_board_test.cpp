// The timing board on slot 3 of the simulated chassis, with the simulated timing board behind
// its memory and devices: the clock decoders over the management SPI registers, the clock
// manager, the software trigger and the trigger event's counter, the registry tree, and the
// event stream's end while a remote client still reads it.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "common/remote_servant.h"
#include "common/sim_boards.h"
#include "common/tree_listing.h"
#include "iapp/boards/pax/mc_pll.h"
#include "iapp/boards/pax/pax_board.h"
#include "iapp/features/phase_locked_loop_base.h"
#include "inet/tests/support/orb_test_support.h"
#include "ireg/reg_node.h"
#include "ireg/signal_node.h"
#include "isig/event_device.h"
#include "istd/trace_capture.h"
#include "mci/factory.h"
#include "mci/tree_node.h"
#include "sim/boards/timing_board.h"
#include "tests/support/error_of.h"
#include "tests/support/wait_until.h"

using testsupport::ErrorOf;
using testsupport::WaitUntil;

namespace {

using iboard::PaxBoard;
using sim::boards::Access;
using sim::boards::TimingBoard;

constexpr int c_slot = 3;

class PaxBoardTest : public iapptest::SimBoards {
protected:
    void SetUp() override
    {
        Start();
        timing = std::make_unique<TimingBoard>(chassis->Get(c_slot));
        timing->SetMcRate(0);
        SetClockRegisters(0x2, 0x30);
        pax = new PaxBoard(*root, ChassisBoard(c_slot), PaxBoard::c_evtDesc,
                           ifeature::PaxTriggerGeneration::c_trigConfigurations, nullptr, false);
    }

    void TearDown() override
    {
        // As the application: the tree shut down, the registry destroyed, then the components.
        if (root) {
            root->Shutdown();
        }
        registry.reset();
        root.reset();
        timing.reset();
        SimBoards::TearDown();
    }

    // Management SPI registers 8 and 10 of the slot's board.
    static void SetClockRegisters(uint16_t control, uint16_t source)
    {
        sim::cmc::Simulator::Instance().Modify(c_slot, [&](sim::cmc::BoardModel& board) {
            board.spiRegisters[8] = control;
            board.spiRegisters[10] = source;
        });
    }
    // SPI-path reads of the register so far.
    static size_t SpiReads(uint16_t reg)
    {
        size_t count = 0;
        for (const sim::cmc::Request& request : sim::cmc::Simulator::Instance().Requests()) {
            count += request.slot == c_slot && request.data.size() >= 3 && request.data[0] == 0xDB &&
                     request.data[1] == reg && request.data[2] == 0;
        }
        return count;
    }

    mci::TreeNodePtr Registry()
    {
        if (!registry) {
            registry = mci::factory::Create<ireg::RegNode>("registry");
            pax->AddRegistry(registry);
        }
        return registry->GetNode(pax->GetName());
    }
    mci::TreeNodePtr At(const std::string& path)
    {
        mci::TreeNodePtr node = Registry();
        std::istringstream names(path);
        for (std::string name; node && std::getline(names, name, '/');) {
            node = node->GetNode(name);
        }
        return node;
    }
    std::string Text(const std::string& path)
    {
        std::string value;
        At(path)->Get(value, 0, mci::c_noRelPath);
        return value;
    }
    template <class T>
    T Value(const std::string& path)
    {
        T value{};
        At(path)->Get(value, 0, mci::c_noRelPath);
        return value;
    }

    // The trigger window's writes of channel 2's source and its flushes (reads of the window's
    // first word, upper half first), as the log shows them.
    std::vector<std::string> SourceWritesAndFlushes() const
    {
        std::vector<std::string> seen;
        for (const Access& access : timing->TriggerLog()->Entries()) {
            std::ostringstream text;
            text << access;
            if ((access.kind == Access::eWrite && access.offset == TimingBoard::c_channel2Source) ||
                (access.kind == Access::eRead && access.width == 32 && access.offset <= 4)) {
                seen.push_back(text.str());
            }
        }
        return seen;
    }

    std::unique_ptr<TimingBoard> timing;
    PaxBoard* pax = nullptr;
    mci::TreeNodePtr registry;
};

TEST_F(PaxBoardTest, ClockDecoders)
{
    struct Case {
        uint16_t control; // register 8
        uint16_t source;  // register 10
        bool mcSrcOk;
        PaxBoard::mc_srcEnum mcSrc;
        bool mcCfgOk;
        PaxBoard::mc_oscEnum mcCfg;
        bool scSrcOk;
        PaxBoard::sc_srcEnum scSrc;
        size_t scSourceReads; // register 10 reads by GetSCSrc
        std::vector<std::string> errors;
    };
    const std::vector<Case> cases = {
        {0x2, 0x30, true, PaxBoard::eMcSrcExternal, true, PaxBoard::eMcOscVcxoA, true, PaxBoard::eScSrcInternal, 1, {}},
        {0x2, 0x33, true, PaxBoard::eMcSrcDivOUT, true, PaxBoard::eMcOscVcxoA, true, PaxBoard::eScSrcInternal, 1, {}},
        {0x1, 0x320, true, PaxBoard::eMcSrcExternal, true, PaxBoard::eMcOscVcxoB, true, PaxBoard::eScSrcExternal, 1, {}},
        {0x2, 0x31, false, PaxBoard::eMcSrcUndefined, true, PaxBoard::eMcOscVcxoA, true, PaxBoard::eScSrcInternal, 1,
         {"Board pax3 Wrong MC source configuration. Value = 0x31."}},
        {0x2, 0x32, false, PaxBoard::eMcSrcUndefined, true, PaxBoard::eMcOscVcxoA, true, PaxBoard::eScSrcInternal, 1,
         {"Board pax3 Wrong MC source configuration. Value = 0x32."}},
        // Control 2 with selection 3 is no VCXO B.
        {0x2, 0x330, true, PaxBoard::eMcSrcExternal, false, PaxBoard::eMcOscUndefined, true, PaxBoard::eScSrcInternal, 1,
         {"Board pax3 Wrong VCXO configuration. CtrlVal = 0x2 SrcVal = 0x330."}},
        {0x5, 0x30, true, PaxBoard::eMcSrcExternal, false, PaxBoard::eMcOscUndefined, true, PaxBoard::eScSrcInternal, 1,
         {"Board pax3 Wrong VCXO configuration. CtrlVal = 0x5 SrcVal = 0x30."}},
        // The internal SC clock off: register 10 is not read for the SC source.
        {0x12, 0x30, true, PaxBoard::eMcSrcExternal, true, PaxBoard::eMcOscVcxoA, false, PaxBoard::eScSrcUndefined, 0,
         {"Board pax3 Internal 10MHz SC clock not enabled. Value = 0x12."}},
        {0x2, 0x10, true, PaxBoard::eMcSrcExternal, true, PaxBoard::eMcOscVcxoA, false, PaxBoard::eScSrcUndefined, 1,
         {"Board pax3 SysClkSel2 not set to internal 10MHz. Value = 0x10."}},
    };
    ASSERT_EQ(pax->GetName(), "pax3");
    for (const Case& c : cases) {
        std::ostringstream what;
        what << std::hex << "control 0x" << c.control << ", source 0x" << c.source;
        SCOPED_TRACE(what.str());
        SetClockRegisters(c.control, c.source);
        istd::TraceCapture capture(istd::eTraceError);
        // Every decoder starts from Undefined, whatever the variable held.
        PaxBoard::mc_srcEnum mcSrc = PaxBoard::eMcSrcDivOUT;
        PaxBoard::mc_oscEnum mcCfg = PaxBoard::eMcOscVcxoB;
        PaxBoard::sc_srcEnum scSrc = PaxBoard::eScSrcExternal;
        EXPECT_EQ(pax->GetMCSrc(mcSrc), c.mcSrcOk);
        EXPECT_EQ(mcSrc, c.mcSrc);
        EXPECT_EQ(pax->GetMCCfg(mcCfg), c.mcCfgOk);
        EXPECT_EQ(mcCfg, c.mcCfg);
        const size_t before = SpiReads(10);
        EXPECT_EQ(pax->GetSCSrc(scSrc), c.scSrcOk);
        EXPECT_EQ(scSrc, c.scSrc);
        EXPECT_EQ(SpiReads(10) - before, c.scSourceReads);
        std::vector<std::string> errors;
        for (const std::string& line : capture.Lines()) {
            const size_t at = line.find("Board pax3");
            if (at != std::string::npos) {
                errors.push_back(line.substr(at));
            }
        }
        EXPECT_EQ(errors, c.errors);
    }
}

TEST_F(PaxBoardTest, AFailedManagementSpiReadIsLoggedInHexAndThrows)
{
    sim::cmc::Simulator::Instance().Modify(c_slot, [](sim::cmc::BoardModel& board) { board.spiReadStatus[10] = 0x05; });
    istd::TraceCapture capture(istd::eTraceError);
    PaxBoard::mc_srcEnum source = PaxBoard::eMcSrcDivOUT;
    EXPECT_EQ(ErrorOf([&] { pax->GetMCSrc(source); }), "PAX board. Can not configure HW.");
    EXPECT_EQ(source, PaxBoard::eMcSrcUndefined);
    EXPECT_TRUE(capture.Contains("Board pax3. ARM2SPI failure - 0x5. Reading register 0xa.")) << capture.Text();
    // Through the registry the read fails with the node's prefix around the same text.
    EXPECT_NE(ErrorOf([&] { Text("clk_mgr/mc/source"); }).find("PAX board. Can not configure HW."), std::string::npos);
    EXPECT_EQ(pax->FpgaSpiRead(8), 0x2);
    pax->FpgaSpiWrite(0x20, 0xBEEF);
    EXPECT_EQ(pax->FpgaSpiRead(0x20), 0xBEEF);
}

TEST_F(PaxBoardTest, ClockManager)
{
    const size_t prescaler = TimingBoard::c_clockManager;
    const size_t lock = TimingBoard::c_clockManager + TimingBoard::c_lockStatus;
    // The constructor's prescaler, which the node reads as the register holds it.
    EXPECT_EQ(chassis->Get(c_slot).ReadMemory32(prescaler), 999999u);
    EXPECT_EQ(Value<uint32_t>("clk_mgr/mc/prescaler"), 999999u);
    McPll* pll = pax->GetClockManager();
    for (const auto& [set, held] : {std::pair<uint32_t, uint32_t>{0, 0}, {1, 0}, {2, 1}, {1000000, 999999}}) {
        pll->SetMcPrescaler(set);
        EXPECT_EQ(chassis->Get(c_slot).ReadMemory32(prescaler), held) << set;
    }

    // Lock bits: the MC lock at bit 1, the SC lock at bit 0 (which GetMcLock answers).
    chassis->Get(c_slot).WriteMemory32(lock, 0x2);
    EXPECT_TRUE(Value<bool>("clk_mgr/mc/locked"));
    EXPECT_FALSE(Value<bool>("clk_mgr/sc/locked"));
    EXPECT_FALSE(pll->GetMcLock());
    chassis->Get(c_slot).WriteMemory32(lock, 0x1);
    EXPECT_FALSE(Value<bool>("clk_mgr/mc/locked"));
    EXPECT_TRUE(Value<bool>("clk_mgr/sc/locked"));
    EXPECT_TRUE(pll->GetMcLock());

    // The enumeration nodes ask the board on every read.
    EXPECT_EQ(Text("clk_mgr/mc/source"), "External");
    EXPECT_EQ(Text("clk_mgr/mc/oscillator"), "vcxoA");
    EXPECT_EQ(Text("clk_mgr/sc/source"), "Internal");
    SetClockRegisters(0x1, 0x323);
    EXPECT_EQ(Text("clk_mgr/mc/source"), "DivOUT");
    EXPECT_EQ(Text("clk_mgr/mc/oscillator"), "vcxoB");
    EXPECT_EQ(Text("clk_mgr/sc/source"), "External");
    SetClockRegisters(0x2, 0x31);
    EXPECT_NE(ErrorOf([&] { Text("clk_mgr/mc/source"); }), "no error");
    EXPECT_FALSE(At("clk_mgr/mc/source")->IsWritable());
    EXPECT_NE(ErrorOf([&] { At("clk_mgr/sc/source")->Set(std::string("External"), 0, mci::c_noRelPath); }), "no error");

    // Only a timing board may hold a clock manager.
    iapp::KavrelBoard* plain = MakeBoard(4);
    const size_t children = plain->GetChildren().size();
    EXPECT_THROW(plain->RegisterObject<McPll>(0x600000, "clk_mgr"), std::bad_cast);
    EXPECT_EQ(plain->GetChildren().size(), children);
}

TEST_F(PaxBoardTest, ClockInformationKeepsTheWordReadAtConstruction)
{
    EXPECT_EQ(pax->GetADCFrequency(), double(TimingBoard::c_adcFrequency));
    chassis->Get(c_slot).WriteMemory32(TimingBoard::c_clockInfo, 1234);
    EXPECT_EQ(Value<uint32_t>("clock_info/adc_frequency"), TimingBoard::c_adcFrequency);
    EXPECT_EQ(pax->GetClockInfo()->GetADCFrequency(), TimingBoard::c_adcFrequency);
}

TEST_F(PaxBoardTest, CreateTrigEvent)
{
    // From External: Pulse, flushed, and External again, flushed; the board generated event 2.
    pax->SetTrigSourceExt();
    timing->TriggerLog()->Clear();
    pax->CreateTrigEvent();
    EXPECT_EQ(SourceWritesAndFlushes(), (std::vector<std::string>{"W64 +0x40 = 0x3", "R32 +0x4 = 0x0", "R32 +0x0 = 0x0",
                                                                  "W64 +0x40 = 0x1", "R32 +0x4 = 0x0", "R32 +0x0 = 0x0"}));
    EXPECT_EQ(timing->GetPulseCount(), 1u);
    EXPECT_EQ(timing->Events().GetCounter(PaxBoard::c_triggerEvent), 1u);

    // Already at Pulse: set once, not restored, and no new turn to Pulse.
    pax->GetTriggerGeneration()->SetTriggerSource(2, ifeature::eTriggerSourcePulse);
    timing->TriggerLog()->Clear();
    pax->CreateTrigEvent();
    EXPECT_EQ(SourceWritesAndFlushes(),
              (std::vector<std::string>{"W64 +0x40 = 0x3", "R32 +0x4 = 0x0", "R32 +0x0 = 0x0"}));

    // A source that cannot be read (a code without a name): nothing is written.
    chassis->Get(c_slot).WriteMemory64(TimingBoard::c_triggers + TimingBoard::c_channel2Source, 6);
    timing->TriggerLog()->Clear();
    pax->CreateTrigEvent();
    EXPECT_EQ(timing->TriggerLog()->Count(Access::eWrite), 0u);
    EXPECT_EQ(chassis->Get(c_slot).ReadMemory64(TimingBoard::c_triggers + TimingBoard::c_channel2Source), 6u);
}

TEST_F(PaxBoardTest, ChannelTwoOperations)
{
    pax->SetTrigPrescaler(1000);
    pax->SetTrigDebouncer(77);
    uint32_t prescaler = 0;
    uint32_t debouncer = 0;
    pax->GetTrigPrescaler(prescaler);
    pax->GetTrigDebouncer(debouncer);
    EXPECT_EQ(prescaler, 1000u);
    EXPECT_EQ(debouncer, 77u);
    EXPECT_EQ(Value<uint32_t>("triggers/t2/prescaler"), 1000u);
    pax->SetTrigSourceExt();
    EXPECT_EQ(Text("triggers/t2/source"), "External");
    pax->SetTrigSourceOff();
    EXPECT_EQ(Text("triggers/t2/source"), "Off");
}

TEST_F(PaxBoardTest, ResetTriggerEventCounterDisablesResetsAndEnables)
{
    const size_t before = timing->Events().GetRequests().size();
    root->PostInit();
    const std::vector<sim::EventStreamDevice::Request> requests = timing->Events().GetRequests();
    std::vector<std::pair<unsigned long, uint64_t>> seen;
    for (size_t i = before; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].error, 0);
        seen.emplace_back(requests[i].request, requests[i].argument);
    }
    EXPECT_EQ(seen, (std::vector<std::pair<unsigned long, uint64_t>>{{isig::c_eventDisableRequest, 2},
                                                                   {isig::c_eventResetCounterRequest, 2},
                                                                   {isig::c_eventEnableRequest, 2}}));
}

TEST_F(PaxBoardTest, TheRegistryTree)
{
    std::vector<std::string> top;
    for (const mci::TreeNodePtr& child : Registry()->GetAllNodes()) {
        std::ostringstream line;
        line << child->GetName() << " 0x" << std::hex << child->GetFlags();
        top.push_back(line.str());
    }
    EXPECT_EQ(top, (std::vector<std::string>{"info 0x0", "clock_info 0x0", "triggers 0x0", "clk_mgr 0x0",
                                             "mc_clk_controller 0x40", "mc_dac_controller 0x40", "events 0x0",
                                             "signals 0x0"}));
    std::vector<std::string> lines;
    for (const char* name : {"clock_info", "clk_mgr", "signals"}) {
        iapptest::ListTree(At(name), name, lines);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "clock_info 0 0x0",
                         "clock_info/adc_frequency 3 0x22",
                         "clk_mgr 0 0x0",
                         "clk_mgr/mc 0 0x0",
                         "clk_mgr/mc/locked 1 0x2",
                         "clk_mgr/mc/source 9 0x2",
                         "clk_mgr/mc/prescaler 3 0x4a",
                         "clk_mgr/mc/oscillator 9 0x42",
                         "clk_mgr/sc 0 0x0",
                         "clk_mgr/sc/locked 1 0x2",
                         "clk_mgr/sc/source 9 0x2",
                         "signals 0 0x0",
                         "signals/event 0 0x402",
                         "signals/event/access_type 9 0x22",
                         "signals/event/atom_size 3 0x22",
                         "signals/event/group_size 3 0x22",
                         "signals/event/comp_names 8 0x222",
                         "signals/event/comp_num 3 0x22",
                         "signals/event/comp_type 9 0x22",
                     }));
    EXPECT_TRUE(At("mc_clk_controller/CDCE72010_MC"));
    EXPECT_TRUE(At("mc_dac_controller/DAC8552"));
    EXPECT_EQ(std::dynamic_pointer_cast<ireg::SignalNode>(At("signals/event"))->GetSource(), pax->GetEventStream());
    EXPECT_EQ(pax->GetSignalsNode(), At("signals"));
    EXPECT_EQ(pax->GetEventStream()->GetName(), "pax3.event");
    EXPECT_EQ(pax->GetEventStream()->GetOwner(), "pax3");
}

TEST_F(PaxBoardTest, TakesPllLocalTimingAndEventsFeatures)
{
    EXPECT_NO_THROW(iapp::Create<ifeature::PhaseLockedLoopBase>(*pax, "pll"));
    EXPECT_NO_THROW(iapp::Create<ifeature::LocalTiming>(*pax, "timing2", nullptr));
    // A component that is no feature is refused, as by any board.
    EXPECT_NE(ErrorOf([&] { iapp::Create<iapp::KavrelObject>(*pax, "plain"); }), "no error");
}

TEST_F(PaxBoardTest, EventsCountTheSoftwareTriggerAndTheMachineClock)
{
    registry = mci::factory::Create<ireg::RegNode>("registry");
    root->PreInit();
    pax->AddRegistry(registry);
    root->PostInit();
    root->PreConfig();
    root->PostConfig();
    EXPECT_EQ(Text("triggers/t2/source"), "External") << "PreConfig";
    pax->CreateTrigEvent();
    EXPECT_TRUE(WaitUntil([&] { return Value<uint64_t>("events/t2/count") == 1; }));
    EXPECT_EQ(Text("triggers/t2/source"), "External");
    timing->SetMcRate(200);
    EXPECT_TRUE(WaitUntil([&] { return Value<uint64_t>("events/mc/count") >= 3; }));
}

TEST_F(PaxBoardTest, ShutdownEndsARemoteReaderOfTheEventSignal)
{
    Registry();
    auto remote = std::make_unique<iapptest::RemoteServant>(registry);
    auto node = std::dynamic_pointer_cast<ireg::SignalNode>(At("signals/event"));
    ASSERT_TRUE(node);
    i_NET::RemoteSignal_var signal = node->GetRemoteSignalRef();
    auto* receiver = new inettest::TestReceiver;
    inet::OM().Activate(receiver);
    i_NET::SignalReceiver_var receiverRef = receiver->_this();
    ASSERT_EQ(signal->Connect(receiverRef, "remote", 16), 0);
    ASSERT_TRUE(timing->Events().WaitForOpen());
    timing->Events().WriteEvent(5, 0, 42);
    EXPECT_TRUE(receiver->WaitForReceives(1));

    // The board shuts its stream down: the remote client ends with -5, the node and its servant
    // stay until the registry goes, and the stream until the board goes.
    root->Shutdown();
    ASSERT_TRUE(receiver->WaitForClosed());
    EXPECT_EQ(receiver->ClosedCodes(), std::vector<int>{-5});
    EXPECT_EQ(signal->Connect(receiverRef, "late", 16), -5);
    // The registry (with the node's servant) before the ORB, then the board with its stream.
    node.reset();
    registry.reset();
    signal = i_NET::RemoteSignal::_nil();
    receiverRef = i_NET::SignalReceiver::_nil();
    remote.reset();
    root.reset();
}

} // namespace
