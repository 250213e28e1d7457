#include "iapp/features/pax_trigger_generation.h"

#include <mutex>

#include "devio/reg_access.h"
#include "ireg/reg_node.h"
#include "ireg/reg_reference_bit_node.h"
#include "ireg/reg_reference_node.h"
#include "ireg/reg_value_node.h"
#include "ireg/validators.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

ISTD_ENUM_TABLE(ifeature::TriggerSourceType, {ifeature::eTriggerSourceOff, "Off"},
                {ifeature::eTriggerSourceExternal, "External"}, {ifeature::eTriggerSourceInternal, "Internal"},
                {ifeature::eTriggerSourcePulse, "Pulse"}, {ifeature::eTriggerSourceLXI, "LXI"},
                {ifeature::eTriggerSourceRTC, "RTC"});
ISTD_ENUM_TABLE(ifeature::BackplaneLineT0_e, {ifeature::eBackplaneLineT0, "T0"}, {ifeature::eBackplaneLineMC, "MC"});

namespace ifeature {

namespace {

constexpr size_t c_channels = 4;
constexpr size_t c_channelBlock = 0x20;
constexpr size_t c_sourceOffset = 0x00;
constexpr size_t c_prescalerOffset = 0x08;
constexpr size_t c_codeOffset = 0x0C;
constexpr size_t c_debouncerOffset = 0x10;
constexpr size_t c_ignoredOffset = 0x18;
constexpr size_t c_externalIgnoredOffset = 0x1C;
constexpr size_t c_lxiOffset = 0xA0;
constexpr size_t c_lemoOffset = 0xA8;

constexpr uint32_t c_lxiMask = 0xF;
constexpr unsigned c_t0Shift = 16;
constexpr uint32_t c_t0Mask = 0x7u << c_t0Shift;

constexpr uint32_t c_defaultCode = 15;
constexpr uint32_t c_defaultPrescaler = 50000;
constexpr uint32_t c_defaultDebouncer = 100000;

constexpr mci::Flags c_hidden = mci::enums::eHidden;
constexpr mci::Flags c_clientWrite = mci::enums::eWritable;

using SourceNode = ireg::RegReferenceEnumBitNode<TriggerSourceType, volatile uint64_t>;
using WordNode = ireg::RegReferenceNode<uint32_t, volatile uint32_t>;
using CodeNode = ireg::RegReferenceBitNode<uint32_t, volatile uint32_t>;
using T0Node = ireg::RegReferenceEnumBitNode<BackplaneLineT0_e, volatile uint32_t>;

// The sources of the "mc" channel: Off, External and RTC, in every form a source reaches a
// validator: the 64-bit number of the program and of named writes, the 32-bit number of a
// client, and a text stored as it is (a loaded configuration).
class McSources : public ireg::expr::Set<int64_t, int64_t> {
public:
    McSources() : ireg::expr::Set<int64_t, int64_t>(eTriggerSourceOff, eTriggerSourceExternal, eTriggerSourceRTC) {}

    using ireg::expr::Set<int64_t, int64_t>::OnEvaluate;
    bool OnEvaluate(const int32_t& value) const override { return OnEvaluate(int64_t(value)); }
    bool OnEvaluate(const std::string& value) const override
    {
        return OnEvaluate(int64_t(istd::EnumCast<TriggerSourceType>(value)));
    }
};

} // namespace

const PaxTriggerGeneration::TrigConfigurations PaxTriggerGeneration::c_trigConfigurations = {{
    {"mc", true, 3},
    {"t0", true, 0},
    {"t1", true, 1},
    {"t2", true, 2},
}};

const PaxTriggerGeneration::RegNodeProperties PaxTriggerGeneration::c_defRegNodeProperties = {{
    {"name", 2},
    {"source", 6},
    {"prescaler", 78},
    {"code", 14},
    {"debouncer", 70},
    {"ignored_counter", 2},
    {"external_ignored_counter", 2},
}};

PaxTriggerGeneration::PaxTriggerGeneration(iapp::KavrelBoard& board, volatile iapp::FPGAMem_t* window,
                                           const std::string& name, const TrigConfigurations& configurations,
                                           const std::vector<RegNodeConfiguration>* overrides, bool backplane)
    : KavrelFpgaObject(board, name),
      m_window(window),
      m_trigConfigurations(configurations),
      m_nodeProperties(ApplyOverrides(c_defRegNodeProperties, overrides, name)),
      m_backplane(backplane)
{
    ISTD_TRACE_FNC("ifeature::PaxTriggerGeneration::PaxTriggerGeneration(iapp::KavrelBoard&, volatile FPGAMem_t*, "
                   "const std::string&, const TrigConfigurations&, const std::vector<RegNodeConfiguration>*, bool)");
    // Checked before the hardware is touched: a channel outside the window would write past it.
    bool channel3 = false;
    for (const TrigConfiguration& configuration : m_trigConfigurations) {
        const std::string trigger = configuration.name != nullptr ? configuration.name : "";
        if (configuration.name == nullptr || configuration.channel >= c_channels) {
            throw istd::Exception(name + ": trigger " + trigger + " has channel " +
                                      std::to_string(configuration.channel) + ", not 0-3",
                                  true);
        }
        channel3 = channel3 || configuration.channel == 3;
    }
    if (!channel3) {
        throw istd::Exception(name + ": no trigger on channel 3", true);
    }

    for (size_t channel = 0; channel < c_channels; ++channel) {
        const size_t block = channel * c_channelBlock;
        devio::Write(_Word64(block + c_sourceOffset), uint64_t(eTriggerSourceOff));
        devio::Write(_Word32(block + c_codeOffset), c_defaultCode);
        if (devio::Read(_Word32(block + c_prescalerOffset)) == 0) {
            devio::Write(_Word32(block + c_prescalerOffset), c_defaultPrescaler);
        }
        if (devio::Read(_Word32(block + c_debouncerOffset)) == 0) {
            devio::Write(_Word32(block + c_debouncerOffset), c_defaultDebouncer);
        }
    }

    for (const TrigConfiguration& configuration : m_trigConfigurations) {
        m_triggerNodes[configuration.channel] = _MakeTrigger(configuration);
    }

    if (auto source = GetChannelNode(3, eRowSource)) {
        source->SetValidator(ireg::Expr<McSources>());
    }

    devio::Write(_Word32(c_lxiOffset), c_lxiMask);
}

PaxTriggerGeneration::~PaxTriggerGeneration()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " PaxTriggerGeneration");
}

volatile uint32_t* PaxTriggerGeneration::_Word32(size_t offset) const
{
    return reinterpret_cast<volatile uint32_t*>(m_window + offset);
}

volatile uint64_t* PaxTriggerGeneration::_Word64(size_t offset) const
{
    return reinterpret_cast<volatile uint64_t*>(m_window + offset);
}

mci::TreeNodePtr PaxTriggerGeneration::_MakeTrigger(const TrigConfiguration& configuration)
{
    const size_t block = configuration.channel * c_channelBlock;
    const RegNodeProperties& rows = m_nodeProperties;
    mci::TreeNodePtr trigger =
        mci::factory::Create<ireg::RegNode>(configuration.name, configuration.enabled ? mci::Flags(0) : c_hidden);
    trigger->Add(mci::factory::Create<ireg::RegValueNode<std::string>>(
        rows[eRowName].name, std::string(configuration.name), rows[eRowName].flags));
    trigger->Add(mci::factory::Create<SourceNode>(rows[eRowSource].name, *_Word64(block + c_sourceOffset), 0u, 3u,
                                                  rows[eRowSource].flags));
    trigger->Add(mci::factory::Create<WordNode>(rows[eRowPrescaler].name, *_Word32(block + c_prescalerOffset),
                                                rows[eRowPrescaler].flags));
    trigger->Add(mci::factory::Create<WordNode>(rows[eRowDebouncer].name, *_Word32(block + c_debouncerOffset),
                                                rows[eRowDebouncer].flags));
    // The counters are the FPGA's: clients never write them, whatever the rows say.
    trigger->Add(mci::factory::Create<WordNode>(rows[eRowIgnoredCounter].name, *_Word32(block + c_ignoredOffset),
                                                rows[eRowIgnoredCounter].flags & ~c_clientWrite));
    trigger->Add(mci::factory::Create<WordNode>(rows[eRowExternalIgnoredCounter].name,
                                                *_Word32(block + c_externalIgnoredOffset),
                                                rows[eRowExternalIgnoredCounter].flags & ~c_clientWrite));
    trigger->Add(mci::factory::Create<CodeNode>(rows[eRowCode].name, *_Word32(block + c_codeOffset), 0u, 4u,
                                                rows[eRowCode].flags));
    return trigger;
}

mci::TreeNodePtr PaxTriggerGeneration::GetTriggerNode(size_t channel) const
{
    return channel < c_channels ? m_triggerNodes[channel] : mci::TreeNodePtr();
}

std::shared_ptr<ireg::RegNode> PaxTriggerGeneration::GetChannelNode(size_t channel, Row_e row) const
{
    const mci::TreeNodePtr trigger = GetTriggerNode(channel);
    if (!trigger || static_cast<size_t>(row) >= m_nodeProperties.size()) {
        return nullptr;
    }
    return std::dynamic_pointer_cast<ireg::RegNode>(trigger->GetNode(m_nodeProperties[row].name));
}

bool PaxTriggerGeneration::_GetChannelValue(size_t channel, Row_e row, uint32_t& value)
{
    const std::shared_ptr<ireg::RegNode> node = GetChannelNode(channel, row);
    if (!node) {
        return false;
    }
    node->Get(value, 0, mci::c_noRelPath);
    return true;
}

bool PaxTriggerGeneration::_SetChannelValue(size_t channel, Row_e row, const uint32_t& value)
{
    const std::shared_ptr<ireg::RegNode> node = GetChannelNode(channel, row);
    if (!node || !node->SetValue(value, 0)) {
        return false;
    }
    iapp::KavrelBoard::FlushRegisters(m_window);
    return true;
}

bool PaxTriggerGeneration::GetTriggerSource(size_t channel, TriggerSourceType& source)
{
    const std::shared_ptr<ireg::RegNode> node = GetChannelNode(channel, eRowSource);
    int64_t number = 0;
    // A failed read (a code without a name) must not hand out a source: the caller would
    // restore it later.
    if (!node || !node->GetValue(number, 0)) {
        return false;
    }
    source = static_cast<TriggerSourceType>(number);
    return true;
}

bool PaxTriggerGeneration::SetTriggerSource(size_t channel, const TriggerSourceType& source)
{
    const std::shared_ptr<ireg::RegNode> node = GetChannelNode(channel, eRowSource);
    if (!node || !node->SetValue(int64_t(source), 0)) {
        return false;
    }
    iapp::KavrelBoard::FlushRegisters(m_window);
    return true;
}

bool PaxTriggerGeneration::GetTriggerPrescaler(size_t channel, uint32_t& prescaler)
{
    return _GetChannelValue(channel, eRowPrescaler, prescaler);
}

bool PaxTriggerGeneration::SetTriggerPrescaler(size_t channel, const uint32_t& prescaler)
{
    return _SetChannelValue(channel, eRowPrescaler, prescaler);
}

bool PaxTriggerGeneration::GetTriggerDebouncer(size_t channel, uint32_t& debouncer)
{
    return _GetChannelValue(channel, eRowDebouncer, debouncer);
}

bool PaxTriggerGeneration::SetTriggerDebouncer(size_t channel, const uint32_t& debouncer)
{
    return _SetChannelValue(channel, eRowDebouncer, debouncer);
}

bool PaxTriggerGeneration::GetTriggerCode(size_t channel, uint32_t& code)
{
    return _GetChannelValue(channel, eRowCode, code);
}

bool PaxTriggerGeneration::SetTriggerCode(size_t channel, const uint32_t& code)
{
    return _SetChannelValue(channel, eRowCode, code);
}

bool PaxTriggerGeneration::GetTriggerIgnoredCounter(size_t channel, uint32_t& counter)
{
    return _GetChannelValue(channel, eRowIgnoredCounter, counter);
}

bool PaxTriggerGeneration::GetLemoControl(uint32_t& value) const
{
    value = static_cast<uint32_t>(devio::Read(_Word64(c_lemoOffset)));
    return true;
}

bool PaxTriggerGeneration::SetLemoControl(const uint32_t& value)
{
    devio::Write(_Word64(c_lemoOffset), uint64_t(value));
    return true;
}

bool PaxTriggerGeneration::GetLXIDirection(uint32_t& value) const
{
    value = devio::Read(_Word32(c_lxiOffset)) & c_lxiMask;
    return true;
}

bool PaxTriggerGeneration::SetLXIDirection(const uint32_t& value)
{
    volatile uint32_t* word = _Word32(c_lxiOffset);
    // The T0 node writes the same word's bits 16-18 under this lock.
    std::lock_guard<std::mutex> lock(ireg::WordLock(word));
    devio::Write(word, (devio::Read(word) & ~c_lxiMask) | (value & c_lxiMask));
    return true;
}

bool PaxTriggerGeneration::SetBackplaneT0Switch(const BackplaneLineT0_e& line)
{
    if (!m_backplane) {
        ISTD_TRACE(1, "Internal Error while trying to set backplane trigger switch which does not exist.");
        return false;
    }
    if (m_t0Node) {
        m_t0Node->Set(int32_t(line), 0, mci::c_noRelPath);
        return true;
    }
    volatile uint32_t* word = _Word32(c_lxiOffset);
    const uint32_t bits = (static_cast<uint32_t>(line) << c_t0Shift) & c_t0Mask;
    uint32_t readBack = 0;
    {
        std::lock_guard<std::mutex> lock(ireg::WordLock(word));
        devio::Write(word, (devio::Read(word) & ~c_t0Mask) | bits);
        readBack = devio::Read(word);
    }
    if ((readBack & c_t0Mask) != bits) {
        ISTD_TRACE(1, "Error while setting Backplane trigger switch, probably it does not exist.");
        return false;
    }
    return true;
}

void PaxTriggerGeneration::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void ifeature::PaxTriggerGeneration::OnRegistryAdd(mci::TreeNodePtr&)");
    for (const TrigConfiguration& configuration : m_trigConfigurations) {
        node->Add(m_triggerNodes[configuration.channel]);
    }
    if (m_backplane) {
        mci::TreeNodePtr backplane =
            node->Add(mci::factory::Create<ireg::RegNode>("backplane_trigger_switch", c_hidden));
        m_t0Node = backplane->Add(mci::factory::Create<T0Node>("T0", *_Word32(c_lxiOffset), c_t0Shift, 3u));
    }
}

void PaxTriggerGeneration::OnPreConfig()
{
    SetTriggerSource(2, eTriggerSourceExternal);
}

} // namespace ifeature
