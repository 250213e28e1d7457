#ifndef IAPP_BOARDS_PAX_PAX_BOARD_H
#define IAPP_BOARDS_PAX_PAX_BOARD_H

// The board component of the timing board. The application's board factory makes it from the
// board pool's bmc::Board of a timing board:
//
//     iapp::KavrelBoard* MyApp::InstantiateBoard(const bmc::Board* board)
//     {
//         if (board->GetType() == bmc::eBoardTypePAX) {
//             return new iboard::PaxBoard(*this, board, iboard::PaxBoard::c_evtDesc,
//                                         ifeature::PaxTriggerGeneration::c_trigConfigurations, nullptr, false);
//         }
//         return new iapp::KavrelBoard(*this, board);
//     }
//
// Its children, over windows of the board's FPGA memory (byte offsets):
//   0x000000  "info"               identification block (the base's)
//   0x000100  "clock_info"         PaxIdSpecific: the ADC frequency
//   0x400000  "triggers"           ifeature::PaxTriggerGeneration (176 bytes)
//   0x600000  "clk_mgr"            McPll: MC prescaler, lock flags, clock status nodes
//   0xE00080  "mc_clk_controller"  SPI core, 2 chip selects, with the CDCE72010 "CDCE72010_MC"
//   0xE00100  "mc_dac_controller"  SPI core, 1 chip select, with the DAC8552 "DAC8552"
// and the features "local_timing" and "events" over the board's event stream (its ".event"
// device). The board's own nodes are "signals/event", the event stream as a signal node.
//
// Clock status: two 16-bit registers reached through the chassis management controller (not
// the mapped memory) are decoded by GetMCSrc, GetMCCfg and GetSCSrc:
//   register 8 (clock control)  bits 0-2 VCXO control; bit 4 set: internal 10 MHz SC clock off
//   register 10 (clock source)  bits 0-1 MC source (0 External, 3 DivOUT, 1 and 2 invalid);
//                               bit 5 "SysClkSel2" with bit 4 the SC source (1 Internal,
//                               0 External); bits 8-9 VCXO selection (0 with control 2: VCXO A,
//                               3 with control 1: VCXO B)
// A configuration they cannot decode is logged and answered false; a failed register read
// throws.
//
// Life of the event stream: the board owns it. OnShutdown (after the features stopped using it)
// shuts it down, so that every client, a remote one of "signals/event" included, ends with -5;
// the stream itself is deleted with the board, after the features that use it. The registry
// must be destroyed before the board (as the application does): its signal node borrows the
// stream.
//
// ZoltBoard derives from it with the backplane flag set.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bmc/board.h"
#include "iapp/boards/pax/mc_pll.h"
#include "iapp/boards/pax/pax_id_specific.h"
#include "iapp/features/events.h"
#include "iapp/features/local_timing.h"
#include "iapp/features/pax_trigger_generation.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_board.h"
#include "isig/event_stream.h"
#include "istd/enum_map.h"
#include "mci/types.h"

namespace iapp {
class KavrelSpiBusController;
class CDCE72010;
class DAC8552;
} // namespace iapp

namespace iboard {

class IAPP_API PaxBoard : public iapp::KavrelBoard {
public:
    // Which VCXO drives the MC clock: "Undefined", "vcxoA", "vcxoB".
    enum mc_oscEnum {
        eMcOscUndefined = 0,
        eMcOscVcxoA = 1,
        eMcOscVcxoB = 2,
    };
    // Source of the 10 MHz SC clock: "Undefined", "Internal", "External".
    enum sc_srcEnum {
        eScSrcUndefined = 0,
        eScSrcInternal = 1,
        eScSrcExternal = 2,
    };
    // Source of the MC clock: "Undefined", "External", "DivOUT".
    enum mc_srcEnum {
        eMcSrcUndefined = 0,
        eMcSrcExternal = 1,
        eMcSrcDivOUT = 2,
    };

    using EventDescriptions = std::vector<ifeature::Events::Description>;
    using NodeOverrides = std::vector<ifeature::PaxTriggerGeneration::RegNodeConfiguration>;

    // The timing board's events: (16, "mc"), (0, "t0"), (1, "t1"), (2, "t2"), (3, "interlock").
    static const EventDescriptions c_evtDesc;

    // The trigger event of the software trigger and the management SPI registers decoded.
    static constexpr isig::EventIdType c_triggerEvent = 2;
    static constexpr size_t c_triggerChannel = 2;
    static constexpr uint16_t c_clockControlRegister = 8;
    static constexpr uint16_t c_clockSourceRegister = 10;

    // The triggers, the overrides (may be null) and the backplane flag go to the trigger
    // generation, the descriptions to the events feature. The windows' and the children's
    // failures pass on (KavrelBoard::RegisterObject, the chip wrappers).
    PaxBoard(iapp::KavrelApplication& application, const bmc::Board* board, const EventDescriptions& events,
             const ifeature::PaxTriggerGeneration::TrigConfigurations& triggers, const NodeOverrides* overrides,
             bool backplane);
    ~PaxBoard() override;

    // The clock information's ADC frequency.
    double GetADCFrequency() const;

    // The management SPI register; a nonzero status is logged and throws istd::Exception
    // "PAX board. Can not configure HW."; a refused request throws the board's exception.
    uint16_t FpgaSpiRead(uint16_t reg) const;
    void FpgaSpiWrite(uint16_t reg, uint16_t value) const;

    // Clock status decoders (see the header note): Undefined and false, logged, for a
    // configuration they cannot decode.
    bool GetMCSrc(mc_srcEnum& source) const;
    bool GetMCCfg(mc_oscEnum& oscillator) const;
    bool GetSCSrc(sc_srcEnum& source) const;

    // Trigger channel 2 through the trigger generation's nodes; their results are not passed on.
    void GetTrigPrescaler(uint32_t& prescaler);
    void SetTrigPrescaler(uint32_t prescaler);
    void GetTrigDebouncer(uint32_t& debouncer);
    void SetTrigDebouncer(uint32_t debouncer);
    void SetTrigSourceOff();
    void SetTrigSourceExt();
    // One software trigger: channel 2's source to Pulse and back to what it was (left at Pulse
    // when it was Pulse). Nothing when the source cannot be read.
    void CreateTrigEvent();
    // Event 2 disabled, its counter reset, enabled again.
    void ResetTriggerEventCounter();

    PaxIdSpecific* GetClockInfo() const { return m_clockInfo; }
    ifeature::PaxTriggerGeneration* GetTriggerGeneration() const { return m_triggers; }
    ifeature::LocalTiming* GetLocalTiming() const { return m_localTiming; }
    ifeature::Events* GetEvents() const { return m_events; }
    McPll* GetClockManager() const { return m_clockManager; }
    iapp::KavrelSpiBusController* GetClockController() const { return m_clockController; }
    iapp::KavrelSpiBusController* GetDacController() const { return m_dacController; }
    iapp::DAC8552* GetDac() const { return m_dac; }
    iapp::CDCE72010* GetClockDistributor() const { return m_clockDistributor; }
    isig::KavrelEventStream* GetEventStream() const { return m_eventStream.get(); }
    // The "signals" node (empty before OnRegistryAdd): a derived board adds its signals there.
    const mci::TreeNodePtr& GetSignalsNode() const { return m_signalsNode; }

    void OnRegistryAdd(mci::TreeNodePtr& node) override;
    // Resets the trigger event's counter.
    void OnPostInit() override;
    void OnPostConfig() override;
    // Shuts the event stream down.
    void OnShutdown() override;
    // Phase-locked-loop, local-timing and events features, and whatever a board takes.
    bool OnQueryChild(const iapp::KavrelObject& child) override;

private:
    // Shuts the stream down, removes the features that use it, and deletes it.
    void _ReleaseEventStream();

    PaxIdSpecific* m_clockInfo = nullptr;
    ifeature::PaxTriggerGeneration* m_triggers = nullptr;
    ifeature::LocalTiming* m_localTiming = nullptr;
    ifeature::Events* m_events = nullptr;
    McPll* m_clockManager = nullptr;
    iapp::KavrelSpiBusController* m_clockController = nullptr;
    iapp::KavrelSpiBusController* m_dacController = nullptr;
    iapp::DAC8552* m_dac = nullptr;
    iapp::CDCE72010* m_clockDistributor = nullptr;
    std::unique_ptr<isig::KavrelEventStream> m_eventStream;
    mci::TreeNodePtr m_signalsNode;
};

} // namespace iboard

ISTD_ENUM_TABLE_DECL(iboard::PaxBoard::mc_oscEnum)
ISTD_ENUM_TABLE_DECL(iboard::PaxBoard::sc_srcEnum)
ISTD_ENUM_TABLE_DECL(iboard::PaxBoard::mc_srcEnum)

#endif
