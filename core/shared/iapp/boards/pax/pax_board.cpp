#include "iapp/boards/pax/pax_board.h"

#include <sstream>

#include "bmc/board_device.h"
#include "iapp/devices/spi_CDCE72010.h"
#include "iapp/features/phase_locked_loop_base.h"
#include "iapp/kavrel_spi_bus_controller.h"
#include "iapp/kavrel_spi_bus_device_DAC8552.h"
#include "ireg/reg_node.h"
#include "ireg/signal_node.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

ISTD_ENUM_TABLE(iboard::PaxBoard::mc_oscEnum, {iboard::PaxBoard::eMcOscUndefined, "Undefined"},
                {iboard::PaxBoard::eMcOscVcxoA, "vcxoA"}, {iboard::PaxBoard::eMcOscVcxoB, "vcxoB"});
ISTD_ENUM_TABLE(iboard::PaxBoard::sc_srcEnum, {iboard::PaxBoard::eScSrcUndefined, "Undefined"},
                {iboard::PaxBoard::eScSrcInternal, "Internal"}, {iboard::PaxBoard::eScSrcExternal, "External"});
ISTD_ENUM_TABLE(iboard::PaxBoard::mc_srcEnum, {iboard::PaxBoard::eMcSrcUndefined, "Undefined"},
                {iboard::PaxBoard::eMcSrcExternal, "External"}, {iboard::PaxBoard::eMcSrcDivOUT, "DivOUT"});

namespace iboard {

namespace {

constexpr size_t c_clockInfoOffset = 0x000100;
constexpr size_t c_triggersOffset = 0x400000;
constexpr size_t c_clockManagerOffset = 0x600000;
constexpr size_t c_clockControllerOffset = 0xE00080;
constexpr size_t c_dacControllerOffset = 0xE00100;
constexpr uint32_t c_clockControllerDevices = 2;
constexpr uint32_t c_dacControllerDevices = 1;
constexpr bmc::BusDeviceId c_chipId = 0;
constexpr uint64_t c_controllerFlags = 0x40;

// Register 8 (clock control).
constexpr uint16_t c_vcxoControlMask = 0x7;
constexpr uint16_t c_vcxoControlA = 2;
constexpr uint16_t c_vcxoControlB = 1;
constexpr uint16_t c_scClockDisabled = 1u << 4;
// Register 10 (clock source).
constexpr uint16_t c_mcSourceMask = 0x3;
constexpr uint16_t c_mcSourceExternal = 0;
constexpr uint16_t c_mcSourceDivOut = 3;
constexpr uint16_t c_scSourceInternal = 1u << 4;
constexpr uint16_t c_sysClkSel2 = 1u << 5;
constexpr unsigned c_vcxoSelectShift = 8;
constexpr uint16_t c_vcxoSelectMask = 0x3;
constexpr uint16_t c_vcxoSelectA = 0;
constexpr uint16_t c_vcxoSelectB = 3;

std::string Hex(unsigned value)
{
    std::ostringstream text;
    text << std::hex << value;
    return text.str();
}

} // namespace

const PaxBoard::EventDescriptions PaxBoard::c_evtDesc = {
    {16, "mc"}, {0, "t0"}, {1, "t1"}, {2, "t2"}, {3, "interlock"},
};

PaxBoard::PaxBoard(iapp::KavrelApplication& application, const bmc::Board* board, const EventDescriptions& events,
                   const ifeature::PaxTriggerGeneration::TrigConfigurations& triggers, const NodeOverrides* overrides,
                   bool backplane)
    : iapp::KavrelBoard(application, board)
{
    ISTD_TRACE_FNC("iboard::PaxBoard::PaxBoard(...)");
    m_clockInfo = RegisterObject<PaxIdSpecific>(c_clockInfoOffset, "clock_info");
    m_triggers = RegisterObject<ifeature::PaxTriggerGeneration>(c_triggersOffset, "triggers", triggers, overrides, backplane);
    m_clockManager = RegisterObject<McPll>(c_clockManagerOffset, "clk_mgr");
    m_clockController = RegisterObject<iapp::KavrelSpiBusController>(c_clockControllerOffset, "mc_clk_controller",
                                                                      c_clockControllerDevices, false);
    m_dacController = RegisterObject<iapp::KavrelSpiBusController>(c_dacControllerOffset, "mc_dac_controller",
                                                                   c_dacControllerDevices, false);
    m_clockDistributor = iapp::Create<iapp::CDCE72010>(*m_clockController, "CDCE72010_MC", c_chipId);
    m_dac = iapp::Create<iapp::DAC8552>(*m_dacController, "DAC8552", c_chipId);
    m_clockController->SetRegistryFlags(c_controllerFlags);
    m_dacController->SetRegistryFlags(c_controllerFlags);

    m_eventStream = std::make_unique<isig::KavrelEventStream>(
        GetDecoratedName("event"), board->CreateDeviceName(bmc::eEventDevice, 0), true, GetName());
    try {
        m_localTiming = iapp::Create<ifeature::LocalTiming>(*this, "local_timing", m_eventStream.get());
        m_events = iapp::Create<ifeature::Events>(*this, "events", m_eventStream.get(), events, nullptr);
    } catch (...) {
        // The children would otherwise outlive the stream they hold.
        _ReleaseEventStream();
        throw;
    }
}

PaxBoard::~PaxBoard()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " PaxBoard");
    _ReleaseEventStream();
    m_signalsNode.reset();
}

void PaxBoard::_ReleaseEventStream()
{
    if (!m_eventStream) {
        return;
    }
    m_eventStream->ShutDown();
    // The features hold the stream until their destructors: they go first.
    if (m_events != nullptr) {
        RemoveChild(m_events);
        m_events = nullptr;
    }
    if (m_localTiming != nullptr) {
        RemoveChild(m_localTiming);
        m_localTiming = nullptr;
    }
    m_eventStream.reset();
}

double PaxBoard::GetADCFrequency() const
{
    return static_cast<double>(m_clockInfo->GetADCFrequency());
}

uint16_t PaxBoard::FpgaSpiRead(uint16_t reg) const
{
    const chassis_ctl_fpgaread_rsp answer = Board()->FpgaSpiRead(reg);
    if (answer.status == 0) {
        return answer.Value();
    }
    istd::LogError("Board " + GetName() + ". ARM2SPI failure - 0x" + Hex(answer.status) + ". Reading register 0x" +
                   Hex(reg) + ".");
    throw istd::Exception("PAX board. Can not configure HW.");
}

void PaxBoard::FpgaSpiWrite(uint16_t reg, uint16_t value) const
{
    Board()->FpgaSpiWrite(reg, value);
}

bool PaxBoard::GetMCSrc(mc_srcEnum& source) const
{
    source = eMcSrcUndefined;
    const uint16_t value = FpgaSpiRead(c_clockSourceRegister);
    switch (value & c_mcSourceMask) {
    case c_mcSourceExternal:
        source = eMcSrcExternal;
        return true;
    case c_mcSourceDivOut:
        source = eMcSrcDivOUT;
        return true;
    default:
        istd::LogError("Board " + GetName() + " Wrong MC source configuration. Value = 0x" + Hex(value) + ".");
        return false;
    }
}

bool PaxBoard::GetMCCfg(mc_oscEnum& oscillator) const
{
    oscillator = eMcOscUndefined;
    const uint16_t control = FpgaSpiRead(c_clockControlRegister);
    const uint16_t source = FpgaSpiRead(c_clockSourceRegister);
    const uint16_t vcxo = control & c_vcxoControlMask;
    const uint16_t selection = source >> c_vcxoSelectShift & c_vcxoSelectMask;
    if (vcxo == c_vcxoControlA && selection == c_vcxoSelectA) {
        oscillator = eMcOscVcxoA;
        return true;
    }
    if (vcxo == c_vcxoControlB && selection == c_vcxoSelectB) {
        oscillator = eMcOscVcxoB;
        return true;
    }
    istd::LogError("Board " + GetName() + " Wrong VCXO configuration. CtrlVal = 0x" + Hex(control) + " SrcVal = 0x" +
                   Hex(source) + ".");
    return false;
}

bool PaxBoard::GetSCSrc(sc_srcEnum& source) const
{
    source = eScSrcUndefined;
    const uint16_t control = FpgaSpiRead(c_clockControlRegister);
    if ((control & c_scClockDisabled) != 0) {
        istd::LogError("Board " + GetName() + " Internal 10MHz SC clock not enabled. Value = 0x" + Hex(control) + ".");
        return false;
    }
    const uint16_t value = FpgaSpiRead(c_clockSourceRegister);
    if ((value & c_sysClkSel2) == 0) {
        istd::LogError("Board " + GetName() + " SysClkSel2 not set to internal 10MHz. Value = 0x" + Hex(value) + ".");
        return false;
    }
    source = (value & c_scSourceInternal) != 0 ? eScSrcInternal : eScSrcExternal;
    return true;
}

void PaxBoard::GetTrigPrescaler(uint32_t& prescaler)
{
    m_triggers->GetTriggerPrescaler(c_triggerChannel, prescaler);
}

void PaxBoard::SetTrigPrescaler(uint32_t prescaler)
{
    m_triggers->SetTriggerPrescaler(c_triggerChannel, prescaler);
}

void PaxBoard::GetTrigDebouncer(uint32_t& debouncer)
{
    m_triggers->GetTriggerDebouncer(c_triggerChannel, debouncer);
}

void PaxBoard::SetTrigDebouncer(uint32_t debouncer)
{
    m_triggers->SetTriggerDebouncer(c_triggerChannel, debouncer);
}

void PaxBoard::SetTrigSourceOff()
{
    m_triggers->SetTriggerSource(c_triggerChannel, ifeature::eTriggerSourceOff);
}

void PaxBoard::SetTrigSourceExt()
{
    m_triggers->SetTriggerSource(c_triggerChannel, ifeature::eTriggerSourceExternal);
}

void PaxBoard::CreateTrigEvent()
{
    ISTD_TRACE_FNC("void iboard::PaxBoard::CreateTrigEvent()");
    ifeature::TriggerSourceType old = ifeature::eTriggerSourceOff;
    // Restoring a source that was never read would switch the channel to whatever old holds.
    if (!m_triggers->GetTriggerSource(c_triggerChannel, old)) {
        ISTD_TRACE(1, GetName() << ": the source of trigger channel " << c_triggerChannel
                                << " cannot be read; no trigger event created.");
        return;
    }
    m_triggers->SetTriggerSource(c_triggerChannel, ifeature::eTriggerSourcePulse);
    if (old != ifeature::eTriggerSourcePulse) {
        m_triggers->SetTriggerSource(c_triggerChannel, old);
    }
}

void PaxBoard::ResetTriggerEventCounter()
{
    ISTD_TRACE_FNC("void iboard::PaxBoard::ResetTriggerEventCounter()");
    m_localTiming->DisableEvent(c_triggerEvent);
    m_eventStream->ResetEventCounter(c_triggerEvent);
    m_localTiming->EnableEvent(c_triggerEvent);
}

void PaxBoard::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iboard::PaxBoard::OnRegistryAdd(mci::TreeNodePtr&)");
    m_signalsNode = node->Add(mci::factory::Create<ireg::RegNode>("signals", 0));
    m_signalsNode->Add(mci::factory::Create<ireg::SignalNode>("event", m_eventStream.get()));
}

void PaxBoard::OnPostInit()
{
    ISTD_TRACE_FNC("void iboard::PaxBoard::OnPostInit()");
    ResetTriggerEventCounter();
}

void PaxBoard::OnPostConfig()
{
    ISTD_TRACE_FNC("void iboard::PaxBoard::OnPostConfig()");
}

void PaxBoard::OnShutdown()
{
    ISTD_TRACE_FNC("void iboard::PaxBoard::OnShutdown()");
    ISTD_TRACE(1, "shutting down event stream on timing board");
    if (m_eventStream) {
        m_eventStream->ShutDown();
    }
    ISTD_TRACE(1, "event stream on timing board shut down");
}

bool PaxBoard::OnQueryChild(const iapp::KavrelObject& child)
{
    if (dynamic_cast<const ifeature::PhaseLockedLoopBase*>(&child) != nullptr ||
        dynamic_cast<const ifeature::LocalTiming*>(&child) != nullptr ||
        dynamic_cast<const ifeature::Events*>(&child) != nullptr) {
        return true;
    }
    return iapp::KavrelBoard::OnQueryChild(child);
}

} // namespace iboard
