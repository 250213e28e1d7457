#include "iapp/boards/zolt/zolt_board.h"

#include "iapp/kavrel_i2c_bus_controller.h"
#include "iapp/kavrel_i2c_bus_device_SI57x.h"
#include "ireg/reg_reference_node.h"
#include "ireg/signal_node.h"
#include "ireg/validators.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace iboard {

namespace {

constexpr mci::Flags c_controllerFlags = 0x40;
constexpr mci::Flags c_sfpFreqFlags = 0x0A;
constexpr bmc::BusDeviceId c_sfpId = 0;

// Adds the node when it was made (its Init may refuse); the node in the tree, or none.
mci::TreeNodePtr AddMade(mci::TreeNodePtr& parent, const mci::TreeNodePtr& child)
{
    return child ? parent->Add(child) : mci::TreeNodePtr();
}

} // namespace

ZoltBoard::ZoltBoard(iapp::KavrelApplication& application, const bmc::Board* board, const EventDescriptions& events,
                     const ifeature::PaxTriggerGeneration::TrigConfigurations& triggers, const NodeOverrides* overrides)
    : PaxBoard(application, board, events, triggers, overrides, true)
{
    ISTD_TRACE_FNC("iboard::ZoltBoard::ZoltBoard(...)");
    m_i2cController = RegisterObject<iapp::KavrelI2cBusController>(c_i2cOffset, "i2c_controller", c_i2cDevices);
    m_i2cController->SetRegistryFlags(c_controllerFlags);
    m_sfpOscillator = iapp::Create<iapp::SI57x>(*m_i2cController, "SI57xSFP", c_sfpId, c_sfpAddress, c_sfpBus);
    m_stream = std::make_unique<Stream>(GetDecoratedName("zolt"), GetName(),
                                        board->CreateDeviceName(bmc::eStreamDevice, 0), c_streamGroup);
}

ZoltBoard::~ZoltBoard()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " ZoltBoard");
    m_stream.reset();
}

bool ZoltBoard::SetSFPFreq(const uint32_t& freq)
{
    ISTD_TRACE_FNC("bool iboard::ZoltBoard::SetSFPFreq(const uint32_t&)");
    bmc::Si57x& driver = m_sfpOscillator->Driver();
    try {
        if (!driver.CheckVcxoPresence()) {
            ISTD_TRACE(1, "SFP VCXO NOT present!");
            return false;
        }
    } catch (const istd::Exception& e) {
        // An oscillator that does not acknowledge: start-up goes on without it.
        ISTD_TRACE(1, "SFP VCXO NOT present! (" << e.what() << ")");
        return false;
    }
    try {
        driver.SetVcxoFreq(freq);
        driver.SetDeviceState(bmc::eBusDeviceEnabled);
    } catch (const istd::Exception& e) {
        ISTD_TRACE(1, "SFP VCXO not programmed for " << freq << " Hz: " << e.what());
        return false;
    }
    // Its reference clock changed.
    if (const std::shared_ptr<MultiGigabitTranscieverNode> transceiver = m_transceiver.lock()) {
        transceiver->Reset();
    }
    return true;
}

bool ZoltBoard::SetBackplaneT0Switch(const ifeature::BackplaneLineT0_e& line)
{
    return GetTriggerGeneration()->SetBackplaneT0Switch(line);
}

void ZoltBoard::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iboard::ZoltBoard::OnRegistryAdd(mci::TreeNodePtr&)");
    PaxBoard::OnRegistryAdd(node);
    if (volatile iapp::FPGAMem_t* window = MapRegisters(static_cast<ssize_t>(c_rtcOffset), static_cast<ssize_t>(4 * RelevantTriggerCodingNode::Size()))) {
        AddMade(node, mci::factory::Create<RelevantTriggerCodingNode>("rtc", window));
    }
    if (volatile iapp::FPGAMem_t* window = MapRegisters(static_cast<ssize_t>(c_ledsOffset), static_cast<ssize_t>(ZoltLedsNode::Size()))) {
        AddMade(node, mci::factory::Create<ZoltLedsNode>("leds", window));
    }
    if (volatile iapp::FPGAMem_t* window = MapRegisters(static_cast<ssize_t>(c_mgtOffset), static_cast<ssize_t>(MultiGigabitTranscieverNode::Size()))) {
        m_transceiver = std::dynamic_pointer_cast<MultiGigabitTranscieverNode>(
            AddMade(node, mci::factory::Create<MultiGigabitTranscieverNode>("mgt", window)));
    }
    AddMade(node, mci::factory::Create<ireg::RegReferenceNode<uint32_t, uint32_t>>(
        ireg::Expr<ireg::expr::Range<uint32_t, uint32_t>>(c_minSfpFreq, c_maxSfpFreq), "sfp_freq", m_sfpFreq,
        c_sfpFreqFlags));
    mci::TreeNodePtr signals = GetSignalsNode();
    AddMade(signals, mci::factory::Create<ireg::SignalNode>("zolt", m_stream.get()));
}

void ZoltBoard::OnPostConfig()
{
    ISTD_TRACE_FNC("void iboard::ZoltBoard::OnPostConfig()");
    const uint32_t freq = m_sfpFreq;
    if (SetSFPFreq(freq)) {
        ISTD_TRACE(2, "SFP frequency set to: " << freq << ".");
    }
}

void ZoltBoard::OnShutdown()
{
    ISTD_TRACE_FNC("void iboard::ZoltBoard::OnShutdown()");
    ISTD_TRACE(1, "shutting down trigger-code stream on event-receiver board");
    if (m_stream) {
        m_stream->ShutDown();
    }
    PaxBoard::OnShutdown();
}

} // namespace iboard
