#include "iapp/features/tsm.h"

#include <iomanip>
#include <mutex>

#include "devio/reg_access.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_node.h"
#include "ireg/reg_reference_bit_node.h"
#include "ireg/validators.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

ISTD_ENUM_TABLE(ifeature::TsmPolarity_e, {ifeature::eTsmPositive, "Positive"}, {ifeature::eTsmNegative, "Negative"});

namespace ifeature {

namespace {

constexpr size_t c_durationOffset = 0x00;
constexpr size_t c_offsetOffset = 0x08;
constexpr size_t c_controlOffset = 0x10;

constexpr uint32_t c_maxField = 0x1FFFFFF;
constexpr uint64_t c_enabledBit = 0x2;
constexpr uint64_t c_continuousBit = 0x4;

constexpr uint32_t c_initialDuration = 1048576;
constexpr uint64_t c_initialControl = 0x2;

enum Row_e { eRowDuration = 0, eRowOffset = 1, eRowPolarity = 2, eRowEnabled = 3, eRowContinuous = 4 };

using Range = ireg::expr::Range<uint32_t, uint32_t>;

// Writes value - bias into the word when it lies in the field, else throws "<what> value <v>
// is out of valid range [<min>:<max>]".
void WriteBiased(volatile uint64_t* word, uint32_t value, uint32_t bias, const char* what, uint32_t maximum)
{
    const uint32_t field = value - bias; // 0 - 1 wraps beyond the field
    if (field > c_maxField) {
        throw istd::Exception(std::string(what) + " value " + std::to_string(value) + " is out of valid range [" +
                                  std::to_string(bias) + ":" + std::to_string(maximum) + "]",
                              true);
    }
    devio::Write(word, uint64_t(field));
}

} // namespace

const Tsm::RegNodeProperties Tsm::c_defRegProperties = {{
    {"duration", 10},
    {"offset", 10},
    {"polarity", 78},
    {"enabled", 78},
    {"continuous", 78},
}};

Tsm::Tsm(iapp::KavrelBoard& board, volatile iapp::FPGAMem_t* window, const std::string& name,
         const std::vector<RegNodeConfiguration>* overrides)
    : KavrelFpgaObject(board, name),
      m_board(board),
      m_window(window),
      m_nodeProperties(ApplyOverrides(c_defRegProperties, overrides, name))
{
    ISTD_TRACE_FNC("ifeature::Tsm::Tsm(iapp::KavrelBoard&, volatile FPGAMem_t*, const std::string&, "
                   "const std::vector<RegNodeConfiguration>*)");
    _SetDuration(c_initialDuration);
    _SetOffset(c_minOffset);
    devio::Write(_Word(c_controlOffset), c_initialControl);
}

Tsm::~Tsm()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " Tsm");
}

volatile uint64_t* Tsm::_Word(size_t offset) const
{
    return reinterpret_cast<volatile uint64_t*>(m_window + offset);
}

bool Tsm::GetDuration(uint32_t& duration) const
{
    duration = static_cast<uint32_t>(devio::Read(_Word(c_durationOffset))) + c_minDuration;
    return true;
}

bool Tsm::GetOffset(uint32_t& offset) const
{
    offset = static_cast<uint32_t>(devio::Read(_Word(c_offsetOffset))) + c_minOffset;
    return true;
}

bool Tsm::_SetDuration(const uint32_t& duration)
{
    WriteBiased(_Word(c_durationOffset), duration, c_minDuration, "Duration", c_maxDuration);
    m_board.FlushRegisters(m_window);
    return true;
}

bool Tsm::_SetOffset(const uint32_t& offset)
{
    WriteBiased(_Word(c_offsetOffset), offset, c_minOffset, "Offset", c_maxOffset);
    m_board.FlushRegisters(m_window);
    return true;
}

bool Tsm::_SetByState(const mci::TreeNodePtr& node, const uint32_t& value, bool (Tsm::*direct)(const uint32_t&))
{
    const int state = GetApplicationState();
    if (state == 4) {
        // The nodes are read-only for clients (0x0A): the program's set skips that test, but
        // not the constant one. A refusal reaches the caller as it is (a ValidationError stays
        // one) and the register keeps its value.
        if (auto* regNode = dynamic_cast<ireg::RegNode*>(node.get())) {
            regNode->SetValueOrThrow(value, 0);
            return true;
        }
        return (this->*direct)(value);
    }
    if (state >= 1 && state <= 3) {
        return (this->*direct)(value);
    }
    throw istd::Exception("Internal error: unsupported TSM setting", true);
}

bool Tsm::SetDuration(const uint32_t& duration)
{
    return _SetByState(m_durationNode, duration, &Tsm::_SetDuration);
}

bool Tsm::SetOffset(const uint32_t& offset)
{
    return _SetByState(m_offsetNode, offset, &Tsm::_SetOffset);
}

void Tsm::SetMaxOffset(const uint32_t& maximum)
{
    auto* node = dynamic_cast<ireg::RegNode*>(m_offsetNode.get());
    if (node == nullptr) {
        throw istd::Exception(GetName() + ": SetMaxOffset needs the offset node, which the registry has not made yet",
                              true);
    }
    node->SetValidator(ireg::Expr<Range>(c_minOffset, maximum));
}

void Tsm::_UpdateControl(uint64_t mask, bool set)
{
    volatile uint64_t* word = _Word(c_controlOffset);
    // The bit nodes over the control word write under the same lock.
    std::lock_guard<std::mutex> lock(ireg::WordLock(word));
    const uint64_t control = devio::Read(word);
    devio::Write(word, set ? control | mask : control & ~mask);
}

void Tsm::SetContinuous(const bool& continuous)
{
    if (m_continuousNode) {
        m_continuousNode->Set(continuous, 0, mci::c_noRelPath);
        return;
    }
    if (!continuous) {
        _UpdateControl(c_continuousBit, false);
        return;
    }
    ISTD_TRACE(1, "synth_TMS 0x" << std::hex << devio::Read(_Word(c_controlOffset)));
    _UpdateControl(c_continuousBit, true);
    ISTD_TRACE(1, "0x" << std::hex << devio::Read(_Word(c_controlOffset)));
}

void Tsm::Enable()
{
    _UpdateControl(c_enabledBit, true);
    if (m_enabledNode) {
        m_enabledNode->Emit();
    }
}

void Tsm::Disable()
{
    _UpdateControl(c_enabledBit, false);
    if (m_enabledNode) {
        m_enabledNode->Emit();
    }
}

void Tsm::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void ifeature::Tsm::OnRegistryAdd(mci::TreeNodePtr&)");
    const RegNodeProperties& rows = m_nodeProperties;
    volatile uint64_t& control = *_Word(c_controlOffset);
    m_durationNode = node->Add(mci::factory::Create<ireg::RegFncNode<uint32_t>>(
        ireg::Expr<Range>(c_minDuration, c_maxDuration), rows[eRowDuration].name, this, &Tsm::_SetDuration,
        &Tsm::GetDuration, rows[eRowDuration].flags));
    m_offsetNode = node->Add(mci::factory::Create<ireg::RegFncNode<uint32_t>>(
        ireg::Expr<Range>(c_minOffset, c_maxOffset), rows[eRowOffset].name, this, &Tsm::_SetOffset, &Tsm::GetOffset,
        rows[eRowOffset].flags));
    node->Add(mci::factory::Create<ireg::RegReferenceEnumBitNode<TsmPolarity_e, volatile uint64_t>>(
        rows[eRowPolarity].name, control, 0u, 1u, rows[eRowPolarity].flags));
    m_enabledNode = node->Add(mci::factory::Create<ireg::RegReferenceBitNode<bool, volatile uint64_t>>(
        rows[eRowEnabled].name, control, 1u, 1u, rows[eRowEnabled].flags));
    m_continuousNode = node->Add(mci::factory::Create<ireg::RegReferenceBitNode<bool, volatile uint64_t>>(
        rows[eRowContinuous].name, control, 2u, 1u, rows[eRowContinuous].flags));
}

} // namespace ifeature
